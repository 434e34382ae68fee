// How one send of a frame to a port ended, on every system.
#pragma once

// Not opened and not configured both mean that nothing was sent.
enum class SendResult { Sent, NotOpened, NotConfigured, NotWritten };

struct SendOutcome {
    SendResult result = SendResult::NotOpened;
    // For NotOpened and NotWritten, where the system knows why: the rest of the one stderr line
    // after "PORT: " ("could not open the port (in use or missing)", "not a serial port").
    // Static text; null otherwise.
    const char* why = nullptr;
};
