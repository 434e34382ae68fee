// Where brandcli's results go: a record on stdout with --json, a line on stderr for each port that
// failed, and the tally the exit code is made of. Safe to use from concurrent sends.
#pragma once

#include <cstdio>
#include <string>

#include "cli/record.h"

class Reporter {
public:
    Reporter(FILE* out, FILE* err, bool json) : m_out(out), m_err(err), m_json(json) {}

    // One port's result: its record, and its stderr line when it failed (`why`, where the
    // system said why; `quiet`: successes say nothing there, as a one-port call never has).
    // Flushed before it returns. The record's time is taken here, in turn with the other
    // records, so the stream is in time order.
    void Result(SendRecord record, const char* why, bool quiet);
    // Writes `text` to stdout; false (and remembered) when it could not be written whole.
    bool Out(const std::string& text);
    // A line of the program's own on stderr ("brandcli: ..."), flushed.
    void Line(const char* format, ...);

    unsigned long Failed() const { return m_failed; }
    bool OutputLost() const { return m_outputLost; }
    // Says once on stderr that the output was lost; the exit code tells the rest.
    void SayOutputLost();

private:
    FILE* m_out;
    FILE* m_err;
    bool m_json;
    unsigned long m_failed = 0;
    bool m_outputLost = false;
    bool m_saidLost = false;
};

// The exit code a one-port call gives for its port's result.
int OnePortExit(SendResult result);
