// The Set press without the program around it: the Win32 calls one press makes, in the same
// order and with the same values, and nothing else. It is the floor the real press is measured
// against.
//
//   bench_bare_send.exe PORT
//   bench_bare_send.exe PORT... --once
//
// Each line "send" on standard input makes one press and answers "t0=NS t1=NS" (start and end
// on the clock of clock_win32.h) and "end"; "quit" or the end of input stops it. With --once it
// makes one press on each port in turn and exits, 0 when every port opened and 4 when one did
// not, and says nothing more: a one-shot console program with nothing around the bare calls,
// which a command-line press is timed against from process start to exit (to several ports: the
// floor of the same calls one after the other, with no thread of their own).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock_win32.h"
#include "press_win32.h"

// brandcli imports ADVAPI32 for its port listing, so each of its starts maps that DLL too. The
// one-shot press is timed against it from process start, so this program imports the same DLLs:
// one function's address is enough for the loader.
decltype(&RegCloseKey) volatile g_sameImportsAsBrandcli = &RegCloseKey;

int main(int argc, char** argv) {
    bool once = argc >= 3 && std::strcmp(argv[argc - 1], "--once") == 0;
    if (argc != 2 && !once) {
        std::fprintf(stderr, "usage: bench_bare_send PORT | PORT... --once\n");
        return 2;
    }
    char device[16];
    if (once) {
        bool opened = true;
        for (int i = 1; i < argc - 1; ++i) {
            std::snprintf(device, sizeof device, "\\\\.\\COM%d", std::atoi(argv[i]));
            opened = PressSetBrand(device) && opened;
        }
        return opened ? 0 : 4;
    }
    std::snprintf(device, sizeof device, "\\\\.\\COM%d", std::atoi(argv[1]));
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "quit", 4) == 0) {
            break;
        }
        if (std::strncmp(line, "send", 4) == 0) {
            long long t0 = NowNs();
            if (!PressSetBrand(device)) {
                std::printf("error=open %lu\n", GetLastError());
            }
            long long t1 = NowNs();
            std::printf("t0=%lld\nt1=%lld\n", t0, t1);
        }
        std::printf("end\n");
        std::fflush(stdout);
    }
    return 0;
}
