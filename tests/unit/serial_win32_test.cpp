// The Win32 serial layer against the recording stand-ins of tests/unit/fake_win32.h: what each
// of its operations hands the system, and in which order. Wine lets most of this pass unchecked
// (it does not enforce exclusive opens and ignores parts of the port state), so a wrong argument
// shows up here or only on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "serial/clear_to_send.h"
#include "serial/discovery.h"
#include "serial/serial_port.h"
#include "tests/unit/fake_win32.h"

bool operator==(const DCB& a, const DCB& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

using Log = std::vector<std::string>;

class SerialWin32 : public testing::Test {
protected:
    SerialWin32() {
        fake = FakeWin32();
        std::memset(&fake.state, 0xA5, sizeof fake.state);  // whatever the port reports
        fake.state.fOutxCtsFlow = 0;
    }

    // A frame with a NUL inside and a last byte that a count one short would lose.
    BOOL Write() {
        static const BYTE frame[] = {0x42, 0x00, 0x52, 0xFF};
        return WriteFrame(frame, sizeof frame, kFakePort);
    }
    const std::string kCreateEvent = "CreateEventA null 1 0 null";
    const std::string kWrite = "WriteFile port 42 00 52 FF 4 overlapped(event 0 0)";
    const std::string kTimeouts = "SetCommTimeouts port 4294967295 0 0 1000 1000";
};

TEST_F(SerialWin32, OpenIsExclusiveAndOverlappedAndReleaseClosesThePort) {
    EXPECT_EQ(OpenPort(5), kFakePort);
    fake.file = INVALID_HANDLE_VALUE;
    EXPECT_EQ(OpenPort(123), INVALID_HANDLE_VALUE);
    ReleasePort(kFakePort);
    EXPECT_EQ(fake.calls, (Log{"CreateFileA \\\\.\\COM5 C0000000 0 null 3 40000000 null",
                               "CreateFileA \\\\.\\COM123 C0000000 0 null 3 40000000 null",
                               "CloseHandle port"}));
}

TEST_F(SerialWin32, ConfigureSetsTimeoutsThenOnlyTheLineFieldsThenPurges) {
    ConfigureSerialPort(kFakePort);
    EXPECT_EQ(fake.calls,
              (Log{kTimeouts, "GetCommState port", "SetCommState port", "PurgeComm port F"}));
    DCB expected = fake.state;
    expected.BaudRate = 38400;
    expected.fOutxCtsFlow = 1;
    expected.ByteSize = 8;
    expected.Parity = 0;
    expected.StopBits = 0;
    EXPECT_EQ(fake.written, expected);
}

TEST_F(SerialWin32, ConfigureWritesNoStateItCouldNotRead) {
    fake.stateRead = FALSE;
    EXPECT_FALSE(ConfigureSerialPort(kFakePort));
    EXPECT_EQ(fake.calls, (Log{kTimeouts, "GetCommState port", "PurgeComm port F"}));
}

// brandcli's send: a port that refuses any part of its settings gets nothing and is released; one
// that takes them gets the frame. (The dialog writes either way; it never looks.)
TEST_F(SerialWin32, SendWritesOnlyToAPortThatTookItsSettings) {
    static const BYTE frame[] = {0x44, 0x54};
    const std::string kWriteTwo = "WriteFile port 44 54 2 overlapped(event 0 0)";
    for (int refusal = 0; refusal < 3; ++refusal) {
        fake = FakeWin32();
        fake.stateRead = refusal != 0;
        fake.stateWritten = refusal != 1;
        fake.timeoutsSet = refusal != 2;
        EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).result, SendResult::NotConfigured)
            << refusal;
        EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), kWriteTwo), 0) << refusal;
        EXPECT_EQ(fake.calls.back(), "CloseHandle port") << refusal;
    }
    fake = FakeWin32();
    EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).result, SendResult::Sent);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), kWriteTwo), 1);
    fake.file = INVALID_HANDLE_VALUE;
    EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).result, SendResult::NotOpened);
    fake = FakeWin32();
    fake.shortBy = 1;
    EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).result, SendResult::NotWritten);
    EXPECT_EQ(fake.calls.back(), "CloseHandle port");
}

// brandcli's send looks at CTS first: a device that keeps it low the whole second (across
// GetTickCount's wrap) gets nothing; one that raises it has what is left of the second.
TEST_F(SerialWin32, SendWaitsForCtsWithinTheSecondAndWritesNothingWhileItStaysLow) {
    static const BYTE frame[] = {0x44, 0x54};
    fake.ctsAfterMs = -1;
    EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).why, kWhyCtsHeld);
    EXPECT_EQ(fake.slept, 1000u);
    EXPECT_EQ(fake.count, 0u);  // no WriteFile
    EXPECT_EQ(fake.calls.back(), "CloseHandle port");
    fake.ctsAfterMs = 1300;  // 300 ms into the next send
    fake.writeDone = FALSE;
    fake.error = ERROR_IO_PENDING;
    EXPECT_EQ(SendFrameToPort(5, frame, sizeof frame).result, SendResult::Sent);
    EXPECT_EQ(fake.calls.end()[-4], "WaitForSingleObject event 700");
}

