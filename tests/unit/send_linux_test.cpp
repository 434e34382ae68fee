// The Linux send against the recording stand-ins of tests/unit/fake_posix.h: what a pty cannot
// show (an output queue that never drains, the discard and the flush before close) and what must
// never happen at all (opening something that is not a terminal).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "serial/clear_to_send.h"
#include "serial/send_linux.h"
#include "tests/unit/fake_posix.h"

namespace {

using Log = std::vector<std::string>;

// A NUL inside and a last byte that a count one short would lose.
const uint8_t kFrame[] = {0x42, 0x00, 0x52, 0xff};

class SendLinux : public testing::Test {
protected:
    SendLinux() {
        fakePosix = FakePosix();
        fakePosix.seen.st_mode = S_IFCHR | 0660;
        fakePosix.seen.st_rdev = makedev(136, 4);  // a pty: a terminal without asking sysfs
        // A line as another program may have left it: cooked, 9600 7E2, XON/XOFF, HUPCL.
        fakePosix.line.c_cflag = CS7 | PARENB | CSTOPB | HUPCL | CREAD;
        fakePosix.line.c_iflag = IXON | IXOFF | ICRNL;
        fakePosix.line.c_oflag = OPOST;
        fakePosix.line.c_lflag = ICANON | ECHO | ISIG;
        cfsetospeed(&fakePosix.line, B9600);
        cfsetispeed(&fakePosix.line, B9600);
    }

