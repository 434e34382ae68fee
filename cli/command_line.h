// brandcli's command line, read without any Win32 call so the native tests can check it. Scripts
// depend on what is accepted and on the exit codes, so both are an interface: change neither
// lightly.
#pragma once

#include <optional>

#include "platform/win_types.h"

// Exit codes. 1 and 3 stay unused: the C runtime and a crashing program end with those, and a
// script must not take them for one of brandcli's own answers.
enum CliExit {
    kExitSent = 0,       // the port accepted the whole frame (and ports, --help, --version)
    kExitUsage = 2,      // unknown command, missing, extra or malformed arguments
    kExitNotOpened = 4,  // the port could not be opened; nothing was sent
    kExitNotWritten = 5  // the frame was not written whole; a pending write was cancelled
};

enum class CliCommand { Usage, Ports, Brand, Code, Help, Version };

struct CliRequest {
    CliCommand command = CliCommand::Usage;
    BYTE port = 0;  // Brand and Code: the port to send to
    // Usage: what is wrong, and the word it concerns (null when there is no command at all).
    const char* problem = nullptr;
    const char* word = nullptr;
};

// The one-line synopsis shown with every usage error and atop --help.
constexpr const char kUsage[] =
    "usage: brandcli ports | brand COMn | code COMn | --help | --version";

// "COM" in any case, then 1 to 3 decimal digits without a leading zero, naming port 1 to 255:
// "com5" and "COM255" yes; "COM05", "COM0", "COM256", "\\.\COM5", "5", "COM5:" no. Strict on
// purpose: a script's typo must fail, not reach some other port.
std::optional<BYTE> ParsePortName(const char* text);

// argv[0] is the program; the rest is one command and, for brand and code, its port.
CliRequest ParseCommandLine(int argc, const char* const* argv);
