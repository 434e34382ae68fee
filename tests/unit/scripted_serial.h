// A scripted stand-in for the serial layer, linked into the unit tests in place of the Win32
// one: it records every call and answers opens from a per-port script.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win_types.h"

struct SerialScript {
    std::vector<BYTE> registeredPorts;
    std::map<int, bool> openFails;  // port number -> the open fails
    // Call log: "open 3", "configure", "write 42 52 ...", "release".
    std::vector<std::string> calls;
    int heldPorts = 0;  // opens not yet released
    std::vector<std::vector<BYTE>> frames;

    static SerialScript& Current();
    void Reset();
};
