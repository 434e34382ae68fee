// brandcli from its command line to its exit code, over the calls of serial/station.h: the same
// on every system. Output goes to `out` and `err`, so the native tests can read it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "cli/command_line.h"
#include "serial/send_result.h"

class Reporter;
struct PortEntry;

// The frame a command sends, and the name records give it.
struct CliFrameBytes {
    const char* command;
    std::vector<uint8_t> bytes;
};
CliFrameBytes FrameFor(CliFrame frame);

int RunBrandcli(int argc, const char* const* argv, FILE* out, FILE* err);

// Sends the frame to one port and reports the result; `retryMs`: how long a port that does not
// open or take its settings is tried again (a port just registered may not be ready yet).
struct PortSend {
    const PortEntry* port;
    const CliFrameBytes* frame;
    Reporter* reporter;
    unsigned retryMs;
    bool quiet;                                 // successes say nothing on stderr
    SendResult result = SendResult::NotOpened;  // filled in by the send
};
void SendToPort(void* portSend);  // a task for StartTask; takes a PortSend*

// Runs every send on a thread of its own at once and waits for them all.
void SendAll(std::vector<PortSend>& sends);

// The watch command (watch.cpp).
int RunWatch(const CliRequest& request, Reporter& reporter);
