// A scripted station for brandcli's portable core (serial/station.h): sends answer from a per-port
// script after a per-port delay, on real threads, and every send is recorded.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/station.h"

struct StationScript {
    std::map<std::string, SendOutcome> outcomes;  // by port; Sent when not named
    unsigned sendMs = 0;                          // how long every send takes
    std::vector<PortEntry> listed;                // what ListPorts and the first ArmWatch give
    const char* listFails = nullptr;              // ListPorts fails, saying this
    // What each later ArmWatch gives, one step per wake-up; after the last, the watch is
    // interrupted.
    std::vector<std::vector<PortEntry>> watchSteps;
    bool takesIn = false;
    int interruptAtTask = 0;  // the task whose start is interrupted (1 for the first); 0: none
    int tasksStarted = 0;
    // What IdentifyPorts adds to each port named here, and how many ports it was asked about.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> identities;
    size_t identified = 0;

    std::mutex mutex;  // guards what follows, which the sends change from their threads
    std::vector<std::string> sent;  // every SendFrame's port, in the order they started
    int running = 0, mostRunning = 0;

    static StationScript& Current();
    void Reset();
};

// A port as the scripted station names it, with a "device" fact and tag.
PortEntry ScriptedPort(const std::string& port, const std::string& device = "");
