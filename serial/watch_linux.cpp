// Watching for new terminal devices on Linux, through inotify: on /dev (a new node counts when
// sysfs lists it as a serial device), or with --in on a folder of the user's (any new entry that
// is a terminal counts). That folder may not exist yet (udev makes /dev/serial/by-id with the
// first USB serial device): then the nearest folder above it that exists is watched until it
// does.
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "serial/signals_linux.h"
#include "serial/station.h"
#include "serial/sysfs_ports.h"

namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kAboveEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

int inotifyFd = -1;
int folderWatch = -1;  // the watched folder itself
int aboveWatch = -1;   // a folder above it, while it does not exist

// Reads every event queued so far, forgetting the folder's watch when the folder went away.
void Drain() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t size = read(inotifyFd, buffer, sizeof buffer);
        if (size <= 0) {
            return;  // EAGAIN: nothing more
        }
        for (char* at = buffer; at < buffer + size;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            if (event->wd == folderWatch && (event->mask & (IN_IGNORED | IN_MOVE_SELF))) {
                inotify_rm_watch(inotifyFd, folderWatch);
                folderWatch = -1;
            }
            if (event->wd == aboveWatch && (event->mask & IN_IGNORED)) {
                aboveWatch = -1;
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
}

// Watches `folder`, or while it does not exist the nearest folder above it that does.
bool WatchFolder(const std::string& folder) {
    if (folderWatch < 0) {
        folderWatch = inotify_add_watch(inotifyFd, folder.c_str(), kFolderEvents);
    }
    if (folderWatch >= 0) {
        if (aboveWatch >= 0) {
            inotify_rm_watch(inotifyFd, aboveWatch);
            aboveWatch = -1;
        }
        return true;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
        return false;
    }
    std::string above = folder;
    while (above.size() > 1) {
        size_t slash = above.rfind('/');
        above = slash == 0 ? "/" : above.substr(0, slash);
        int watch = inotify_add_watch(inotifyFd, above.c_str(), kAboveEvents);
        if (watch >= 0) {
            if (aboveWatch >= 0 && aboveWatch != watch) {
                inotify_rm_watch(inotifyFd, aboveWatch);
            }
            aboveWatch = watch;
            return true;
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            return false;
        }
    }
    return false;
}

// `place` as an absolute path without a trailing slash, resolved against the working folder at
// the first call and kept: the walk up to a folder that exists ends at "/". Empty when the
// working folder cannot be read.
std::string WatchedFolder(const char* place) {
    static std::string folder;
    if (folder.empty()) {
        folder = place;
        if (folder[0] != '/') {
            char here[PATH_MAX];
            if (!getcwd(here, sizeof here)) {
                return folder = "";
            }
            folder = std::string(here) + "/" + folder;
        }
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
    }
    return folder;
}

// The entries of `folder` that are ports (serial devices and ptys), in natural order.
void ListTerminals(const SysRoots& roots, const std::string& folder,
                   std::vector<PortEntry>* ports) {
    std::vector<std::string> names;
    if (DIR* entries = opendir(folder.c_str())) {
        while (dirent* entry = readdir(entries)) {
            if (entry->d_name[0] != '.') {
                names.push_back(entry->d_name);
            }
        }
        closedir(entries);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
        PortEntry entry;
        entry.port = folder + "/" + name;
        struct stat st;
        if (stat(entry.port.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) ||
            !IsPortDevice(roots, st.st_rdev)) {
            continue;
        }
        entry.key = DeviceKey(st.st_rdev);
        entry.tags.push_back(name);
        std::string tty = TtyName(roots, st.st_rdev);
        if (!tty.empty()) {
            DescribeTty(roots, tty, &entry);
        }
        ports->push_back(entry);
    }
}

}  // namespace

bool ArmWatch(const char* place, std::vector<PortEntry>* ports, const char** why) {
    SysRoots roots;
    if (inotifyFd < 0) {
        inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd < 0) {
            *why = "cannot watch for new ports (no inotify)";
            return false;
        }
    }
    Drain();
    std::string folder = WatchedFolder(place ? place : roots.dev.c_str());
    if (folder.empty()) {
        *why = "cannot tell the working folder, which that folder is relative to";
        return false;
    }
    if (!WatchFolder(folder)) {
        *why = place ? "cannot watch that folder or any folder above it"
                     : "cannot watch /dev for new ports";
        return false;
    }
    if (!place) {
        if (!ListTtys(roots, true, ports)) {
            *why = "cannot read /sys/class/tty";
            return false;
        }
    } else if (folderWatch >= 0) {
        ListTerminals(roots, folder, ports);
    }
    return true;
}

WatchWake WaitForChange() {
    if (Interrupted()) {
        return WatchWake::Interrupted;
    }
    for (;;) {
        pollfd wanted[4] = {{inotifyFd, POLLIN, 0},
                            {InterruptFd(), POLLIN, 0},
                            {EndFd(), POLLIN, 0},
                            {TaskEndFd(), POLLIN, 0}};
        int ready = poll(wanted, 4, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return WatchWake::Failed;
        }
        if ((wanted[1].revents || wanted[2].revents) && Interrupted()) {
            return WatchWake::Interrupted;
        }
        if (wanted[0].revents & POLLIN) {
            return WatchWake::Changed;
        }
        if (wanted[0].revents) {
            return WatchWake::Failed;
        }
        uint64_t ended = 0;
        if (wanted[3].revents && read(TaskEndFd(), &ended, sizeof ended) > 0) {
            return WatchWake::TaskEnded;
        }
    }
}

void StationDone() {
    // Nothing waits for the program here: a closed terminal's SIGHUP is read like any interrupt.
}
