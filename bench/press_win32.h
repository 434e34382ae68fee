// One Set press of the brand button reduced to its Win32 calls: open the port, configure it,
// write the 16-byte brand frame with a wait of at most 1000 ms, release everything. The same
// calls in the same order and with the same values as the program, shared by both baselines.
#pragma once

#include <windows.h>

// "BR", the 8-byte built-in brand, ";" and zero filler: what the program sends.
const BYTE kBrandFrame[16] = {'B', 'R', 'V', 'A', 'N', 'D', 'R', 'E', 'L', '8', ';', 0, 0, 0, 0, 0};

// `device` is "\\.\COMn". False when the port does not open.
inline bool PressSetBrand(const char* device) {
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    COMMTIMEOUTS timeouts = {0xFFFFFFFF, 0, 0, 1000, 1000};
    SetCommTimeouts(port, &timeouts);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        dcb.BaudRate = 38400;
        dcb.fOutxCtsFlow = 1;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(port, &dcb);
    }
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD errors = 0;
    COMSTAT status = {};
    ClearCommError(port, &errors, &status);
    DWORD written = 0;
    if (!WriteFile(port, kBrandFrame, sizeof kBrandFrame, &written, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 1000) != WAIT_OBJECT_0) {
            // The frame and the record must outlive the write: end it and collect it here.
            CancelIo(port);
        }
        GetOverlappedResult(port, &overlapped, &written, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(port);
    return true;
}
