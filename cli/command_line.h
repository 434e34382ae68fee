// brandcli's command line, read without any system call so the native tests can check it.
// Scripts depend on what is accepted, so it is an interface: change it only with care.
//
//   brandcli ports [--json]
//   brandcli brand PORT... [--json]          (and code)
//   brandcli watch brand|code [--only TEXT|vid=HHHH|pid=HHHH|serial=TEXT] [--count N] [--in DIR]
//                                             [--json]
//   brandcli --help | --version
//
// Options may stand anywhere after the program name; one the command does not take is a usage
// error. Ports are checked by the system's own rules later (serial/station.h): here they are
// only collected.
#pragma once

#include <vector>

enum class CliCommand { Usage, Ports, Send, Watch, Help, Version };
enum class CliFrame { Brand, Code };

// At most this many ports in one call: as many as Windows numbers.
constexpr unsigned kMaxPorts = 255;

struct CliRequest {
    CliCommand command = CliCommand::Usage;
    CliFrame frame = CliFrame::Brand;  // Send and Watch
    std::vector<const char*> ports;    // Send: as typed, in order
    bool json = false;
    unsigned long count = 0;     // Watch: end after this many devices; 0 for no end
    const char* only = nullptr;  // Watch: only ports whose tags contain this text
    // Watch, with `--only vid=2341`, `pid=8036` or `serial=SN0001`: the field ("vid", "pid",
    // "serial") whose value must be `only` exactly (vid and pid in any case); null for text.
    const char* onlyField = nullptr;
    const char* in = nullptr;  // Watch: the folder to watch instead of the system's list
    // Usage: what is wrong, and the word it concerns (null when there is no command at all).
    const char* problem = nullptr;
    const char* word = nullptr;
};

// The usage problems, one text each, so a test can tell them apart.
namespace cli_problem {
constexpr const char kNoCommand[] = "no command";
constexpr const char kUnknownCommand[] = "unknown command";
constexpr const char kUnknownOption[] = "unknown option";
constexpr const char kNeedsPort[] = "needs at least one port";
constexpr const char kTooManyPorts[] = "more than 255 ports";
constexpr const char kNeedsFrame[] = "needs brand or code";
constexpr const char kUnexpected[] = "unexpected argument";
constexpr const char kNotTaken[] = "this command does not take that option";
constexpr const char kTwice[] = "option given twice";
constexpr const char kNeedsNumber[] = "needs a number from 1 to 1000000";
constexpr const char kNeedsText[] = "needs a text";
constexpr const char kNeedsFolder[] = "needs a folder";
constexpr const char kNeedsHex[] = "needs four hex digits after vid= or pid=";
}  // namespace cli_problem

// argv[0] is the program. `takesIn`: whether this system has `watch --in DIR`.
CliRequest ParseCommandLine(int argc, const char* const* argv, bool takesIn);
