// brandcli watch: sends the frame to every port that appears while it runs, each on a thread of its
// own, so one device that does not take its frame never holds up the next one plugged in.
#include <atomic>
#include <list>
#include <set>
#include <string>

#include "cli/exit_codes.h"
#include "cli/report.h"
#include "cli/run.h"
#include "serial/station.h"

namespace {

// Drivers register a port before it can be used: a new port gets this long to open and take
// its settings before it counts as failed.
constexpr unsigned kNewPortRetryMs = 2000;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += Lower(c);
    }
    return lower;
}

// A field filter matches its field exactly (vid and pid are hex, in any case); a port whose
// field is unknown never matches. A plain text matches any tag that contains it, in any case.
bool Wanted(const PortEntry& port, const CliRequest& request) {
    if (!request.only) {
        return true;
    }
    std::string only = request.only;
    if (request.onlyField) {
        bool exact = std::string(request.onlyField) == "serial";
        for (const auto& fact : port.facts) {
            if (fact.first == request.onlyField) {
                return exact ? fact.second == only : Lower(fact.second) == Lower(only);
            }
        }
        return false;
    }
    for (const std::string& tag : port.tags) {
        if (Lower(tag).find(Lower(only)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// One device's send, with what its task reads, for as long as the task runs.
struct WatchSend {
    explicit WatchSend(const PortEntry& entry) : port(entry) {}
    PortEntry port;
    PortSend send = {};
    std::atomic<bool> ended{false};
};

void SendOnce(void* context) {
    WatchSend& own = *static_cast<WatchSend*>(context);
    SendToPort(&own.send);
    own.ended = true;  // the task's last touch: from here the watch may drop it
}

}  // namespace

int RunWatch(const CliRequest& request, Reporter& reporter) {
    CliFrameBytes frame = FrameFor(request.frame);
    std::vector<PortEntry> present;
    const char* why = nullptr;
    if (!ArmWatch(request.in, &present, &why)) {
        reporter.Line("cannot watch for new ports (%s)", why ? why : "unknown");
        return kExitSomeFailed;
    }
    reporter.Line("waiting for new serial ports to send the %s frame to; Ctrl+C ends",
                  frame.command);

    // Ports there at the start are never sent to; one that goes away and comes back is a new
    // device. Only the sends in flight are kept: each ended one is dropped at the next wake.
    std::set<std::string> previous;
    for (const PortEntry& port : present) {
        previous.insert(port.port);
    }
    std::list<WatchSend> sends;
    unsigned long met = 0;
    bool watchLost = false;
    while (!(request.count && met >= request.count)) {
        WatchWake wake = WaitForChange();
        CollectTasks();
        sends.remove_if([](const WatchSend& send) { return send.ended.load(); });
        if (wake == WatchWake::Failed) {
            watchLost = true;
            break;
        }
        if (wake == WatchWake::Interrupted || Interrupted()) {
            break;
        }
        if (wake == WatchWake::TaskEnded) {
            continue;
        }
        std::vector<PortEntry> now;
        if (!ArmWatch(request.in, &now, &why)) {
            watchLost = true;
            break;
        }
        // Ports there before this wake were sent to then, or never are.
        std::set<std::string> current;
        std::vector<PortEntry> fresh;
        for (const PortEntry& port : now) {
            current.insert(port.port);
            if (!previous.count(port.port)) {
                fresh.push_back(port);
            }
        }
        // Only records and field filters show a port's identity; on Windows it costs a load of
        // SetupAPI and a walk of its devices, so only the new ports are asked about.
        if (request.json || request.onlyField) {
            IdentifyPorts(&fresh);
        }
        for (const PortEntry& port : fresh) {
            if (!Wanted(port, request) || (request.count && met >= request.count) ||
                Interrupted()) {
                continue;
            }
            sends.emplace_back(port);
            WatchSend& own = sends.back();
            own.send = PortSend{&own.port, &frame, &reporter, kNewPortRetryMs, false};
            ++met;
            if (!StartTask(SendOnce, &own)) {
                SendOnce(&own);  // no thread to be had: slower, never skipped
            }
        }
        previous.swap(current);
    }
    JoinTasks();
    if (watchLost) {
        reporter.Line("stopped watching for new ports (%s)", why ? why : "the watch failed");
        return kExitSomeFailed;
    }
    return reporter.Failed() ? kExitSomeFailed : kExitSent;
}
