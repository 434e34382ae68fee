#include "cli/run.h"

#include <set>
#include <string>

#include "cli/exit_codes.h"
#include "cli/report.h"
#include "protocol/built_in_texts.h"
#include "protocol/frames.h"
#include "serial/station.h"

namespace {

// How long one retry waits: short next to the 2 s a new port gets, long enough not to spin.
constexpr unsigned kRetryPauseMs = 100;

void PrintHelp(Reporter& reporter, const char* version) {
    const StationTexts& texts = Texts();
    char text[4096];
    std::snprintf(
        text, sizeof text,
        "brandcli %s - sets the brand of devices on serial ports, for scripts\n"
        "\n"
        "%s\n"
        "\n"
        "  ports           the serial ports, one per line\n"
        "  brand PORT...   send the brand %s to each port, all at once\n"
        "  code PORT...    send the code %s to each port, all at once\n"
        "  watch brand|code\n"
        "                  wait for ports that appear from now on, and send to each as it does;\n"
        "                  Ctrl+C ends it after the sends in flight\n"
        "    --only TEXT   watch: only ports whose name or driver contains TEXT (any case);\n"
        "                  vid=HHHH, pid=HHHH or serial=TEXT: only USB devices whose vendor id,\n"
        "                  product id (hex, any case) or serial number is exactly that\n"
        "    --count N     watch: end after N devices\n"
        "%s"
        "  --json          one JSON record per port on stdout, as each result is known\n"
        "  --help          this text\n"
        "  --version       the version\n"
        "\n"
        "%s"
        "A send opens the port (38400 baud, 8 data bits, no parity, 1 stop bit, CTS flow\n"
        "control), writes one frame once the device raises CTS, waits at most 1 s in all for\n"
        "the device to take it and closes the port again.\n"
        "\n"
        "Exit codes:\n"
        "  0  every port accepted the whole frame (ports, --help, --version: done)\n"
        "  2  usage error: unknown command or option, missing, extra or malformed arguments\n"
        "  4  one port: it could not be opened (missing, in use) or refused the line settings;\n"
        "     nothing was sent. ports: the list of ports could not be read\n"
        "  5  one port: the frame was not written whole: the device did not take it within 1 s\n"
        "     (CTS held low), or the write failed (the adapter went away)\n"
        "  6  several ports, or watch: not every port took its whole frame\n"
        "  7  the output could not be written (a closed pipe, a full disk)\n",
        version, texts.usage, kBuiltInBrand, kBuiltInCode,
        texts.takesIn
            ? "    --in DIR      watch: new entries of DIR instead of the system's ports\n"
            : "",
        texts.portHelp);
    reporter.Out(text);
}

int ListAllPorts(const CliRequest& request, Reporter& reporter) {
    std::vector<PortEntry> ports;
    const char* why = nullptr;
    if (!ListPorts(&ports, &why)) {
        reporter.Line("could not list the ports (%s)", why ? why : "unknown");
        return kExitNotOpened;
    }
    if (request.json) {
        IdentifyPorts(&ports);
    }
    for (const PortEntry& port : ports) {
        if (!reporter.Out(request.json ? PortRecordLine(port) : port.port + "\n")) {
            break;
        }
    }
    return kExitSent;
}

int SendToPorts(const CliRequest& request, Reporter& reporter) {
    std::vector<PortEntry> ports(request.ports.size());
    std::set<std::string> keys;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (!NamePort(request.ports[i], &ports[i])) {
            reporter.Line("\"%s\": not a port name (%s); %s", request.ports[i], Texts().portRule,
                          Texts().usage);
            return kExitUsage;
        }
        if (!keys.insert(ports[i].key).second) {
            reporter.Line("\"%s\": port named twice; %s", request.ports[i], Texts().usage);
            return kExitUsage;
        }
    }
    // Only records show what the system says of a port, and asking costs each port a walk of
    // the system's lists.
    if (request.json) {
        for (PortEntry& port : ports) {
            DescribePort(&port);
        }
        IdentifyPorts(&ports);
    }
    CliFrameBytes frame = FrameFor(request.frame);
    std::vector<PortSend> sends;
    for (const PortEntry& port : ports) {
        sends.push_back(PortSend{&port, &frame, &reporter, 0, true});
    }
    SendAll(sends);
    if (sends.size() > 1) {
        return reporter.Failed() ? kExitSomeFailed : kExitSent;
    }
    return OnePortExit(sends[0].result);
}

}  // namespace

