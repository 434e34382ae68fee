// Timestamps that the Linux side can compare with its own: under Wine the performance counter
// is CLOCK_MONOTONIC_RAW in 100 ns units, so nanoseconds of this clock are nanoseconds of that
// one. bench/bench.py checks the match at the start of every run instead of trusting it.
#pragma once

#include <windows.h>

inline long long NowNs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart, so the product cannot overflow.
    long long seconds = counter.QuadPart / frequency.QuadPart;
    long long rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart;
}