// A write that succeeds with fewer bytes than the frame has is a failure: the device got a cut
// frame, and brandcli's exit code must say so.
TEST_F(SerialWin32, WriteCompletingAtOnceWaitsForNothing) {
    EXPECT_TRUE(Write());
    EXPECT_EQ(fake.calls, (Log{kCreateEvent, "ClearCommError port", kWrite, "CloseHandle event"}));

    fake.shortBy = 1;
    EXPECT_FALSE(Write());
}

TEST_F(SerialWin32, PendingWriteIsCollectedOnceSignalled) {
    fake.writeDone = FALSE;
    fake.error = ERROR_IO_PENDING;
    EXPECT_TRUE(Write());
    EXPECT_EQ(fake.calls,
              (Log{kCreateEvent, "ClearCommError port", kWrite, "WaitForSingleObject event 1000",
                   "GetOverlappedResult port overlapped 1", "CloseHandle event"}));

    fake.shortBy = 1;
    EXPECT_FALSE(Write());
}

// The system owns the OVERLAPPED and the bytes until the write ends, so a write the device does
// not take in time is cancelled and its completion awaited before the event goes.
TEST_F(SerialWin32, PendingWriteNotTakenInTimeIsCancelledAndCollected) {
    fake.writeDone = FALSE;
    fake.error = ERROR_IO_PENDING;
    fake.wait = WAIT_TIMEOUT;
    fake.completed = FALSE;
    EXPECT_FALSE(Write());
    EXPECT_EQ(fake.calls,
              (Log{kCreateEvent, "ClearCommError port", kWrite, "WaitForSingleObject event 1000",
                   "CancelIo port", "GetOverlappedResult port overlapped 1", "CloseHandle event"}));
}

TEST_F(SerialWin32, FailedWriteOrEventEndsTheWrite) {
    fake.writeDone = FALSE;
    fake.error = 5;  // ERROR_ACCESS_DENIED: the port has gone
    EXPECT_FALSE(Write());
    EXPECT_EQ(fake.calls, (Log{kCreateEvent, "ClearCommError port", kWrite, "CloseHandle event"}));

    fake.calls.clear();
    fake.event = nullptr;
    EXPECT_FALSE(Write());
    EXPECT_EQ(fake.calls, (Log{kCreateEvent}));
}

TEST_F(SerialWin32, RegisteredPortsAreReadFromTheSerialCommKey) {
    fake.ports = {"COM3", "COM12"};
    BYTE table[kPortTableCapacity] = {};
    ASSERT_EQ(ReadRegisteredPorts(table), 2);
    EXPECT_EQ(table[0], 3);
    EXPECT_EQ(table[1], 12);
    const std::string open = "RegOpenKeyExA HKLM HARDWARE\\DEVICEMAP\\SERIALCOMM 0 20019";
    EXPECT_EQ(fake.calls, (Log{open, "RegEnumValueA key 0 100 null null 30",
                               "RegEnumValueA key 1 100 null null 30",
                               "RegEnumValueA key 2 100 null null 30", "RegCloseKey key"}));

    fake.calls.clear();
    fake.keyOpen = 2;  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(ReadRegisteredPorts(table), 0);
    EXPECT_EQ(fake.calls, (Log{open}));
}

// brandcli's reading: no key is no ports; a key it may not read is no list at all; the key's
// count and last write time are read on both sides of the walk, to see a change during it.
TEST_F(SerialWin32, BrandcliTellsAMissingKeyFromOneItCannotRead) {
    BYTE table[kPortTableCapacity], count = 9;
    fake.keyOpen = 2;  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(ListRegisteredPorts(table, nullptr, &count), PortList::Read);
    EXPECT_EQ(count, 0);
    fake.keyOpen = 5;  // ERROR_ACCESS_DENIED
    EXPECT_EQ(ListRegisteredPorts(table, nullptr, &count), PortList::Unreadable);

    fake = FakeWin32();
    fake.ports = {"COM3"};
    EXPECT_EQ(ListRegisteredPorts(table, nullptr, &count), PortList::Read);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(fake.calls, (Log{"RegOpenKeyExA HKLM HARDWARE\\DEVICEMAP\\SERIALCOMM 0 20019",
                               "RegQueryInfoKeyA key", "RegEnumValueA key 0 100 null null 30",
                               "RegEnumValueA key 1 100 null null 30", "RegQueryInfoKeyA key",
                               "RegCloseKey key"}));
}

}  // namespace
