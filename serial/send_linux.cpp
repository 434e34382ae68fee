#include "serial/send_linux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

#include "serial/clear_to_send.h"
#include "serial/posix_calls.h"

const char kWhyMissing[] = "could not open the port (no such device)";
const char kWhyNotSerial[] = "not a serial port";
const char kWhyInUse[] = "could not open the port (in use by another program)";
const char kWhyDenied[] =
    "permission denied (is the user in the group that owns the port, usually dialout?)";
const char kWhyNotOpened[] = "could not open the port";

namespace {

// The bits of each flag word this program sets or clears; what it leaves alone is not compared.
constexpr tcflag_t kControlBits = CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD | HUPCL;
constexpr tcflag_t kControlWanted = CS8 | CRTSCTS | CLOCAL | CREAD;
constexpr tcflag_t kInputBits = IXON | IXOFF | IXANY | ISTRIP | ICRNL | INLCR | IGNCR;
constexpr tcflag_t kOutputBits = OPOST;
constexpr tcflag_t kLocalBits = ICANON | ECHO | ISIG | IEXTEN;
// One bit at 38400 baud, ten bits a byte: how long the kernel's queue takes to move a byte.
constexpr unsigned kBytesPerSecond = 38400 / 10;
// The longest sleep between two looks at the output queue: 1 ms at first, one more for every
// 10 ms of waiting, up to this. Some drivers count whole transfer buffers there (cdc_acm reads
// thousands of bytes for a frame in flight, then 0), so a sleep sized from the count alone would
// often run to the deadline.
constexpr uint64_t kQueueLookMs = 5;
// A queue that took this long to empty may have been emptied by the device going away: cdc_acm
// gives back a transfer cut off by an unplug as done, and hangs the port up only a little later.
constexpr uint64_t kSlowDrainMs = 50;
// How long such a port must stay up before its empty queue counts as sent.
constexpr uint64_t kStillThereMs = 50;
// How long the close of a port may wait for output still pending after the deadline. A close
// otherwise waits up to the driver's closing_wait (30 s) for output no flush could take back
// (cdc_acm has none to call).
constexpr unsigned kCloseGraceMs = 100;

SendOutcome NotOpened(const char* why) {
    return {SendResult::NotOpened, why};
}

// The caller's own terminal is no port, though it is a pty over ssh and may be a serial line:
// `brand $(tty)` would write the frame to the operator's screen and leave it in raw mode.
bool IsCallersTerminal(dev_t device) {
    dev_t controlling = 0;
    if (posix::ControllingTerminal(&controlling) == 0 && controlling == device) {
        return true;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat st;
        if (posix::Fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
            return true;
        }
    }
    return false;
}

// CTS through TIOCMGET, which fails on a pty (it has no modem lines), on the send's clock.
class PortModemLines : public ModemLines {
public:
    explicit PortModemLines(int fd) : m_fd(fd) {}
    Cts ReadCts() override {
        int lines = 0;
        if (posix::Ioctl(m_fd, TIOCMGET, &lines) != 0) {
            return Cts::Unknown;
        }
        return (lines & TIOCM_CTS) ? Cts::High : Cts::Low;
    }
    uint64_t NowMs() override { return posix::NowMs(); }
    void SleepMs(unsigned ms) override { posix::SleepMs(ms); }

private:
    int m_fd;
};

// Raw, 38400 baud 8N1, RTS/CTS, modem lines kept at close, no software flow control.
void SetLine(struct termios* line) {
    cfmakeraw(line);
    cfsetispeed(line, B38400);
    cfsetospeed(line, B38400);
    line->c_cflag = (line->c_cflag & ~kControlBits) | kControlWanted;
    line->c_iflag &= ~kInputBits;
    line->c_cc[VMIN] = 0;
    line->c_cc[VTIME] = 0;
}

// tcsetattr reports success when it applied any part of a change, so only a read-back says
// whether the port took the settings.
bool LineIsSet(const struct termios& line) {
    return cfgetospeed(&line) == B38400 && cfgetispeed(&line) == B38400 &&
           (line.c_cflag & kControlBits) == kControlWanted && (line.c_iflag & kInputBits) == 0 &&
           (line.c_oflag & kOutputBits) == 0 && (line.c_lflag & kLocalBits) == 0;
}

bool Configure(int fd) {
    struct termios line = {};
    if (posix::GetAttr(fd, &line) != 0) {
        return false;
    }
    SetLine(&line);
    if (posix::SetAttr(fd, &line) != 0) {
        return false;
    }
    struct termios taken = {};
    return posix::GetAttr(fd, &taken) == 0 && LineIsSet(taken) && posix::Flush(fd, TCIOFLUSH) == 0;
}

// True when the port is still up after a while (a port that was hung up fails every ioctl),
// waiting no later than `deadline`.
bool StillThere(int fd, uint64_t deadline) {
    uint64_t now = posix::NowMs();
    if (now < deadline) {
        posix::SleepMs(static_cast<unsigned>(std::min(kStillThereMs, deadline - now)));
    }
    int pending = 0;
    return posix::Ioctl(fd, TIOCOUTQ, &pending) == 0;
}

// True when the frame was accepted whole and the output queue emptied before `deadline`.
// tcdrain has no timeout (a device holding CTS low would keep it forever), so the queue is read
// with TIOCOUTQ and slept on for about as long as its bytes take to go out, in short steps.
bool WriteWithin(int fd, const uint8_t* frame, size_t size, uint64_t deadline) {
    size_t written = 0;
    while (written < size) {
        ssize_t n = posix::Write(fd, frame + written, size - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno != EAGAIN) {
            return false;
        }
        uint64_t now = posix::NowMs();
        if (now >= deadline) {
            return false;
        }
        struct pollfd wanted = {fd, POLLOUT, 0};
        int ready = posix::Poll(&wanted, 1, static_cast<int>(deadline - now));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && (wanted.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            return false;
        }
    }
    uint64_t writtenAt = posix::NowMs();
    for (;;) {
        int pending = 0;
        if (posix::Ioctl(fd, TIOCOUTQ, &pending) != 0) {
            return false;
        }
        if (pending <= 0) {
            return posix::NowMs() - writtenAt < kSlowDrainMs || StillThere(fd, deadline);
        }
        uint64_t now = posix::NowMs();
        if (now >= deadline) {
            return false;
        }
        uint64_t needs = static_cast<uint64_t>(pending) * 1000 / kBytesPerSecond + 1;
        uint64_t step = std::min(kQueueLookMs, 1 + (now - writtenAt) / 10);
        posix::SleepMs(static_cast<unsigned>(std::min({needs, step, deadline - now})));
    }
}

// Unlocks, lets others open, closes within `closeMs`. `discard`: flushes the output first, so
// that nothing of a send that ran out of time reaches the device later. Not after a whole send:
// its queue is empty already, and on a pty the flush would take back bytes the far end has not
// read yet. Where the flush takes nothing back, the close cut short drops what is pending.
void Release(int fd, bool discard, unsigned closeMs) {
    if (discard) {
        posix::Flush(fd, TCOFLUSH);
    }
    posix::Flock(fd, LOCK_UN);
    posix::Ioctl(fd, TIOCNXCL, nullptr);
    posix::CloseWithin(fd, closeMs);
}

// The close's share of the deadline: what is left of it, and at least the grace.
unsigned CloseMs(uint64_t deadline) {
    uint64_t now = posix::NowMs();
    return static_cast<unsigned>(now < deadline ? std::max<uint64_t>(deadline - now, kCloseGraceMs)
                                                : kCloseGraceMs);
}

}  // namespace

