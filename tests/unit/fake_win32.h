// The Win32 calls of serial/serial_win32.cpp, for the native build: look-alike types with the real
// layouts and values, and a recording stand-in for each call. The native build compiles that
// source with this header forced in first, so the tests see every call it makes, in order and with
// every argument, while the Windows build of it stays exactly as it is.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win_types.h"

typedef uint16_t WORD;
typedef size_t SIZE_T;
typedef DWORD (*LPTHREAD_START_ROUTINE)(void*);
typedef struct HKEY__* HKEY;
struct SECURITY_ATTRIBUTES;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout, ReadTotalTimeoutMultiplier, ReadTotalTimeoutConstant,
        WriteTotalTimeoutMultiplier, WriteTotalTimeoutConstant;
};

struct DCB {
    DWORD DCBlength, BaudRate;
    DWORD fBinary : 1, fParity : 1, fOutxCtsFlow : 1, fOutxDsrFlow : 1, fDtrControl : 2,
        fDsrSensitivity : 1, fTXContinueOnXoff : 1, fOutX : 1, fInX : 1, fErrorChar : 1, fNull : 1,
        fRtsControl : 2, fAbortOnError : 1, fDummy2 : 17;
    WORD wReserved, XonLim, XoffLim;
    BYTE ByteSize, Parity, StopBits;
    char XonChar, XoffChar, ErrorChar, EofChar, EvtChar;
    WORD wReserved1;
};

struct COMSTAT {
    DWORD flags, cbInQue, cbOutQue;  // the flags are bit fields in the real one; nobody reads them
};

struct FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
};

struct OVERLAPPED {
    uintptr_t Internal, InternalHigh;
    DWORD Offset, OffsetHigh;
    HANDLE hEvent;
};

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define ERROR_IO_PENDING 997
#define MS_CTS_ON 0x0010
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define KEY_READ 0x20019
#define WINAPI
#define ERROR_FILE_NOT_FOUND 2L
#define INFINITE 0xFFFFFFFFu
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x10000u
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<intptr_t>(LONG(0x80000002))))

// The handles the stand-ins give out, named port, event and key in the call log.
inline const HANDLE kFakePort = reinterpret_cast<HANDLE>(0x50);
inline const HANDLE kFakeEvent = reinterpret_cast<HANDLE>(0xE0);
inline const HKEY kFakeKey = reinterpret_cast<HKEY>(0x0C);

// What the stand-ins answer, and what they were handed. The log has one line per call with its
// arguments in order: handles and keys by name ("other" for one no stand-in gave out), null
// pointers as "null", masks in hex, other numbers in decimal. WriteFile's OVERLAPPED shows its
// event and offsets; one handed on later shows as "overlapped" when it is that same record.
struct FakeWin32 {
    HANDLE file = kFakePort;       // CreateFileA's answer
    HANDLE event = kFakeEvent;     // CreateEventA's
    BOOL stateRead = TRUE;         // GetCommState's; it then reports `state`
    BOOL stateWritten = TRUE;      // SetCommState's
    BOOL timeoutsSet = TRUE;       // SetCommTimeouts's
    DCB state = {}, written = {};  // read by GetCommState, handed to SetCommState
    BOOL writeDone = TRUE;         // WriteFile's; when FALSE, GetLastError gives `error`
    DWORD error = 0;
    DWORD shortBy = 0;  // bytes of each write the port does not take: a short write succeeds too
    const OVERLAPPED* overlapped = nullptr;  // the record and count WriteFile was handed
    DWORD count = 0;
    DWORD wait = WAIT_OBJECT_0;  // WaitForSingleObject's
    BOOL completed = TRUE;       // GetOverlappedResult's
    long ctsAfterMs = 0;         // CTS is on from this many ms of Sleep on; -1: never
    DWORD tick = 0xFFFFFF00u;    // GetTickCount's, moved on by Sleep; wraps within a wait
    DWORD slept = 0;
    LONG keyOpen = ERROR_SUCCESS;             // RegOpenKeyExA's
    std::vector<std::string> ports;           // RegEnumValueA's data, one value each
    uint64_t lastWrite = 0x0123456789ABCDEF;  // RegQueryInfoKeyA's, with the values' count
    // The threads CreateThread made, as "thread<i>"; none runs until RunThread(i).
    struct Thread {
        LPTHREAD_START_ROUTINE start;
        void* parameter;
    };
    std::vector<Thread> threads;
    void RunThread(size_t i) { threads[i].start(threads[i].parameter); }
    std::vector<std::string> calls;
};
inline FakeWin32 fake;
constexpr uintptr_t kFakeThreadBase = 0x7000;

inline std::string Name(const void* p) {
    const void* known[] = {nullptr, kFakePort, kFakeEvent, kFakeKey, HKEY_LOCAL_MACHINE};
    const char* names[] = {"null", "port", "event", "key", "HKLM"};
    for (int i = 0; i < 5; ++i) {
        if (p == known[i]) {
            return names[i];
        }
    }
    uintptr_t thread = reinterpret_cast<uintptr_t>(p) - kFakeThreadBase;
    if (thread < fake.threads.size()) {
        return "thread" + std::to_string(thread);
    }
    return "other";
}

inline void Log(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fake.calls.push_back(line);
}

inline HANDLE CreateFileA(const char* name, DWORD access, DWORD share,
                          SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                          HANDLE templateFile) {
    Log("CreateFileA %s %X %X %s %u %X %s", name, access, share, Name(security).c_str(),
        disposition, flags, Name(templateFile).c_str());
    return fake.file;
}

