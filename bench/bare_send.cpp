// The Set press without the program around it: the Win32 calls one press makes, in the same
// order and with the same values, and nothing else. It is the floor the real press is measured
// against.
//
//   bench_bare_send.exe PORT
//
// Each line "send" on standard input makes one press and answers "t0=NS t1=NS" (start and end
// on the clock of clock_win32.h) and "end"; "quit" or the end of input stops it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock_win32.h"

namespace {

// "BR", the 8-byte built-in brand, ";" and zero filler: what the program sends.
const BYTE kFrame[16] = {'B', 'R', 'V', 'A', 'N', 'D', 'R', 'E', 'L', '8', ';', 0, 0, 0, 0, 0};

void Press(const char* device) {
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error=open %lu\n", GetLastError());
        return;
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
    if (!WriteFile(port, kFrame, sizeof kFrame, &written, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 1000) != WAIT_OBJECT_0) {
            CancelIo(port);
        }
        GetOverlappedResult(port, &overlapped, &written, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(port);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_bare_send PORT\n");
        return 2;
    }
    char device[16];
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", std::atoi(argv[1]));
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "quit", 4) == 0) {
            break;
        }
        if (std::strncmp(line, "send", 4) == 0) {
            long long t0 = NowNs();
            Press(device);
            long long t1 = NowNs();
            std::printf("t0=%lld\nt1=%lld\n", t0, t1);
        }
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}
