#include "serial/sysfs_ports.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Pseudo-terminal slaves: UNIX98_PTY_SLAVE_MAJOR and the seven majors after it.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
// How far above a tty's device its USB device may sit (port, interface, device).
constexpr int kUsbLevels = 4;

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string LinkTarget(const std::string& path) {
    char target[PATH_MAX];
    ssize_t size = readlink(path.c_str(), target, sizeof target - 1);
    return size > 0 ? std::string(target, static_cast<size_t>(size)) : std::string();
}

// The first line of a sysfs attribute, without its line end; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string* value) {
    FILE* file = std::fopen(path.c_str(), "re");
    if (!file) {
        return false;
    }
    char line[256];
    bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) {
        return false;
    }
    *value = line;
    while (!value->empty() && (value->back() == '\n' || value->back() == ' ')) {
        value->pop_back();
    }
    return true;
}

std::vector<std::string> FolderEntries(const std::string& path, bool* readable) {
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (readable) {
        *readable = folder != nullptr;
    }
    if (!folder) {
        return names;
    }
    for (;;) {
        errno = 0;
        dirent* entry = readdir(folder);
        if (!entry) {
            if (readable && errno != 0) {
                *readable = false;  // failed part-way: the names after it are unknown
            }
            break;
        }
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    closedir(folder);
    return names;
}

std::string CharDeviceLink(const SysRoots& roots, dev_t device) {
    return roots.sys + "/dev/char/" + DeviceKey(device);
}

bool IsSerialDevice(const SysRoots& roots, const std::string& name) {
    std::string entry = roots.sys + "/class/tty/" + name;
    struct stat st;
    if (lstat((entry + "/device").c_str(), &st) != 0) {
        return false;  // ptys, virtual consoles, the console
    }
    std::string type;
    return !(ReadAttribute(entry + "/type", &type) && type == "0");
}

void AddFact(PortEntry* entry, const char* name, const std::string& value) {
    if (!value.empty()) {
        entry->facts.emplace_back(name, value);
    }
}

}  // namespace

std::string DeviceKey(dev_t device) {
    char key[32];
    std::snprintf(key, sizeof key, "%u:%u", major(device), minor(device));
    return key;
}

bool IsPortDevice(const SysRoots& roots, dev_t device) {
    if (major(device) >= kPtySlaveMajorFirst && major(device) <= kPtySlaveMajorLast) {
        return true;
    }
    std::string subsystem = RealPath(CharDeviceLink(roots, device) + "/subsystem");
    return !subsystem.empty() && BaseName(subsystem) == "tty" &&
           IsSerialDevice(roots, TtyName(roots, device));
}

std::string TtyName(const SysRoots& roots, dev_t device) {
    std::string path = RealPath(CharDeviceLink(roots, device));
    return path.empty() ? path : BaseName(path);
}

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t endA = i, endB = j;
            while (endA < a.size() && digit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && digit(b[endB])) {
                ++endB;
            }
            // Leading zeros aside, the longer run of digits is the larger number.
            size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0') {
                ++startA;
            }
            while (startB + 1 < endB && b[startB] == '0') {
                ++startB;
            }
            std::string numberA = a.substr(startA, endA - startA);
            std::string numberB = b.substr(startB, endB - startB);
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (numberA != numberB) {
                return numberA < numberB;
            }
            i = endA;
            j = endB;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool ListTtys(const SysRoots& roots, bool needNode, std::vector<PortEntry>* ports) {
    bool readable = false;
    std::vector<std::string> names = FolderEntries(roots.sys + "/class/tty", &readable);
    if (!readable) {
        return false;
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
        if (!IsSerialDevice(roots, name)) {
            continue;
        }
        PortEntry entry;
        entry.port = roots.dev + "/" + name;
        struct stat st;
        if (needNode && lstat(entry.port.c_str(), &st) != 0) {
            continue;
        }
        if (!ReadAttribute(roots.sys + "/class/tty/" + name + "/dev", &entry.key)) {
            entry.key = entry.port;
        }
        DescribeTty(roots, name, &entry);
        ports->push_back(entry);
    }
    return true;
}

void DescribeTty(const SysRoots& roots, const std::string& name, PortEntry* entry) {
    std::string device = RealPath(roots.sys + "/class/tty/" + name + "/device");
    std::string driver = device.empty() ? "" : BaseName(LinkTarget(device + "/driver"));
    entry->tags.push_back(name);
    if (!driver.empty()) {
        entry->tags.push_back(driver);
    }
    AddFact(entry, "driver", driver);

    std::string byId = roots.dev + "/serial/by-id";
    std::vector<std::string> links = FolderEntries(byId, nullptr);
    std::sort(links.begin(), links.end());
    for (const std::string& link : links) {
        if (BaseName(LinkTarget(byId + "/" + link)) == name) {
            AddFact(entry, "by_id", byId + "/" + link);
            break;
        }
    }

    // The USB device carries the attributes; the tty's device is its port or interface.
    std::string usb = device;
    for (int level = 0; level < kUsbLevels && usb.size() > roots.sys.size(); ++level) {
        std::string vid;
        if (ReadAttribute(usb + "/idVendor", &vid)) {
            std::string value;
            AddFact(entry, "vid", vid);
            AddFact(entry, "pid", ReadAttribute(usb + "/idProduct", &value) ? value : "");
            for (const char* field : {"serial", "manufacturer", "product"}) {
                AddFact(entry, field, ReadAttribute(usb + "/" + field, &value) ? value : "");
            }
            break;
        }
        usb = usb.substr(0, usb.rfind('/'));
    }
}