SendOutcome SendToPath(const SysRoots& roots, const char* path, const uint8_t* frame, size_t size) {
    // Opening a device can act on it (a watchdog starts counting down), so only a terminal is
    // opened at all.
    struct stat seen;
    if (posix::Stat(path, &seen) != 0) {
        return NotOpened(errno == EACCES ? kWhyDenied : kWhyMissing);
    }
    if (!S_ISCHR(seen.st_mode) || !IsPortDevice(roots, seen.st_rdev) ||
        IsCallersTerminal(seen.st_rdev)) {
        return NotOpened(kWhyNotSerial);
    }
    // Without O_NONBLOCK the open may wait for a carrier forever; without O_NOCTTY the port
    // could become this program's controlling terminal.
    int fd = posix::Open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
            case EBUSY:
                return NotOpened(kWhyInUse);
            case EACCES:
            case EPERM:
                return NotOpened(kWhyDenied);
            case ENOENT:
            case ENODEV:
            case ENXIO:
                return NotOpened(kWhyMissing);
            default:
                return NotOpened(kWhyNotOpened);
        }
    }
    // The path may have been pointed elsewhere between the look and the open.
    struct stat opened;
    if (posix::Fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) ||
        opened.st_rdev != seen.st_rdev) {
        posix::Close(fd);
        return NotOpened(kWhyNotSerial);
    }
    // Another program's TIOCEXCL (ModemManager probing a new device takes it alone) refuses
    // every later open but root's: asked first, so that root neither writes to the port nor
    // clears that hold with its own TIOCNXCL.
    int held = 0;
    if (posix::Ioctl(fd, TIOCGEXCL, &held) == 0 && held) {
        posix::Close(fd);
        return NotOpened(kWhyInUse);
    }
    // flock binds the programs that use it, root included; TIOCEXCL refuses every later open
    // but root's. Together they come closest to an open without sharing.
    if (posix::Flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const char* why = errno == EWOULDBLOCK ? kWhyInUse : kWhyNotOpened;
        posix::Close(fd);
        return NotOpened(why);
    }
    if (posix::Ioctl(fd, TIOCEXCL, nullptr) != 0) {
        posix::Flock(fd, LOCK_UN);
        posix::Close(fd);
        return NotOpened(kWhyNotOpened);
    }
    if (!Configure(fd)) {
        Release(fd, true, kCloseGraceMs);
        return {SendResult::NotConfigured, nullptr};
    }
    // A USB adapter would take the frame into its chip while the device holds CTS low, and
    // report it written; the wait for CTS and the write share the device's one second.
    uint64_t deadline = posix::NowMs() + kWriteDeadlineMs;
    PortModemLines lines(fd);
    if (!WaitForClearToSend(lines, deadline)) {
        Release(fd, false, kCloseGraceMs);
        return {SendResult::NotWritten, kWhyCtsHeld};
    }
    bool whole = WriteWithin(fd, frame, size, deadline);
    Release(fd, !whole, CloseMs(deadline));
    return {whole ? SendResult::Sent : SendResult::NotWritten, nullptr};
}
