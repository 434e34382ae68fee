#include "cli/record.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at `s` (of `left` bytes), or 0 when there is none:
// no overlong forms, no surrogates, nothing past U+10FFFF.
size_t Utf8Length(const unsigned char* s, size_t left) {
    unsigned char c = s[0];
    size_t length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (length == 0 || length > left) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    if ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] > 0x9F) || (c == 0xF0 && s[1] < 0x90) ||
        (c == 0xF4 && s[1] > 0x8F)) {
        return 0;
    }
    return length;
}

void AppendField(std::string& line, const char* name, const std::string& json) {
    line += ",\"";
    line += name;
    line += "\":";
    line += json;
}

void AppendFacts(std::string& line, const PortEntry& port) {
    for (const auto& fact : port.facts) {
        AppendField(line, fact.first.c_str(), JsonString(fact.second));
    }
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t size = text.size();
    for (size_t i = 0; i < size;) {
        unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            json += static_cast<char>(c);
            ++i;
        } else if (size_t length = c >= 0x80 ? Utf8Length(s + i, size - i) : 0) {
            json.append(text, i, length);
            i += length;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
            ++i;
        }
    }
    return json + "\"";
}

const char* ResultName(SendResult result) {
    switch (result) {
        case SendResult::Sent:
            return "sent";
        case SendResult::NotOpened:
            return "not-opened";
        case SendResult::NotConfigured:
            return "not-configured";
        case SendResult::NotWritten:
            break;
    }
    return "not-written";
}

std::string SendRecordLine(const SendRecord& record) {
    std::string frame;
    for (size_t i = 0; i < record.frameSize; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", record.frame[i]);
        frame += hex;
    }
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, ",\"exit\":%d,\"ms\":%lu", record.exit,
                  static_cast<unsigned long>(record.ms));
    std::string line = "{\"time\":" + JsonString(record.time);
    AppendField(line, "port", JsonString(record.port->port));
    AppendField(line, "command", JsonString(record.command));
    AppendField(line, "frame", "\"" + frame + "\"");
    AppendField(line, "result", JsonString(ResultName(record.result)));
    line += numbers;
    AppendFacts(line, *record.port);
    return line + "}\n";
}

std::string PortRecordLine(const PortEntry& port) {
    std::string line = "{\"port\":" + JsonString(port.port);
    AppendFacts(line, port);
    return line + "}\n";
}