inline BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* t) {
    Log("SetCommTimeouts %s %u %u %u %u %u", Name(file).c_str(), t->ReadIntervalTimeout,
        t->ReadTotalTimeoutMultiplier, t->ReadTotalTimeoutConstant, t->WriteTotalTimeoutMultiplier,
        t->WriteTotalTimeoutConstant);
    return fake.timeoutsSet;
}

inline BOOL GetCommState(HANDLE file, DCB* dcb) {
    Log("GetCommState %s", Name(file).c_str());
    if (fake.stateRead) {
        *dcb = fake.state;
    }
    return fake.stateRead;
}

inline BOOL SetCommState(HANDLE file, DCB* dcb) {
    Log("SetCommState %s", Name(file).c_str());
    fake.written = *dcb;
    return fake.stateWritten;
}

inline BOOL PurgeComm(HANDLE file, DWORD flags) {
    Log("PurgeComm %s %X", Name(file).c_str(), flags);
    return TRUE;
}

inline BOOL ClearCommError(HANDLE file, DWORD*, COMSTAT*) {
    Log("ClearCommError %s", Name(file).c_str());
    return TRUE;
}

inline HANDLE CreateEventA(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                           const char* name) {
    Log("CreateEventA %s %d %d %s", Name(security).c_str(), manualReset, initialState,
        Name(name).c_str());
    return fake.event;
}

inline BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written,
                      OVERLAPPED* overlapped) {
    std::string bytes;
    for (DWORD i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<const BYTE*>(buffer)[i]);
        bytes += hex;
    }
    Log("WriteFile %s%s %u overlapped(%s %u %u)", Name(file).c_str(), bytes.c_str(), count,
        Name(overlapped->hEvent).c_str(), overlapped->Offset, overlapped->OffsetHigh);
    fake.overlapped = overlapped;
    fake.count = count;
    *written = fake.writeDone ? count - fake.shortBy : 0;
    return fake.writeDone;
}

inline DWORD GetLastError() {
    return fake.error;
}

inline DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Log("WaitForSingleObject %s %u", Name(handle).c_str(), milliseconds);
    return fake.wait;
}

inline BOOL CancelIo(HANDLE file) {
    Log("CancelIo %s", Name(file).c_str());
    return TRUE;
}

inline BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                                BOOL wait) {
    Log("GetOverlappedResult %s %s %d", Name(file).c_str(),
        overlapped == fake.overlapped ? "overlapped" : "another", wait);
    *transferred = fake.completed ? fake.count - fake.shortBy : 0;
    return fake.completed;
}

inline BOOL GetCommModemStatus(HANDLE file, DWORD* status) {
    Log("GetCommModemStatus %s", Name(file).c_str());
    bool cts = fake.ctsAfterMs >= 0 && fake.slept >= static_cast<DWORD>(fake.ctsAfterMs);
    *status = cts ? MS_CTS_ON : 0;
    return TRUE;
}

inline DWORD GetTickCount() {
    return fake.tick;
}

inline void Sleep(DWORD milliseconds) {
    Log("Sleep %u", milliseconds);
    fake.tick += milliseconds;
    fake.slept += milliseconds;
}

inline BOOL CloseHandle(HANDLE handle) {
    Log("CloseHandle %s", Name(handle).c_str());
    return TRUE;
}

inline LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
    Log("RegOpenKeyExA %s %s %u %X", Name(key).c_str(), subKey, options, access);
    *result = kFakeKey;  // also on failure, where the key must not be used
    return fake.keyOpen;
}

inline LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                          DWORD* type, BYTE* data, DWORD* dataSize) {
    Log("RegEnumValueA %s %u %u %s %s %u", Name(key).c_str(), index, *nameSize,
        Name(reserved).c_str(), Name(type).c_str(), *dataSize);
    if (index >= fake.ports.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& port = fake.ports[index];
    name[0] = '\0';
    *nameSize = 0;
    *dataSize = static_cast<DWORD>(port.size() + 1);
    std::memcpy(data, port.c_str(), *dataSize);
    return ERROR_SUCCESS;
}

inline LONG RegCloseKey(HKEY key) {
    Log("RegCloseKey %s", Name(key).c_str());
    return ERROR_SUCCESS;
}

inline HANDLE CreateThread(SECURITY_ATTRIBUTES* security, SIZE_T stack,
                           LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags, DWORD* id) {
    Log("CreateThread %s %zu %X %s", Name(security).c_str(), stack, flags, Name(id).c_str());
    fake.threads.push_back({start, parameter});
    return reinterpret_cast<HANDLE>(kFakeThreadBase + fake.threads.size() - 1);
}

inline BOOL SetEvent(HANDLE event) {
    Log("SetEvent %s", Name(event).c_str());
    return TRUE;
}

inline LONG RegQueryInfoKeyA(HKEY key, char*, DWORD*, DWORD*, DWORD*, DWORD*, DWORD*, DWORD* values,
                             DWORD*, DWORD*, DWORD*, FILETIME* written) {
    Log("RegQueryInfoKeyA %s", Name(key).c_str());
    *values = static_cast<DWORD>(fake.ports.size());
    written->dwLowDateTime = static_cast<DWORD>(fake.lastWrite);
    written->dwHighDateTime = static_cast<DWORD>(fake.lastWrite >> 32);
    return ERROR_SUCCESS;
}
