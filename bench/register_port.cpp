// A port as Windows' serial drivers register one: the value "\Device\Serial<N-1>" = "COMN" under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, which is what `brandcli watch` waits for. The watch is timed
// from this program's registry write to the frame's last byte at the device.
//
//   bench_register_port.exe
//
// Each line on standard input is one command, answered by "end" (after "error=..." when it
// failed): "add N" writes the value and answers "t0=NS t1=NS", the clock of clock_win32.h just
// before and just after RegSetValueExA; "remove N" deletes it; "quit" or the end of input stops.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock_win32.h"

namespace {

void ValueName(int number, char* name, size_t size) {
    std::snprintf(name, size, "\\Device\\Serial%d", number - 1);
}

LONG Add(HKEY key, int number) {
    char name[32], data[16];
    ValueName(number, name, sizeof name);
    std::snprintf(data, sizeof data, "COM%d", number);
    long long t0 = NowNs();
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                 static_cast<DWORD>(std::strlen(data) + 1));
    long long t1 = NowNs();
    std::printf("t0=%lld\nt1=%lld\n", t0, t1);
    return status;
}

LONG Remove(HKEY key, int number) {
    char name[32];
    ValueName(number, name, sizeof name);
    return RegDeleteValueA(key, name);
}

}  // namespace

int main() {
    // Opened once, so that an "add" times the registry write alone. The key is volatile like
    // the rest of HARDWARE; when it exists, as it does once Wine has listed any port, it is
    // opened as it is.
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "bench_register_port: cannot open SERIALCOMM (%ld)\n", status);
        return 4;
    }
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (std::strncmp(line, "quit", 4) == 0) {
            break;
        }
        if (std::strncmp(line, "add ", 4) == 0) {
            status = Add(key, std::atoi(line + 4));
        } else if (std::strncmp(line, "remove ", 7) == 0) {
            status = Remove(key, std::atoi(line + 7));
        } else {
            status = ERROR_INVALID_FUNCTION;
        }
        if (status != ERROR_SUCCESS) {
            std::printf("error=%s failed (%ld)\n", line, status);
        }
        std::printf("end\n");
        std::fflush(stdout);
    }
    RegCloseKey(key);
    return 0;
}
