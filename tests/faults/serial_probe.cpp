// Asks Wine whether a port opens right now, without sending anything (the fault tests use it to
// know which status the dialog must show for a port they have just changed), and registers a
// port the way a driver does.
//
//   open N            OPEN N ok | OPEN N INVALID_HANDLE_VALUE error=E
//   register N NAME   REGISTERED N: the value NAME = "COMN" under SERIALCOMM. The key is made
//                     when it is missing, volatile as Windows keeps it: reg.exe cannot make a key
//                     below the volatile DEVICEMAP, which is how a PC without serial ports is.
#include "platform/win_types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/serial_port.h"

namespace {

int Open(int n) {
    HANDLE port = OpenPort(static_cast<BYTE>(n));
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("OPEN %d INVALID_HANDLE_VALUE error=%lu\n", n, GetLastError());
        return 0;
    }
    std::printf("OPEN %d ok\n", n);
    ReleasePort(port);
    return 0;
}

int Register(int n, const char* name) {
    HKEY key;
    LONG made = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (made != ERROR_SUCCESS) {
        std::fprintf(stderr, "serial_probe: cannot make the SERIALCOMM key (%ld)\n", made);
        return 1;
    }
    char data[8];
    std::snprintf(data, sizeof data, "COM%d", n);
    LONG set = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                              static_cast<DWORD>(std::strlen(data) + 1));
    RegCloseKey(key);
    if (set != ERROR_SUCCESS) {
        std::fprintf(stderr, "serial_probe: cannot set %s (%ld)\n", name, set);
        return 1;
    }
    std::printf("REGISTERED %d\n", n);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "open") == 0) {
        return Open(std::atoi(argv[2]));
    }
    if (argc == 4 && std::strcmp(argv[1], "register") == 0) {
        return Register(std::atoi(argv[2]), argv[3]);
    }
    std::fprintf(stderr, "usage: serial_probe open N | register N NAME\n");
    return 2;
}
