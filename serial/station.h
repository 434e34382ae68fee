// What brandcli asks of the system its serial ports live on: naming and listing ports, sending
// one frame to one port, running sends side by side, the clock, interrupts, and waiting for ports
// to appear. The same calls on every system, one implementation each (station_win32.cpp,
// station_linux.cpp); the native tests link a scripted one. Everything above this line
// (cli/) is portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "serial/send_result.h"

// One port as the program names and describes it.
struct PortEntry {
    // The port as records and messages show it: "COM5" (upper case) on Windows, the path as
    // typed (or as found) on Linux.
    std::string port;
    // Equal for two names of one port ("COM5" and "com5"; two paths to one device), so a port
    // named twice can be refused before anything is sent.
    std::string key;
    // What `watch --only TEXT` looks for, in any case: the SERIALCOMM value name on Windows; the
    // entry's name and its driver's name on Linux.
    std::vector<std::string> tags;
    // Optional record fields, in the order they are written ("device", then from IdentifyPorts
    // "vid", "pid", "serial", "product" on Windows; "driver", "by_id", "vid", "pid", "serial",
    // "manufacturer", "product" on Linux). Only known ones.
    std::vector<std::pair<std::string, std::string>> facts;
};

// The texts that differ between systems: the usage synopsis, the port-name rule of a usage
// error, and the lines of --help that describe ports.
struct StationTexts {
    const char* usage;
    const char* portRule;
    const char* portHelp;
    bool takesIn;  // whether `watch --in DIR` exists here
};
const StationTexts& Texts();

// Once, before anything else: catches interrupts (Ctrl+C and the like; SIGINT, SIGTERM,
// SIGHUP) so that they end the program only after the sends in flight, and makes output that
// cannot be written an error instead of a silent death.
void StartStation();

// Checks one port as typed on the command line and names it. False when it is no port name of
// this system (a usage error). Looks, never opens.
bool NamePort(const char* text, PortEntry* entry);

// The serial ports the system has, in the order `ports` prints them, with their tags and facts.
// False, with `why` set, when the system's list could not be read.
bool ListPorts(std::vector<PortEntry>* ports, const char** why);

// Adds to `entry` what the system says of that port (facts and tags), where it knows.
void DescribePort(PortEntry* entry);

// Adds the USB identity (vid, pid, serial, product) to ports listed or described without it:
// Windows reads it through SetupAPI, which only records and field filters should pay for.
// Linux listings and descriptions carry it already, so there it adds nothing.
void IdentifyPorts(std::vector<PortEntry>* ports);

// One whole send: open without sharing, line settings, purge, one write with at most 1 s of
// waiting for the device, release. Blocks; safe to call from several threads at once.
SendOutcome SendFrame(const PortEntry& port, const uint8_t* frame, size_t size);

// Runs task(context) on a thread of its own; false when no thread could be made (the task then
// did not run). Called from the main thread only, as are the two calls below.
bool StartTask(void (*task)(void*), void* context);
// Releases what the tasks that have returned still hold (threads, handles, stacks) and waits for
// none that is still running: a watch that runs for weeks holds only its sends in flight.
void CollectTasks();
// Waits until every started task has returned, and releases them.
void JoinTasks();

// Serialises what concurrent tasks report, so records and lines never interleave.
void LockOutput();
void UnlockOutput();

// Milliseconds on a clock that only moves forward.
uint64_t MonotonicMs();
void SleepMs(unsigned ms);
// Now, UTC, as "2026-12-08T09:15:02.123Z".
std::string UtcTimestamp();

// True once an interrupt, or RequestEnd, asked the program to end.
bool Interrupted();
// Ends the program as an interrupt would: a watch wakes and stops after the sends in flight.
void RequestEnd();

// Watching for new ports. ArmWatch starts watching `place` (null: the system's own list of
// ports; on Linux a folder given with --in) and lists what is there now; a change after that
// wakes the next WaitForChange. Call it again after every wake-up: it re-arms before it reads
// again, so no change is missed. False, with `why` set, when nothing can be watched.
bool ArmWatch(const char* place, std::vector<PortEntry>* ports, const char** why);
// Waits for a change, an interrupt, or a task that has returned (TaskEnded: time to collect it;
// nothing to list again).
enum class WatchWake { Changed, TaskEnded, Interrupted, Failed };
WatchWake WaitForChange();
// Tells the station that the program is about to end: a console that is being closed waits for
// this before it lets the process go.
void StationDone();