    SendOutcome Send(const char* path = "/dev/pts/4") {
        return SendToPath(SysRoots(), path, kFrame, sizeof kFrame);
    }
    bool Logged(const std::string& call) {
        return std::count(fakePosix.calls.begin(), fakePosix.calls.end(), call) > 0;
    }
    // Discard, unlock, let others open, close within the grace: the end of every failed send
    // that opened the port.
    void ExpectReleasedLast() {
        const Log& calls = fakePosix.calls;
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(Log(calls.end() - 4, calls.end()),
                  (Log{"tcflush 7 O", "flock 7 UN", "ioctl 7 TIOCNXCL", "close 7 within 100"}));
    }
    const std::string kOpen = "open /dev/pts/4 " + Hex(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const std::string kWrite = "write 7 42 00 52 ff";

    static std::string Hex(int flags) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", flags);
        return text;
    }
};

TEST_F(SendLinux, SentFrameTakesEveryStepInOrderAndLeavesTheLineRaw38400_8N1_RtsCts) {
    fakePosix.writes = {4};
    fakePosix.outQueue = {4, 0};
    SendOutcome outcome = Send();
    EXPECT_EQ(outcome.result, SendResult::Sent);
    EXPECT_EQ(fakePosix.calls, (Log{"stat /dev/pts/4",  "ctty",
                                    "fstat 0",          "fstat 1",
                                    "fstat 2",          kOpen,
                                    "fstat 7",          "ioctl 7 TIOCGEXCL",
                                    "flock 7 EX|NB",    "ioctl 7 TIOCEXCL",
                                    "tcgetattr 7",      "tcsetattr 7",
                                    "tcgetattr 7",      "tcflush 7 IO",
                                    "ioctl 7 TIOCMGET", kWrite,
                                    "ioctl 7 TIOCOUTQ", "sleep 1",
                                    "ioctl 7 TIOCOUTQ", "flock 7 UN",
                                    "ioctl 7 TIOCNXCL", "close 7 within 999"}));
    const termios& line = fakePosix.line;
    EXPECT_EQ(cfgetospeed(&line), B38400);
    EXPECT_EQ(cfgetispeed(&line), B38400);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | HUPCL), tcflag_t(CS8));
    EXPECT_EQ(line.c_cflag & (CRTSCTS | CLOCAL | CREAD), tcflag_t(CRTSCTS | CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(SendLinux, QueueCountedInTransferBuffersIsLookedAtInShortSteps) {
    fakePosix.writes = {4};
    fakePosix.outQueue = {4096, 4096, 4096, 0};  // cdc_acm: a frame in flight, then gone
    uint64_t start = fakePosix.now;
    EXPECT_EQ(Send().result, SendResult::Sent);
    EXPECT_EQ(fakePosix.now - start, 3u);
}

TEST_F(SendLinux, QueueThatEmptiesLateCountsOnlyIfThePortIsStillUpAfterwards) {
    fakePosix.writes = {4};
    std::vector<int> late(30, 4096);  // about 60 ms in flight
    late.push_back(0);
    fakePosix.outQueue = late;
    EXPECT_EQ(Send().result, SendResult::Sent);  // a device that read late
    EXPECT_EQ(fakePosix.calls.end()[-5], "sleep 50");

    fakePosix.outQueue = late;
    fakePosix.looksBeforeHangUp = 31;  // unplugged: the transfer given back, then the hang-up
    EXPECT_EQ(Send().result, SendResult::NotWritten);
    ExpectReleasedLast();
}

TEST_F(SendLinux, QueueThatNeverDrainsEndsAtTheDeadlineAndIsDiscardedBeforeTheClose) {
    fakePosix.writes = {4};
    fakePosix.outQueue = {4};  // a device holding CTS low: the bytes stay in the kernel
    uint64_t start = fakePosix.now;
    EXPECT_EQ(Send().result, SendResult::NotWritten);
    EXPECT_EQ(fakePosix.now - start, kWriteDeadlineMs);
    ExpectReleasedLast();
    // Slept on, not spun: every look at the queue but the last is followed by a sleep.
    size_t looks = std::count(fakePosix.calls.begin(), fakePosix.calls.end(), "ioctl 7 TIOCOUTQ");
    size_t sleeps = std::count_if(fakePosix.calls.begin(), fakePosix.calls.end(),
                                  [](const std::string& c) { return c.rfind("sleep ", 0) == 0; });
    EXPECT_EQ(looks, sleeps + 1);
    EXPECT_FALSE(Logged("sleep 0"));
}

TEST_F(SendLinux, StoppedLineWaitsInPollForTheTimeLeftThenTheRestIsWrittenOrDiscarded) {
    fakePosix.writes = {1, -1, -1, 3};  // room again after 300 ms, taken by another writer
    fakePosix.pollReady = true;
    fakePosix.pollReadyMs = 300;
    EXPECT_EQ(Send().result, SendResult::Sent);
    EXPECT_TRUE(Logged("write 7 00 52 ff"));
    EXPECT_TRUE(Logged("poll 7 out 1000"));
    EXPECT_TRUE(Logged("poll 7 out 700"));

    fakePosix.calls.clear();
    fakePosix.writes = {};  // never accepted, as on a pty stopped by its far end
    fakePosix.pollReady = false;
    uint64_t start = fakePosix.now;
    EXPECT_EQ(Send().result, SendResult::NotWritten);
    EXPECT_TRUE(Logged("poll 7 out 1000"));
    EXPECT_EQ(fakePosix.now - start, kWriteDeadlineMs);
    ExpectReleasedLast();
}

// What a pty cannot show: an adapter would take the frame into its chip while CTS is low.
TEST_F(SendLinux, DeviceHoldingCtsLowGetsNothingAndOneThatRaisesItHasTheRestOfTheSecond) {
    fakePosix.ctsFrom = UINT64_MAX;
    uint64_t start = fakePosix.now;
    SendOutcome held = Send();
    EXPECT_EQ(held.result, SendResult::NotWritten);
    EXPECT_EQ(held.why, kWhyCtsHeld);
    EXPECT_EQ(fakePosix.now - start, kWriteDeadlineMs);
    EXPECT_FALSE(Logged(kWrite));
    EXPECT_EQ(fakePosix.calls.back(), "close 7 within 100");

    fakePosix.ctsFrom = fakePosix.now + 300;  // then the line stays stopped
    EXPECT_EQ(Send().result, SendResult::NotWritten);
    EXPECT_TRUE(Logged("poll 7 out 700"));
}

TEST_F(SendLinux, LineThatKeepsItsOldSettingsGetsNothingSent) {
    fakePosix.takesSettings = false;  // tcsetattr "succeeds", the read-back shows 7E2
    EXPECT_EQ(Send().result, SendResult::NotConfigured);
    EXPECT_FALSE(Logged(kWrite));
    EXPECT_FALSE(Logged("tcflush 7 IO"));
    ExpectReleasedLast();
}

TEST_F(SendLinux, WhatIsNotATerminalIsNeverOpened) {
    struct {
        mode_t mode;
        dev_t device;
        int statErrno;
        const char* why;
    } cases[] = {
        {S_IFCHR, makedev(1, 3), 0, kWhyNotSerial},  // /dev/null: sysfs files it under mem
        {S_IFCHR, makedev(5, 0), 0, kWhyNotSerial},  // /dev/tty, /dev/tty1, /dev/ptmx: terminals
        {S_IFCHR, makedev(4, 1), 0, kWhyNotSerial},  // without a device behind them
        {S_IFCHR, makedev(5, 2), 0, kWhyNotSerial},
        {S_IFREG, 0, 0, kWhyNotSerial},
        {S_IFDIR, 0, 0, kWhyNotSerial},
        {0, 0, ENOENT, kWhyMissing},
        {0, 0, EACCES, kWhyDenied},
    };
    for (const auto& c : cases) {
        fakePosix.calls.clear();
        fakePosix.seen.st_mode = c.mode;
        fakePosix.seen.st_rdev = c.device;
        fakePosix.statErrno = c.statErrno;
        SendOutcome outcome = Send("/dev/x");
        EXPECT_EQ(outcome.result, SendResult::NotOpened);
        EXPECT_EQ(outcome.why, c.why);
        EXPECT_EQ(fakePosix.calls, Log{"stat /dev/x"});
    }
}

TEST_F(SendLinux, CallersOwnTerminalIsNeverOpened) {
    fakePosix.controlling = fakePosix.seen.st_rdev;  // brand $(tty)
    EXPECT_EQ(Send().why, kWhyNotSerial);
    fakePosix.controlling = makedev(136, 1);
    fakePosix.standard[2] = fakePosix.seen;  // not the controlling terminal, but stderr's
    EXPECT_EQ(Send().why, kWhyNotSerial);
    EXPECT_FALSE(Logged(kOpen));
}

TEST_F(SendLinux, PortHeldByAnotherProgramIsInUseAndClosedAgain) {
    fakePosix.openErrno = EBUSY;  // its holder set TIOCEXCL
    EXPECT_EQ(Send().why, kWhyInUse);
    EXPECT_EQ(fakePosix.calls.back(), kOpen);

    fakePosix.calls.clear();
    fakePosix.openErrno = 0;
    fakePosix.flockErrno = EWOULDBLOCK;  // root passes TIOCEXCL, not the lock
    EXPECT_EQ(Send().why, kWhyInUse);
    EXPECT_EQ(fakePosix.calls.back(), "close 7");  // nothing was written: no wait to bound
    EXPECT_FALSE(Logged("ioctl 7 TIOCEXCL"));

    fakePosix.calls.clear();
    fakePosix.flockErrno = 0;
    fakePosix.exclusive = 1;  // root passes another program's TIOCEXCL: asked, left alone
    EXPECT_EQ(Send().why, kWhyInUse);
    EXPECT_EQ(Log(fakePosix.calls.end() - 3, fakePosix.calls.end()),
              (Log{"fstat 7", "ioctl 7 TIOCGEXCL", "close 7"}));

    fakePosix.calls.clear();
    fakePosix.openErrno = EACCES;
    EXPECT_EQ(Send().why, kWhyDenied);
}

}  // namespace
