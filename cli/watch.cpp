// brandcli watch: sends the frame to every port that appears while it runs, each on a thread of its
// own, so one device that does not take its frame never holds up the next one plugged in.
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

bool Contains(const std::string& text, const char* part) {
    std::string a, b;
    for (char c : text) {
        a += Lower(c);
    }
    for (; *part; ++part) {
        b += Lower(*part);
    }
    return a.find(b) != std::string::npos;
}

bool Wanted(const PortEntry& port, const char* only) {
    if (!only) {
        return true;
    }
    for (const std::string& tag : port.tags) {
        if (Contains(tag, only)) {
            return true;
        }
    }
    return false;
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
    // device. Lists keep every send's port and record where its task can reach them.
    std::set<std::string> previous;
    for (const PortEntry& port : present) {
        previous.insert(port.port);
    }
    std::list<PortEntry> ports;
    std::list<PortSend> sends;
    unsigned long met = 0;
    bool watchLost = false;
    while (!(request.count && met >= request.count)) {
        WatchWake wake = WaitForChange();
        if (wake != WatchWake::Changed || Interrupted()) {
            watchLost = wake == WatchWake::Failed;
            break;
        }
        std::vector<PortEntry> now;
        if (!ArmWatch(request.in, &now, &why)) {
            watchLost = true;
            break;
        }
        std::set<std::string> current;
        for (const PortEntry& port : now) {
            current.insert(port.port);
            if (previous.count(port.port) || !Wanted(port, request.only) ||
                (request.count && met >= request.count)) {
                continue;
            }
            ports.push_back(port);
            sends.push_back(PortSend{&ports.back(), &frame, &reporter, kNewPortRetryMs, false});
            ++met;
            if (!StartTask(SendToPort, &sends.back())) {
                SendToPort(&sends.back());
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
