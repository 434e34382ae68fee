#include "serial/posix_calls.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The signal that ends a close's wait; SIGRTMIN is free in a program that uses no timers of the
// C library's own.
int CloseSignal() {
    return SIGRTMIN;
}

// It only has to interrupt: a handler without SA_RESTART, so the close's wait ends.
void Interrupt(int) {}

bool InstallInterrupt() {
    struct sigaction action = {};
    action.sa_handler = Interrupt;
    sigemptyset(&action.sa_mask);
    return sigaction(CloseSignal(), &action, nullptr) == 0;
}

}  // namespace

namespace posix {

int Stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int Open(const char* path, int flags) {
    return ::open(path, flags);
}
int Fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}
int Flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int Ioctl(int fd, unsigned long request, int* value) {
    return value ? ::ioctl(fd, request, value) : ::ioctl(fd, request);
}
int GetAttr(int fd, struct termios* settings) {
    return ::tcgetattr(fd, settings);
}
int SetAttr(int fd, const struct termios* settings) {
    return ::tcsetattr(fd, TCSANOW, settings);
}
int Flush(int fd, int queue) {
    return ::tcflush(fd, queue);
}
ssize_t Write(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}
int Close(int fd) {
    return ::close(fd);
}

int ControllingTerminal(dev_t* device) {
    FILE* file = std::fopen("/proc/self/stat", "re");
    if (!file) {
        return -1;
    }
    char text[512];
    size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = '\0';
    // The program's name, in parentheses, may hold spaces and parentheses itself: the fields
    // after it (state, parent, group, session, terminal) begin after the last ')'.
    const char* rest = std::strrchr(text, ')');
    unsigned number = 0;
    if (!rest || std::sscanf(rest + 1, " %*c %*d %*d %*d %u", &number) != 1 || number == 0) {
        return -1;
    }
    *device = makedev((number >> 8) & 0xfff, (number & 0xff) | ((number >> 12) & 0xfff00));
    return 0;
}

int CloseWithin(int fd, unsigned ms) {
    static const bool installed = InstallInterrupt();
    struct sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = CloseSignal();
    event._sigev_un._tid = gettid();
    timer_t timer;
    if (!installed || timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
        return ::close(fd);  // a close without a bound is still a close
    }
    struct itimerspec after = {};
    after.it_value = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    timer_settime(timer, 0, &after, nullptr);
    int closed = ::close(fd);
    timer_delete(timer);
    return closed;
}

uint64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

void SleepMs(unsigned ms) {
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace posix
