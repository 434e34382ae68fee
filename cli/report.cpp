#include "cli/report.h"

#include <cstdarg>

#include "cli/exit_codes.h"

void Reporter::Result(SendRecord record, const char* why, bool quiet) {
    LockOutput();
    record.time = UtcTimestamp();
    if (m_json) {
        Out(SendRecordLine(record));
    }
    const char* port = record.port->port.c_str();
    switch (record.result) {
        case SendResult::Sent:
            if (!quiet) {
                std::fprintf(m_err, "%s: took the %s frame\n", port, record.command);
            }
            break;
        case SendResult::NotOpened:
            std::fprintf(m_err, "%s: %s\n", port, why ? why : "could not open the port");
            break;
        case SendResult::NotConfigured:
            std::fprintf(
                m_err, "%s: the port opened but refused the line settings (device gone?)\n", port);
            break;
        case SendResult::NotWritten:
            std::fprintf(m_err, "%s: %s\n", port,
                         why ? why
                             : "the frame was not written whole (the device did not take it "
                               "within 1 s, or the write failed)");
            break;
    }
    std::fflush(m_err);
    if (record.result != SendResult::Sent) {
        ++m_failed;
    }
    if (m_outputLost) {
        RequestEnd();  // a watch whose records go nowhere must not go on sending
    }
    UnlockOutput();
}

bool Reporter::Out(const std::string& text) {
    if (m_outputLost) {
        return false;  // a record after a lost one would leave a hole nobody sees
    }
    bool whole = std::fwrite(text.data(), 1, text.size(), m_out) == text.size();
    if (!whole || std::fflush(m_out) != 0 || std::ferror(m_out)) {
        m_outputLost = true;
    }
    return !m_outputLost;
}

void Reporter::Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("brandcli: ", m_err);
    std::vfprintf(m_err, format, args);
    std::fputc('\n', m_err);
    std::fflush(m_err);
    va_end(args);
}

void Reporter::SayOutputLost() {
    if (m_outputLost && !m_saidLost) {
        m_saidLost = true;
        Line("the output could not be written (a closed pipe or a full disk?)");
    }
}

int OnePortExit(SendResult result) {
    switch (result) {
        case SendResult::Sent:
            return kExitSent;
        case SendResult::NotOpened:
        case SendResult::NotConfigured:
            return kExitNotOpened;
        case SendResult::NotWritten:
            break;
    }
    return kExitNotWritten;
}
