// The time of a record on Linux, apart from the clock so that the native tests can give it any
// date (2038 is when a 32-bit time_t runs out).
#pragma once

#include <time.h>

#include <string>

// `when` (UTC) as "2026-12-08T09:15:02.123Z", milliseconds cut, not rounded.
std::string FormatUtc(const timespec& when);
