#include "tests/unit/fake_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>

#include "serial/posix_calls.h"

FakePosix fakePosix;

namespace {

template <typename... Values>
void Log(const char* format, Values... values) {
    char line[512];
    std::snprintf(line, sizeof line, format, values...);
    fakePosix.calls.push_back(line);
}

int Fail(int error) {
    errno = error;
    return -1;
}

}  // namespace

namespace posix {

int Stat(const char* path, struct stat* st) {
    Log("stat %s", path);
    *st = fakePosix.seen;
    return fakePosix.statErrno ? Fail(fakePosix.statErrno) : 0;
}
int Open(const char* path, int flags) {
    Log("open %s %x", path, flags);
    return fakePosix.openErrno ? Fail(fakePosix.openErrno) : kFakeFd;
}
int Fstat(int fd, struct stat* st) {
    Log("fstat %d", fd);
    *st = fd >= 0 && fd <= 2 ? fakePosix.standard[fd] : fakePosix.seen;
    return 0;
}
int Flock(int fd, int operation) {
    Log("flock %d %s", fd,
        operation == (LOCK_EX | LOCK_NB) ? "EX|NB"
        : operation == LOCK_UN           ? "UN"
                                         : "?");
    return operation != LOCK_UN && fakePosix.flockErrno ? Fail(fakePosix.flockErrno) : 0;
}
int Ioctl(int fd, unsigned long request, int* value) {
    const char* name = request == TIOCEXCL    ? "TIOCEXCL"
                       : request == TIOCNXCL  ? "TIOCNXCL"
                       : request == TIOCGEXCL ? "TIOCGEXCL"
                       : request == TIOCMGET  ? "TIOCMGET"
                       : request == TIOCOUTQ  ? "TIOCOUTQ"
                                              : "?";
    Log("ioctl %d %s", fd, name);
    if (request == TIOCGEXCL) {
        *value = fakePosix.exclusive;
    }
    if (request == TIOCMGET) {
        *value = fakePosix.now >= fakePosix.ctsFrom ? TIOCM_CTS | TIOCM_DSR : TIOCM_DSR;
    }
    if (request == TIOCOUTQ) {
        std::vector<int>& queue = fakePosix.outQueue;
        if (fakePosix.looksBeforeHangUp >= 0 && fakePosix.looksBeforeHangUp-- == 0) {
            return Fail(EIO);
        }
        *value = queue.empty() ? 0 : queue.front();
        if (queue.size() > 1) {
            queue.erase(queue.begin());
        }
    }
    return 0;
}
int GetAttr(int fd, struct termios* settings) {
    Log("tcgetattr %d", fd);
    *settings = fakePosix.line;
    return 0;
}
int SetAttr(int fd, const struct termios* settings) {
    Log("tcsetattr %d", fd);
    if (fakePosix.takesSettings) {
        fakePosix.line = *settings;
    }
    return 0;
}
int Flush(int fd, int queue) {
    Log("tcflush %d %s", fd, queue == TCIOFLUSH ? "IO" : queue == TCOFLUSH ? "O" : "?");
    return 0;
}
ssize_t Write(int fd, const void* data, size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", static_cast<const uint8_t*>(data)[i]);
        bytes += hex;
    }
    Log("write %d%s", fd, bytes.c_str());
    long taken = -1;
    if (!fakePosix.writes.empty()) {
        taken = fakePosix.writes.front();
        fakePosix.writes.erase(fakePosix.writes.begin());
    }
    return taken < 0 ? Fail(EAGAIN) : taken;
}
int Poll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    Log("poll %d %s %d", fds[0].fd, count == 1 && fds[0].events == POLLOUT ? "out" : "?",
        timeoutMs);
    if (fakePosix.pollReady) {
        fds[0].revents = POLLOUT;
        fakePosix.now += fakePosix.pollReadyMs;
        return 1;
    }
    fakePosix.now += static_cast<uint64_t>(timeoutMs);
    return 0;
}
int Close(int fd) {
    Log("close %d", fd);
    return 0;
}
int ControllingTerminal(dev_t* device) {
    Log("ctty");
    *device = fakePosix.controlling;
    return fakePosix.controlling ? 0 : -1;
}
int CloseWithin(int fd, unsigned ms) {
    Log("close %d within %u", fd, ms);
    return 0;
}
uint64_t NowMs() {
    return fakePosix.now;
}
void SleepMs(unsigned ms) {
    Log("sleep %u", ms);
    fakePosix.now += ms;
}

}  // namespace posix
