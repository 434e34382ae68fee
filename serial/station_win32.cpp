// brandcli's station on Windows: ports are COM1 to COM255, listed and watched through the
// SERIALCOMM registry key, sent to through the dialog's own serial layer, each send on a thread
// of its own (tasks_win32.cpp; CancelIo on XP cancels only the calling thread's I/O, so a send's
// write must be started and ended by one thread).
#include "platform/win_types.h"  // lean windows.h: winspool.h would rename ConfigureSerialPort

#include <cstdio>

#include "serial/port_number.h"
#include "serial/serial_port.h"
#include "serial/station.h"
#include "serial/tasks_win32.h"

namespace {

const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char kDeviceMapKey[] = "HARDWARE\\DEVICEMAP";

CRITICAL_SECTION outputLock;
HANDLE endEvent;   // set by an interrupt or RequestEnd: a watch stops waiting
HANDLE doneEvent;  // set when the program is about to end: a closing console may let it go
HANDLE watchEvent;
HKEY watchedKey;
volatile LONG interrupted;

void AskToEnd() {
    InterlockedExchange(&interrupted, 1);
    SetEvent(endEvent);
}

// Runs on a thread of the system's. Ctrl+C and Ctrl+Break only ask: the sends in flight finish
// first. A console being closed (or a logoff, a shutdown) ends the process once this returns,
// so it waits here until the sends are done, within the few seconds the system allows.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    AskToEnd();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(doneEvent, 4500);
    }
    return TRUE;
}

PortEntry EntryFor(BYTE number, const char* valueName) {
    char name[8];
    std::snprintf(name, sizeof name, "COM%d", number);
    PortEntry entry;
    entry.port = name;
    entry.key = name;
    if (valueName) {
        entry.tags.push_back(valueName);
        entry.facts.emplace_back("device", valueName);
    }
    return entry;
}

// The registered ports with the dialog's rules; COM0, which a value without digits gives, is
// left out: no send accepts it. False, with `why` set, when the list could not be read whole.
bool ReadPorts(std::vector<PortEntry>* ports, const char** why) {
    BYTE table[kPortTableCapacity];
    PortValueName names[kPortTableCapacity];
    BYTE count = 0;
    PortList list = ListRegisteredPorts(table, names, &count);
    ports->clear();
    if (list != PortList::Read) {
        *why = list == PortList::Unreadable
                   ? "the registry key HARDWARE\\DEVICEMAP\\SERIALCOMM could not be read"
                   : "the registry key HARDWARE\\DEVICEMAP\\SERIALCOMM kept changing";
        return false;
    }
    for (BYTE i = 0; i < count; ++i) {
        if (table[i] != 0) {
            ports->push_back(EntryFor(table[i], names[i]));
        }
    }
    return true;
}

const StationTexts kTexts = {
    "usage: brandcli ports | brand COMn... | code COMn... | watch brand|code [--only TEXT] "
    "[--count N] | --help | --version; --json with any but the last two",
    "COM1 to COM255",
    "COMn is COM1 to COM255 in any case, without leading zeros; it is tried whether or not\n"
    "Windows lists it. Up to 255 ports in one call, none twice.\n\n",
    false,
};

}  // namespace

const StationTexts& Texts() {
    return kTexts;
}

void StartStation() {
    InitializeCriticalSection(&outputLock);
    endEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    doneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool NamePort(const char* text, PortEntry* entry) {
    std::optional<BYTE> number = ParsePortName(text);
    if (!number) {
        return false;
    }
    *entry = EntryFor(*number, nullptr);
    return true;
}

bool ListPorts(std::vector<PortEntry>* ports, const char** why) {
    return ReadPorts(ports, why);
}

void DescribePort(PortEntry* entry) {
    std::vector<PortEntry> ports;
    const char* why;
    ReadPorts(&ports, &why);  // a port the list does not show is described by its name alone
    for (const PortEntry& port : ports) {
        if (port.port == entry->port) {
            entry->tags = port.tags;
            entry->facts = port.facts;
            return;
        }
    }
}

SendOutcome SendFrame(const PortEntry& port, const uint8_t* frame, size_t size) {
    std::optional<BYTE> number = ParsePortName(port.port.c_str());
    SendOutcome outcome;
    if (number) {
        outcome = SendFrameToPort(*number, frame, static_cast<DWORD>(size));
    }
    if (outcome.result == SendResult::NotOpened) {
        outcome.why = "could not open the port (in use or missing)";
    }
    return outcome;
}

void LockOutput() {
    EnterCriticalSection(&outputLock);
}

void UnlockOutput() {
    LeaveCriticalSection(&outputLock);
}

uint64_t MonotonicMs() {
    // GetTickCount64 is not on XP; the performance counter is, and never goes back.
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

void SleepMs(unsigned ms) {
    Sleep(ms);
}

std::string UtcTimestamp() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

bool Interrupted() {
    return InterlockedCompareExchange(&interrupted, 0, 0) != 0;
}

void RequestEnd() {
    AskToEnd();
}

bool ArmWatch(const char*, std::vector<PortEntry>* ports, const char** why) {
    if (!watchEvent) {
        watchEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    if (watchedKey) {
        RegCloseKey(watchedKey);
        watchedKey = nullptr;
    }
    // A PC with no serial port has no SERIALCOMM key until the first one registers: watch the
    // key above it, with its subtree, until it is there. Asked again after arming the parent,
    // so a key made in between is not missed.
    const DWORD kChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    for (bool parentArmed = false;;) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ | KEY_NOTIFY, &key) ==
            ERROR_SUCCESS) {
            if (watchedKey) {
                RegCloseKey(watchedKey);
            }
            watchedKey = key;
            if (RegNotifyChangeKeyValue(key, FALSE, kChanges, watchEvent, TRUE) != ERROR_SUCCESS) {
                *why = "the registry refused to report changes";
                return false;
            }
            break;
        }
        if (parentArmed) {
            break;
        }
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_NOTIFY, &watchedKey) !=
                ERROR_SUCCESS ||
            RegNotifyChangeKeyValue(watchedKey, TRUE, kChanges, watchEvent, TRUE) !=
                ERROR_SUCCESS) {
            *why = "the registry refused to report changes";
            return false;
        }
        parentArmed = true;
    }
    return ReadPorts(ports, why);
}

WatchWake WaitForChange() {
    // The end first: a wait that finds several set reports the first of them.
    HANDLE events[3] = {endEvent, watchEvent, TaskEndedEvent()};
    switch (WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            return WatchWake::Interrupted;
        case WAIT_OBJECT_0 + 1:
            return WatchWake::Changed;
        case WAIT_OBJECT_0 + 2:
            return WatchWake::TaskEnded;
        default:
            return WatchWake::Failed;
    }
}

void StationDone() {
    SetEvent(doneEvent);
}
