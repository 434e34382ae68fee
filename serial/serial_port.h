// Opening, configuring, writing to and releasing one serial port, and reading the registered
// ports. Implemented over Win32 in serial_win32.cpp; the native tests link scripted versions.
#pragma once

#include <cstddef>

#include "platform/win_types.h"
#include "serial/discovery.h"
#include "serial/send_result.h"

// Opens port `number` for exclusive, overlapped read/write. INVALID_HANDLE_VALUE on failure.
HANDLE OpenPort(BYTE number);

// Timeouts, then line settings, then a purge of both directions. Returns whether the timeouts and
// the line settings were read and applied; the dialog writes to the port either way.
BOOL ConfigureSerialPort(HANDLE port);

// Writes one frame, waiting at most kWriteWaitMs for the device to take it. A write still
// pending then is cancelled and its completion awaited, so nothing the system still uses is
// freed. Returns TRUE when all `count` bytes were written.
BOOL WriteFrame(const BYTE* bytes, DWORD count, HANDLE port);

void ReleasePort(HANDLE port);

// Fills `table` (kPortTableCapacity entries) from the registry; returns the count.
BYTE ReadRegisteredPorts(BYTE* table);
// The same, with each port's value name in `names` (kPortTableCapacity entries).
BYTE ReadRegisteredPorts(BYTE* table, PortValueName* names);
// brandcli's reading of the same list (ReadWholePortList); no key at all is an empty list.
PortList ListRegisteredPorts(BYTE* table, PortValueName* names, BYTE* count);

// brandcli's whole send to port `number`: open, configure, wait for CTS, write, release. A port
// that refuses its timeouts or line settings gets nothing: the frame would go out at whatever
// speed the port had, and the device would take it for noise. Nor does a device that keeps CTS
// low for the whole wait: an adapter would take the frame into its chip and report it sent. The
// dialog calls none of this.
SendOutcome SendFrameToPort(BYTE number, const BYTE* bytes, DWORD count);
