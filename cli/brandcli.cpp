// brandcli: one Set press of the brand dialog from a command line, for scripts that set many
// devices. It sends only the built-in brand or code, through the dialog's own serial layer, and
// unlike the dialog it says whether the port took the whole frame: in its exit code and in one
// line on stderr. It keeps no files or settings.
#include "platform/win_types.h"  // lean windows.h: winspool.h would rename ConfigureSerialPort

#include <cstdio>

#include "cli/command_line.h"
#include "protocol/built_in_texts.h"
#include "protocol/frames.h"
#include "serial/discovery.h"
#include "serial/serial_port.h"
#include "version.h"
#include "version_label.h"

namespace {

void PrintHelp() {
    std::printf(
        "brandcli %s - sets the brand of a device on a serial port, for scripts\n"
        "\n"
        "%s\n"
        "\n"
        "  ports        the registered serial ports, one per line (COM3), in registry order\n"
        "  brand COMn   send the brand %s to port COMn\n"
        "  code COMn    send the code %s to port COMn\n"
        "  --help       this text\n"
        "  --version    the version\n"
        "\n"
        "COMn is COM1 to COM255 in any case, without leading zeros; it is tried whether or not\n"
        "Windows lists it. A send opens the port (38400 baud, 8 data bits, no parity, 1 stop\n"
        "bit, CTS flow control), writes one frame, waits at most 1 s for the device to take it\n"
        "and closes the port again.\n"
        "\n"
        "Exit codes:\n"
        "  0  the port accepted the whole frame (ports, --help, --version: done)\n"
        "  2  usage error: unknown command, missing, extra or malformed arguments\n"
        "  4  the port could not be opened (missing, or in use); nothing was sent\n"
        "  5  the frame was not written whole: the device did not take it within 1 s\n"
        "     (CTS held low), or the write failed (the adapter went away)\n",
        BRAND_VERSION_DOTTED, kUsage, kBuiltInBrand, kBuiltInCode);
}

// COM0, which a registry value without digits gives, is left out: no brand call accepts it.
void ListPorts() {
    BYTE table[kPortTableCapacity];
    BYTE count = ReadRegisteredPorts(table);
    for (BYTE i = 0; i < count; ++i) {
        if (table[i] != 0) {
            std::printf("COM%d\n", table[i]);
        }
    }
}

int Send(BYTE number, const BYTE* bytes, DWORD count) {
    HANDLE port = OpenPort(number);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "COM%d: could not open the port (in use or missing)\n", number);
        return kExitNotOpened;
    }
    ConfigureSerialPort(port);
    BOOL whole = WriteFrame(bytes, count, port);
    ReleasePort(port);
    if (!whole) {
        std::fprintf(stderr,
                     "COM%d: the frame was not written whole (the device did not take it "
                     "within 1 s, or the write failed)\n",
                     number);
        return kExitNotWritten;
    }
    return kExitSent;
}

}  // namespace

int main(int argc, char** argv) {
    CliRequest request = ParseCommandLine(argc, argv);
    switch (request.command) {
        case CliCommand::Ports:
            ListPorts();
            return kExitSent;
        case CliCommand::Brand: {
            BrandFrame frame = BuildBrandFrame(kBuiltInBrand, sizeof kBuiltInBrand - 1);
            return Send(request.port, frame.data(), static_cast<DWORD>(frame.size()));
        }
        case CliCommand::Code: {
            // BuildCodeFrame gives a frame for any code of at least one byte.
            static_assert(sizeof kBuiltInCode > 1, "the built-in code is empty");
            CodeFrame frame = *BuildCodeFrame(kBuiltInCode, sizeof kBuiltInCode - 1);
            return Send(request.port, frame.data(), static_cast<DWORD>(frame.size()));
        }
        case CliCommand::Help:
            PrintHelp();
            return kExitSent;
        case CliCommand::Version:
            std::printf("brandcli %s\n", BRAND_VERSION_LABEL);
            return kExitSent;
        case CliCommand::Usage:
            break;
    }
    if (request.word) {
        std::fprintf(stderr, "brandcli: \"%s\": %s; %s\n", request.word, request.problem, kUsage);
    } else {
        std::fprintf(stderr, "brandcli: %s; %s\n", request.problem, kUsage);
    }
    return kExitUsage;
}
