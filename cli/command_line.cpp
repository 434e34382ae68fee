#include "cli/command_line.h"

#include <cstring>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

CliRequest Usage(const char* problem, const char* word) {
    CliRequest request;
    request.problem = problem;
    request.word = word;
    return request;
}

}  // namespace

std::optional<BYTE> ParsePortName(const char* text) {
    for (const char* prefix = "COM"; *prefix; ++prefix, ++text) {
        if (Upper(*text) != *prefix) {
            return std::nullopt;
        }
    }
    if (*text < '1' || *text > '9') {
        return std::nullopt;  // no digits, a sign, or a leading zero
    }
    unsigned number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 3; ++text, ++digits) {
        number = number * 10 + static_cast<unsigned>(*text - '0');
    }
    if (*text != '\0' || number > 255) {
        return std::nullopt;
    }
    return static_cast<BYTE>(number);
}

CliRequest ParseCommandLine(int argc, const char* const* argv) {
    if (argc < 2) {
        return Usage("no command", nullptr);
    }
    const char* name = argv[1];
    const struct {
        const char* name;
        CliCommand command;
        bool takesPort;
    } kCommands[] = {
        {"ports", CliCommand::Ports, false},       {"brand", CliCommand::Brand, true},
        {"code", CliCommand::Code, true},          {"--help", CliCommand::Help, false},
        {"--version", CliCommand::Version, false},
    };
    for (const auto& known : kCommands) {
        if (std::strcmp(name, known.name) != 0) {
            continue;
        }
        int words = known.takesPort ? 3 : 2;
        if (argc < words) {
            return Usage("needs a port (COM1 to COM255)", name);
        }
        if (argc > words) {
            return Usage("unexpected argument", argv[words]);
        }
        CliRequest request;
        request.command = known.command;
        if (known.takesPort) {
            std::optional<BYTE> port = ParsePortName(argv[2]);
            if (!port) {
                return Usage("not a port name (COM1 to COM255)", argv[2]);
            }
            request.port = *port;
        }
        return request;
    }
    return Usage("unknown command", name);
}
