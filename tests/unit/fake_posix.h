// Recording stand-ins for the system calls of serial/posix_calls.h, linked into the native
// tests in place of the real ones: a scripted port whose answers a test sets, a clock that moves
// only when the code sleeps or waits, and a log of every call with its arguments in order.
#pragma once

#include <sys/stat.h>
#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

struct FakePosix {
    int statErrno = 0;  // stat fails with this when set
    struct stat seen = {};
    struct stat standard[3] = {};  // what fstat says of descriptors 0 to 2
    dev_t controlling = 0;         // the controlling terminal; 0: none
    int openErrno = 0;
    int exclusive = 0;  // TIOCGEXCL's answer: another program's hold
    int flockErrno = 0;
    bool takesSettings = true;   // false: tcsetattr returns 0 and the port keeps its old line
    struct termios line = {};    // what tcgetattr reports
    std::vector<long> writes;    // each write's answer in turn: bytes taken, or -1 for EAGAIN
    bool pollReady = false;      // false: poll waits its whole timeout and times out
    unsigned pollReadyMs = 0;    // how long a poll that ends ready waits first
    std::vector<int> outQueue;   // TIOCOUTQ's answers in turn; the last one repeats
    int looksBeforeHangUp = -1;  // TIOCOUTQ answers this often, then fails with EIO (hung up)
    uint64_t ctsFrom = 0;        // CTS is on from this time of the clock on
    uint64_t now = 5000;         // the monotonic clock, in ms
    std::vector<std::string> calls;
};
extern FakePosix fakePosix;

constexpr int kFakeFd = 7;