CliFrameBytes FrameFor(CliFrame frame) {
    if (frame == CliFrame::Brand) {
        BrandFrame bytes = BuildBrandFrame(kBuiltInBrand, sizeof kBuiltInBrand - 1);
        return {"brand", std::vector<uint8_t>(bytes.begin(), bytes.end())};
    }
    // BuildCodeFrame gives a frame for any code of at least one byte.
    static_assert(sizeof kBuiltInCode > 1, "the built-in code is empty");
    CodeFrame bytes = *BuildCodeFrame(kBuiltInCode, sizeof kBuiltInCode - 1);
    return {"code", std::vector<uint8_t>(bytes.begin(), bytes.end())};
}

void SendToPort(void* context) {
    PortSend& send = *static_cast<PortSend*>(context);
    uint64_t start = MonotonicMs();
    SendOutcome outcome;
    for (;;) {
        outcome = SendFrame(*send.port, send.frame->bytes.data(), send.frame->bytes.size());
        bool notReady =
            outcome.result == SendResult::NotOpened || outcome.result == SendResult::NotConfigured;
        // A try after an interrupt would be a new send, and the program is asked to end.
        if (!notReady || MonotonicMs() - start + kRetryPauseMs > send.retryMs || Interrupted()) {
            break;
        }
        SleepMs(kRetryPauseMs);
    }
    SendRecord record;
    record.ms = MonotonicMs() - start;
    record.port = send.port;
    record.command = send.frame->command;
    record.frame = send.frame->bytes.data();
    record.frameSize = send.frame->bytes.size();
    record.result = outcome.result;
    record.exit = OnePortExit(outcome.result);
    send.result = outcome.result;
    send.reporter->Result(record, outcome.why, send.quiet);
}

void SendAll(std::vector<PortSend>& sends) {
    // One port needs no thread of its own: the main thread starts its write and, on XP, can
    // still cancel it. A thread costs a start under Wine that the bare calls do not have.
    if (sends.size() == 1) {
        SendToPort(&sends[0]);
        return;
    }
    for (PortSend& send : sends) {
        if (!StartTask(SendToPort, &send)) {
            SendToPort(&send);  // no thread to be had: slower, never skipped
        }
    }
    JoinTasks();
}

int RunBrandcli(int argc, const char* const* argv, FILE* out, FILE* err, const char* version) {
    CliRequest request = ParseCommandLine(argc, argv, Texts().takesIn);
    Reporter reporter(out, err, request.json);
    int code = kExitSent;
    switch (request.command) {
        case CliCommand::Usage:
            if (request.word) {
                reporter.Line("\"%s\": %s; %s", request.word, request.problem, Texts().usage);
            } else {
                reporter.Line("%s; %s", request.problem, Texts().usage);
            }
            return kExitUsage;
        case CliCommand::Help:
            PrintHelp(reporter, version);
            break;
        case CliCommand::Version:
            reporter.Out(std::string("brandcli ") + version + "\n");
            break;
        case CliCommand::Ports:
            code = ListAllPorts(request, reporter);
            break;
        case CliCommand::Send:
            code = SendToPorts(request, reporter);
            break;
        case CliCommand::Watch:
            code = RunWatch(request, reporter);
            break;
    }
    // Only a run that would have succeeded says so by its code: a failed send says more.
    reporter.SayOutputLost();
    return code == kExitSent && reporter.OutputLost() ? kExitNoOutput : code;
}
