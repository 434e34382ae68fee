// Port numbers: from the registry's description of a port, and from a port name typed by a user.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/win_types.h"

// The registry data of a serial port is its device name ("COM3"). The number is read like atoi
// from everything after the first three bytes: leading blanks, an optional sign, then decimal
// digits up to the first other byte. No digits gives 0 ("COM", "COMX1"), as the port list has
// always shown. The text ends at the first NUL or at `size`, whichever comes first, since the
// registry does not promise a terminator.
//
// Returns nothing for a number outside 0..255: such a value names no port this program can
// address, and cutting it to 8 bits would send frames to an unrelated port (COM300 -> COM44).
std::optional<BYTE> ParsePortNumber(const BYTE* data, size_t size);

// A port name as a user types it: "COM" in any case, then 1 to 3 decimal digits without a leading
// zero, naming port 1 to 255: "com5" and "COM255" yes; "COM05", "COM0", "COM256", "\\.\COM5",
// "5", "COM5:" no. Strict on purpose: a script's typo must fail, not reach some other port.
std::optional<BYTE> ParsePortName(const char* text);
