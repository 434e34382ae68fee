// The system calls the Linux send makes on a port, behind one seam: the program links
// posix_calls.cpp (the real calls), the native tests link recording stand-ins, so a test can see
// what no pty shows: an output queue that never drains, a discard on timeout, the flush before
// close, and that a path that is not a terminal is never opened. Each returns what the system
// call returns and leaves errno as it does.
#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>

namespace posix {

int Stat(const char* path, struct stat* st);
int Open(const char* path, int flags);
int Fstat(int fd, struct stat* st);
int Flock(int fd, int operation);
// TIOCEXCL and TIOCNXCL take no argument (pass null); TIOCGEXCL, TIOCMGET and TIOCOUTQ fill
// `value`.
int Ioctl(int fd, unsigned long request, int* value);
int GetAttr(int fd, struct termios* settings);
int SetAttr(int fd, const struct termios* settings);  // TCSANOW
int Flush(int fd, int queue);
ssize_t Write(int fd, const void* data, size_t size);
int Poll(struct pollfd* fds, nfds_t count, int timeoutMs);
int Close(int fd);
// The calling process's controlling terminal, as /proc/self/stat names it; -1 when it has none
// or it cannot be read.
int ControllingTerminal(dev_t* device);
// Closes; the last close of a port with output pending waits for it to drain, up to the
// driver's closing_wait (30 s by default). A signal to this thread cuts that wait short, and the
// driver then drops what is pending, so a timer signals this thread after `ms`.
int CloseWithin(int fd, unsigned ms);
// The monotonic clock the send's deadline runs on, and a wait on it.
uint64_t NowMs();
void SleepMs(unsigned ms);

}  // namespace posix
