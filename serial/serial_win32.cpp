// The Win32 side of serial access. Everything here is a direct sequence of system calls; the
// values they carry come from comm_settings.h and discovery.h.
#include <cstdio>

#include "serial/clear_to_send.h"
#include "serial/comm_settings.h"
#include "serial/discovery.h"
#include "serial/serial_port.h"

namespace {

// A port's CTS line through its modem status, on a clock that starts at zero, so that
// GetTickCount wrapping after 49 days never shows in a difference.
class CommModemLines : public ModemLines {
public:
    explicit CommModemLines(HANDLE port) : m_port(port), m_start(GetTickCount()) {}
    Cts ReadCts() override {
        DWORD status = 0;
        if (!GetCommModemStatus(m_port, &status)) {
            return Cts::Unknown;
        }
        return (status & MS_CTS_ON) ? Cts::High : Cts::Low;
    }
    uint64_t NowMs() override { return GetTickCount() - m_start; }
    void SleepMs(unsigned ms) override { Sleep(ms); }

private:
    HANDLE m_port;
    DWORD m_start;
};

}  // namespace

HANDLE OpenPort(BYTE number) {
    // The device namespace prefix: a bare "COM10" or above does not open on Windows, and a bare
    // name could open a plain file of that name in the current directory instead of the port.
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

BOOL ConfigureSerialPort(HANDLE port) {
    COMMTIMEOUTS timeouts = {};
    SetPortTimeouts(timeouts);
    BOOL configured = SetCommTimeouts(port, &timeouts);

    // Without a state read from the port there is nothing trustworthy to write back; the line
    // then keeps whatever settings it had.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        SetLineSettings(dcb);
        configured = SetCommState(port, &dcb) && configured;
    } else {
        configured = FALSE;
    }
    PurgeComm(port, kPurgeAll);
    return configured;
}

// WriteFrame with the wait as a parameter: brandcli's send gives the write what is left of the
// device's 1 s after the wait for CTS.
static BOOL WriteFrameWithin(const BYTE* bytes, DWORD count, HANDLE port, DWORD waitMs) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        return FALSE;  // a write we could not wait for must not be started
    }
    DWORD errors = 0;
    COMSTAT status = {};
    ClearCommError(port, &errors, &status);

    DWORD written = 0;
    BOOL done = WriteFile(port, bytes, count, &written, &overlapped);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, waitMs) != WAIT_OBJECT_0) {
            // The device is not taking the frame. The system still owns `overlapped` and
            // `bytes` until the write ends, so end it now rather than leave it to the port's
            // own timeout, and collect the completion before anything goes out of scope.
            CancelIo(port);
        }
        done = GetOverlappedResult(port, &overlapped, &written, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    return done && written == count;
}

BOOL WriteFrame(const BYTE* bytes, DWORD count, HANDLE port) {
    return WriteFrameWithin(bytes, count, port, kWriteWaitMs);
}

void ReleasePort(HANDLE port) {
    CloseHandle(port);
}

SendOutcome SendFrameToPort(BYTE number, const BYTE* bytes, DWORD count) {
    HANDLE port = OpenPort(number);
    if (port == INVALID_HANDLE_VALUE) {
        return {SendResult::NotOpened, nullptr};
    }
    SendOutcome outcome = {SendResult::NotConfigured, nullptr};
    if (ConfigureSerialPort(port)) {
        // The wait for CTS and the write share the device's one second.
        CommModemLines lines(port);
        if (!WaitForClearToSend(lines, kWriteWaitMs)) {
            outcome = {SendResult::NotWritten, kWhyCtsHeld};
        } else {
            uint64_t waited = lines.NowMs();
            DWORD left = waited < kWriteWaitMs ? kWriteWaitMs - static_cast<DWORD>(waited) : 0;
            outcome.result = WriteFrameWithin(bytes, count, port, left) ? SendResult::Sent
                                                                        : SendResult::NotWritten;
        }
    }
    ReleasePort(port);
    return outcome;
}

namespace {

class RegistrySerialComm : public SerialCommValues {
public:
    RegistrySerialComm() {
        m_opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                                 &m_key);
        if (m_opened != ERROR_SUCCESS) {
            m_key = nullptr;
        }
    }
    ~RegistrySerialComm() override {
        if (m_key) {
            RegCloseKey(m_key);
        }
    }
    RegistrySerialComm(const RegistrySerialComm&) = delete;
    RegistrySerialComm& operator=(const RegistrySerialComm&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    LONG Opened() const { return m_opened; }

    LONG EnumValue(DWORD index, char* name, DWORD* nameSize, BYTE* data, DWORD* dataSize) override {
        return RegEnumValueA(m_key, index, name, nameSize, nullptr, nullptr, data, dataSize);
    }

    bool Stamp(DWORD* values, uint64_t* written) override {
        FILETIME time = {};
        if (RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, values,
                             nullptr, nullptr, nullptr, &time) != ERROR_SUCCESS) {
            return false;
        }
        *written = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
        return true;
    }

private:
    HKEY m_key = nullptr;
    LONG m_opened;
};

}  // namespace

BYTE ReadRegisteredPorts(BYTE* table) {
    return ReadRegisteredPorts(table, nullptr);
}

BYTE ReadRegisteredPorts(BYTE* table, PortValueName* names) {
    RegistrySerialComm key;
    if (!key.IsOpen()) {
        return 0;
    }
    return static_cast<BYTE>(DiscoverPorts(key, table, kPortTableCapacity, names));
}

PortList ListRegisteredPorts(BYTE* table, PortValueName* names, BYTE* count) {
    RegistrySerialComm key;
    *count = 0;
    if (!key.IsOpen()) {
        // A PC that never had a serial port has no key at all.
        return key.Opened() == ERROR_FILE_NOT_FOUND ? PortList::Read : PortList::Unreadable;
    }
    size_t found = 0;
    PortList list = ReadWholePortList(key, table, kPortTableCapacity, names, &found);
    *count = static_cast<BYTE>(found);
    return list;
}
