// One send to one port on Linux: look, open without sharing, line settings read back, purge,
// a wait for CTS and one write within one deadline, release. Every system call goes through
// posix_calls.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/station.h"
#include "serial/sysfs_ports.h"

// How long a device may take to raise CTS and accept the whole frame, from the look at CTS on.
constexpr unsigned kWriteDeadlineMs = 1000;

// The reasons a port was not opened, as the rest of its stderr line.
extern const char kWhyMissing[];
extern const char kWhyNotSerial[];
extern const char kWhyInUse[];
extern const char kWhyDenied[];
extern const char kWhyNotOpened[];

SendOutcome SendToPath(const SysRoots& roots, const char* path, const uint8_t* frame, size_t size);
