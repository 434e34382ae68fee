#include "tests/unit/scripted_serial.h"

#include <cstdio>
#include <cstdint>

#include "serial/discovery.h"
#include "serial/serial_port.h"

namespace {

// Handles are fake but distinct and never 0 or INVALID_HANDLE_VALUE.
uintptr_t nextHandle = 0x1000;

}  // namespace

SerialScript& SerialScript::Current() {
    static SerialScript script;
    return script;
}

void SerialScript::Reset() {
    *this = SerialScript();
}

HANDLE OpenPort(BYTE number) {
    SerialScript& s = SerialScript::Current();
    s.calls.push_back("open " + std::to_string(number));
    if (s.openFails[number]) {
        return INVALID_HANDLE_VALUE;
    }
    ++s.heldPorts;
    return reinterpret_cast<HANDLE>(nextHandle += 0x10);
}

BOOL ConfigureSerialPort(HANDLE) {
    SerialScript::Current().calls.push_back("configure");
    return TRUE;
}

BOOL WriteFrame(const BYTE* bytes, DWORD count, HANDLE port) {
    SerialScript& s = SerialScript::Current();
    std::string call = "write";
    char hex[4];
    for (DWORD i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        call += hex;
    }
    if (port == nullptr || port == INVALID_HANDLE_VALUE) {
        call += " (no port)";
    }
    s.calls.push_back(call);
    s.frames.emplace_back(bytes, bytes + count);
    return TRUE;
}

void ReleasePort(HANDLE port) {
    SerialScript& s = SerialScript::Current();
    s.calls.push_back(port == nullptr || port == INVALID_HANDLE_VALUE ? "release (no port)"
                                                                      : "release");
    --s.heldPorts;
}

BYTE ReadRegisteredPorts(BYTE* table) {
    SerialScript& s = SerialScript::Current();
    size_t count = 0;
    for (BYTE port : s.registeredPorts) {
        if (count == kPortTableCapacity) {
            break;
        }
        table[count++] = port;
    }
    return static_cast<BYTE>(count);
}
