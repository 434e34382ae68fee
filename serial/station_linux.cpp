// The Linux station: ports are paths to terminal devices; sends run on threads of their own;
// interrupts are taken from a signalfd, never by a handler.
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "serial/posix_calls.h"
#include "serial/send_linux.h"
#include "serial/signals_linux.h"
#include "serial/station.h"
#include "serial/sysfs_ports.h"
#include "serial/task_list.h"
#include "serial/utc_time_linux.h"

// Records made after January 2038 must not say 1970: the 32-bit builds are made with a 64-bit
// time_t (cmake/linux-armhf.cmake).
static_assert(sizeof(time_t) == 8, "time_t must have 64 bits");

namespace {

// Up to 255 sends at once: with the default 8 MB stacks a 32-bit program would run out of
// address space.
constexpr size_t kTaskStack = 256 * 1024;

int interruptFd = -1;
int endFd = -1;      // written by RequestEnd, so a waiting watch wakes
int taskEndFd = -1;  // written by each task as it returns, so a watch collects it
std::atomic<bool> interrupted{false};
std::mutex output;

TaskList<pthread_t> tasks;

void Wake(int fd) {
    if (fd >= 0) {
        uint64_t one = 1;
        // A full counter already wakes the watch; nothing else can fail here.
        (void)!write(fd, &one, sizeof one);
    }
}

void* RunTask(void* task) {
    TaskList<pthread_t>::Run(task);
    Wake(taskEndFd);
    return nullptr;
}

bool Spawn(TaskList<pthread_t>::Task* task) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    pthread_attr_setstacksize(&attributes, kTaskStack);
    bool started = pthread_create(&task->thread, &attributes, RunTask, task) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

void Release(pthread_t thread) {
    pthread_join(thread, nullptr);
}

}  // namespace

int InterruptFd() {
    return interruptFd;
}

int EndFd() {
    return endFd;
}

int TaskEndFd() {
    return taskEndFd;
}

const StationTexts& Texts() {
    static const StationTexts texts = {
        "usage: brandcli ports | brand PORT... | code PORT... | watch brand|code [--only TEXT] "
        "[--count N] [--in DIR] | --help | --version; --json with any but the last two",
        "an absolute path to a terminal device, such as /dev/ttyUSB0",
        "PORT is the absolute path of a terminal device: /dev/ttyUSB0, /dev/ttyACM0,\n"
        "/dev/serial/by-id/usb-... Anything else (/dev/null, a file) is never opened. Up to 255\n"
        "ports in one call, no device twice. Opening a port needs its group, usually dialout.\n"
        "watch waits for new serial devices under /dev, or with --in DIR for new entries of\n"
        "DIR that are terminals (such as /dev/serial/by-id, which may appear later).\n\n",
        true,
    };
    return texts;
}

void StartStation() {
    // Output that cannot be written must be an error the program reports (exit 7), not a
    // silent death.
    signal(SIGPIPE, SIG_IGN);
    endFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    taskEndFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Blocked before any thread starts, so every thread inherits the mask: no send is ever cut
    // short by a signal or its EINTR, and the main thread reads them when it is ready to.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    int fd = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd >= 0 && pthread_sigmask(SIG_BLOCK, &stops, nullptr) == 0) {
        interruptFd = fd;
    } else if (fd >= 0) {
        close(fd);
    }
}

bool NamePort(const char* text, PortEntry* entry) {
    if (!text || text[0] != '/') {
        return false;
    }
    entry->port = text;
    struct stat st;
    if (stat(text, &st) != 0) {
        entry->key = std::string("path:") + text;  // it cannot be a second name of anything
    } else if (S_ISCHR(st.st_mode)) {
        entry->key = DeviceKey(st.st_rdev);
    } else {
        entry->key = "file:" + DeviceKey(st.st_dev) + ":" + std::to_string(st.st_ino);
    }
    return true;
}

bool ListPorts(std::vector<PortEntry>* ports, const char** why) {
    if (!ListTtys(SysRoots(), false, ports)) {
        *why = "cannot read /sys/class/tty";
        return false;
    }
    return true;
}

void DescribePort(PortEntry* entry) {
    SysRoots roots;
    struct stat st;
    if (stat(entry->port.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return;
    }
    std::string name = TtyName(roots, st.st_rdev);
    if (!name.empty()) {
        DescribeTty(roots, name, entry);
    }
}

void IdentifyPorts(std::vector<PortEntry>*) {}

SendOutcome SendFrame(const PortEntry& port, const uint8_t* frame, size_t size) {
    return SendToPath(SysRoots(), port.port.c_str(), frame, size);
}

bool StartTask(void (*task)(void*), void* context) {
    return tasks.Start(task, context, Spawn);
}

void CollectTasks() {
    tasks.Collect(Release);
}

void JoinTasks() {
    tasks.Join(Release);
}

void LockOutput() {
    output.lock();
}
void UnlockOutput() {
    output.unlock();
}

uint64_t MonotonicMs() {
    return posix::NowMs();
}

void SleepMs(unsigned ms) {
    posix::SleepMs(ms);
}

std::string UtcTimestamp() {
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return FormatUtc(now);
}

bool Interrupted() {
    if (!interrupted && interruptFd >= 0) {
        signalfd_siginfo info;
        // Read by whichever thread asks first; the watch must still wake.
        if (read(interruptFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            RequestEnd();
        }
    }
    return interrupted;
}

void RequestEnd() {
    interrupted = true;
    Wake(endFd);
}
