// The fixed line settings and timeouts of every opened port. Kept as templates over the Win32
// structures so the native tests can check the exact values on look-alike structs.
#pragma once

#include "platform/win_types.h"

constexpr DWORD kBaudRate = 38400;
// How long a frame write may keep the user interface waiting for the device.
constexpr DWORD kWriteWaitMs = 1000;
// Discard whatever either direction still holds: PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR
// | PURGE_RXCLEAR.
constexpr DWORD kPurgeAll = 0x000F;

// Reads return at once with what is there (the program never reads, but a stray read must not
// block); a write that cannot proceed is ended by the port after 1000 ms per byte plus 1000 ms.
template <class Timeouts>
void SetPortTimeouts(Timeouts& t) {
    t.ReadIntervalTimeout = 0xFFFFFFFF;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 1000;
    t.WriteTotalTimeoutConstant = 1000;
}

// 38400 baud, 8 data bits, no parity, 1 stop bit, output held while CTS is low. Every other field
// keeps the value read from the port.
template <class Dcb>
void SetLineSettings(Dcb& dcb) {
    dcb.BaudRate = kBaudRate;
    dcb.fOutxCtsFlow = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
}
