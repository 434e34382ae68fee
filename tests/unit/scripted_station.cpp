#include "tests/unit/scripted_station.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::vector<std::thread> tasks;
std::mutex output;
std::atomic<std::thread::id> outputHolder;
size_t watchStep = 0;
std::atomic<bool> ended{false};

}  // namespace

StationScript& StationScript::Current() {
    static StationScript script;
    return script;
}

void StationScript::Reset() {
    outcomes.clear();
    sendMs = 0;
    listed.clear();
    listFails = nullptr;
    watchSteps.clear();
    takesIn = false;
    identities.clear();
    identified = 0;
    sent.clear();
    running = mostRunning = 0;
    interruptAtTask = tasksStarted = 0;
    watchStep = 0;
    ended = false;
}

PortEntry ScriptedPort(const std::string& port, const std::string& device) {
    PortEntry entry;
    entry.port = port;
    entry.key = port;
    if (!device.empty()) {
        entry.tags.push_back(device);
        entry.facts.emplace_back("device", device);
    }
    return entry;
}

const StationTexts& Texts() {
    static StationTexts texts = {"usage: brandcli PORTS", "P1 to P999", "", false};
    texts.takesIn = StationScript::Current().takesIn;
    return texts;
}

void StartStation() {}

bool NamePort(const char* text, PortEntry* entry) {
    std::string name = text;
    if (name.size() < 2 || (name[0] != 'P' && name[0] != 'p')) {
        return false;
    }
    name[0] = 'P';
    *entry = ScriptedPort(name);
    return true;
}

bool ListPorts(std::vector<PortEntry>* ports, const char** why) {
    *ports = StationScript::Current().listed;
    *why = StationScript::Current().listFails;
    return !*why;
}

void DescribePort(PortEntry* entry) {
    for (const PortEntry& port : StationScript::Current().listed) {
        if (port.port == entry->port) {
            *entry = port;
        }
    }
}

void IdentifyPorts(std::vector<PortEntry>* ports) {
    StationScript& s = StationScript::Current();
    for (PortEntry& port : *ports) {
        const auto& facts = s.identities[port.port];
        port.facts.insert(port.facts.end(), facts.begin(), facts.end());
        ++s.identified;
    }
}

SendOutcome SendFrame(const PortEntry& port, const uint8_t*, size_t) {
    StationScript& s = StationScript::Current();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.sent.push_back(port.port);
        s.mostRunning = std::max(s.mostRunning, ++s.running);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(s.sendMs));
    std::lock_guard<std::mutex> lock(s.mutex);
    --s.running;
    auto scripted = s.outcomes.find(port.port);
    if (scripted == s.outcomes.end()) {
        return SendOutcome{SendResult::Sent, nullptr};
    }
    return scripted->second;
}

bool StartTask(void (*task)(void*), void* context) {
    StationScript& s = StationScript::Current();
    if (++s.tasksStarted == s.interruptAtTask) {
        RequestEnd();  // as if Ctrl+C came while this send was being started
    }
    tasks.emplace_back(task, context);
    return true;
}

// Letting go of ended sends while a watch runs is the Linux soak's to show; here every thread
// is joined at the end.
void CollectTasks() {}

void JoinTasks() {
    for (std::thread& task : tasks) {
        task.join();
    }
    tasks.clear();
}

void LockOutput() {
    output.lock();
    outputHolder = std::this_thread::get_id();
}

void UnlockOutput() {
    outputHolder = std::thread::id();
    output.unlock();
}

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string UtcTimestamp() {
    // Taken outside the output lock, a time could be older than the record before it.
    return outputHolder == std::this_thread::get_id() ? "2026-12-08T09:15:02.123Z"
                                                      : "taken outside the output lock";
}

bool Interrupted() {
    return ended;
}

void RequestEnd() {
    ended = true;
}

bool ArmWatch(const char*, std::vector<PortEntry>* ports, const char**) {
    StationScript& s = StationScript::Current();
    *ports = watchStep == 0 ? s.listed : s.watchSteps[watchStep - 1];
    return true;
}

WatchWake WaitForChange() {
    if (ended || watchStep >= StationScript::Current().watchSteps.size()) {
        return WatchWake::Interrupted;
    }
    ++watchStep;
    return WatchWake::Changed;
}

void StationDone() {}
