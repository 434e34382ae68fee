// Asks Wine whether a port opens right now, without sending anything: the fault tests use it to
// know which status the dialog must show for a port they have just changed.
//
//   open N      OPEN N ok | OPEN N INVALID_HANDLE_VALUE error=E
#include "platform/win_types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/serial_port.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "open") != 0) {
        std::fprintf(stderr, "usage: serial_probe open N\n");
        return 2;
    }
    int n = std::atoi(argv[2]);
    HANDLE port = OpenPort(static_cast<BYTE>(n));
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("OPEN %d INVALID_HANDLE_VALUE error=%lu\n", n, GetLastError());
        return 0;
    }
    std::printf("OPEN %d ok\n", n);
    ReleasePort(port);
    return 0;
}
