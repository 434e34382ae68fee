// The JSON records of `--json`: one object a line, each written whole. A record is an interface
// that production lines keep and parse, so its fields change only with care (README, "Records").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/station.h"

// What one port's send gave, as its record tells it.
struct SendRecord {
    std::string time;  // UTC, when the record was written
    const PortEntry* port;
    const char* command;  // "brand" or "code"
    const uint8_t* frame;
    size_t frameSize;
    SendResult result;
    int exit;     // what a one-port call would have given
    uint64_t ms;  // from the start of the port's open to its result
};

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 (a Linux path may hold any)
// become \u00XX, so a record always parses.
std::string JsonString(const std::string& text);

// "sent", "not-opened", "not-configured", "not-written".
const char* ResultName(SendResult result);

// One line each, ending in "\n".
std::string SendRecordLine(const SendRecord& record);
std::string PortRecordLine(const PortEntry& port);
