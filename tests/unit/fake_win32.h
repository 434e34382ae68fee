// The Win32 calls of serial/serial_win32.cpp, for the native build: look-alike types and constants
// with the real values and layouts, and a recording stand-in for each call. The native build
// compiles that source with this header forced in first, so the tests see every call it makes,
// in order and with every argument, while the Windows build of it stays exactly as it is.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

typedef uint16_t WORD;
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
    DWORD fCtsHold : 1, fDsrHold : 1, fRlsdHold : 1, fXoffHold : 1, fXoffSent : 1, fEof : 1,
        fTxim : 1, fReserved : 25;
    DWORD cbInQue, cbOutQue;
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
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define KEY_READ 0x20019
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<intptr_t>(LONG(0x80000002))))

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, DCB* dcb);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status);
HANDLE CreateEventA(SECURITY_ATTRIBUTES* security, BOOL manualReset, BOOL initialState,
                    const char* name);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written,
               OVERLAPPED* overlapped);
DWORD GetLastError();
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CancelIo(HANDLE file);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL CloseHandle(HANDLE handle);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize);
LONG RegCloseKey(HKEY key);

// The handles the stand-ins give out, named port, event and key in the call log.
inline const HANDLE kFakePort = reinterpret_cast<HANDLE>(0x50);
inline const HANDLE kFakeEvent = reinterpret_cast<HANDLE>(0xE0);
inline const HKEY kFakeKey = reinterpret_cast<HKEY>(0x0C);

// What the stand-ins answer, and what they were handed. The log has one line per call with its
// arguments in order: handles by name, other pointers as "null" or by what they point to, masks
// in hex, other numbers in decimal. WriteFile's OVERLAPPED shows its event and offsets; one
// handed on later shows as "overlapped" when it is that same record.
struct FakeWin32 {
    HANDLE file = kFakePort;       // CreateFileA's answer
    HANDLE event = kFakeEvent;     // CreateEventA's
    BOOL stateRead = TRUE;         // GetCommState's; it then reports `state`
    DCB state = {}, written = {};  // read by GetCommState, handed to SetCommState
    BOOL writeDone = TRUE;         // WriteFile's; when FALSE, GetLastError gives `error`
    DWORD error = 0;
    const OVERLAPPED* overlapped = nullptr;  // the record and count WriteFile was handed
    DWORD count = 0;
    DWORD wait = WAIT_OBJECT_0;      // WaitForSingleObject's
    BOOL completed = TRUE;           // GetOverlappedResult's
    LONG keyOpen = ERROR_SUCCESS;    // RegOpenKeyExA's
    std::vector<std::string> ports;  // RegEnumValueA's data, one value each
    std::vector<std::string> calls;
};
extern FakeWin32 fake;
