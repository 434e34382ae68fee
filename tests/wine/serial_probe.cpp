// Drives the serial layer directly under Wine, one step per command-line word group, and prints
// one line per step for the test to check:
//
//   list                   PORTS <n> <n> ...        the registered ports, in registry order
//   open N                 OPEN N ok | OPEN N INVALID_HANDLE_VALUE error=E
//   configure N            (nothing)                 opens, configures and releases the port
//   brand N TEXT           WRITE N bytes=16 result=R ms=T   (open, configure, write, release)
//   code N TEXT            WRITE N bytes=5 result=R ms=T
//   sleep MS
//
// A port that does not open prints NOTOPEN N for configure, brand and code.
#include "platform/win_types.h"  // lean windows.h: winspool.h would rename ConfigureSerialPort

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "protocol/frames.h"
#include "serial/discovery.h"
#include "serial/serial_port.h"

namespace {

void Emit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);  // the test reads lines as they come, also from a run it kills
}

BYTE PortArg(const char* text) {
    return static_cast<BYTE>(std::atoi(text));
}

// Opens and configures port `n`; INVALID_HANDLE_VALUE (after saying so) when it does not open.
HANDLE OpenConfigured(BYTE n) {
    HANDLE port = OpenPort(n);
    if (port == INVALID_HANDLE_VALUE) {
        Emit("NOTOPEN %d error=%lu\n", n, GetLastError());
        return port;
    }
    ConfigureSerialPort(port);
    return port;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

void TimedWrite(BYTE n, const BYTE* bytes, DWORD count) {
    HANDLE port = OpenConfigured(n);
    if (port == INVALID_HANDLE_VALUE) {
        return;
    }
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    BOOL result = WriteFrame(bytes, count, port);
    QueryPerformanceCounter(&end);
    ReleasePort(port);
    Emit("WRITE %d bytes=%lu result=%d ms=%.0f\n", n, count, result, Milliseconds(start, end));
}

void List() {
    BYTE table[kPortTableCapacity];
    BYTE count = ReadRegisteredPorts(table);
    std::string line = "PORTS";
    for (BYTE i = 0; i < count; ++i) {
        line += " " + std::to_string(table[i]);
    }
    Emit("%s\n", line.c_str());
}

void Open(BYTE n) {
    HANDLE port = OpenPort(n);
    if (port == INVALID_HANDLE_VALUE) {
        Emit("OPEN %d INVALID_HANDLE_VALUE error=%lu\n", n, GetLastError());
        return;
    }
    Emit("OPEN %d ok\n", n);
    ReleasePort(port);
}

// The line as the configure leaves it is read on the far end (stty); what the configure hands the
// system is checked natively, call by call.
void Configure(BYTE n) {
    HANDLE port = OpenConfigured(n);
    if (port != INVALID_HANDLE_VALUE) {
        ReleasePort(port);
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: serial_probe (list | open N | configure N | brand N TEXT | code N TEXT "
                 "| sleep MS)...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* step = argv[i];
        int left = argc - i - 1;
        if (!std::strcmp(step, "list")) {
            List();
        } else if (!std::strcmp(step, "open") && left >= 1) {
            Open(PortArg(argv[++i]));
        } else if (!std::strcmp(step, "configure") && left >= 1) {
            Configure(PortArg(argv[++i]));
        } else if (!std::strcmp(step, "brand") && left >= 2) {
            BYTE n = PortArg(argv[++i]);
            const char* text = argv[++i];
            BrandFrame frame = BuildBrandFrame(text, std::strlen(text));
            TimedWrite(n, frame.data(), static_cast<DWORD>(frame.size()));
        } else if (!std::strcmp(step, "code") && left >= 2) {
            BYTE n = PortArg(argv[++i]);
            const char* text = argv[++i];
            std::optional<CodeFrame> frame = BuildCodeFrame(text, std::strlen(text));
            if (!frame) {
                Emit("NOFRAME\n");
                continue;
            }
            TimedWrite(n, frame->data(), static_cast<DWORD>(frame->size()));
        } else if (!std::strcmp(step, "sleep") && left >= 1) {
            Sleep(static_cast<DWORD>(std::atoi(argv[++i])));
        } else {
            return Usage();
        }
    }
    return 0;
}
