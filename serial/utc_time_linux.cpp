#include "serial/utc_time_linux.h"

#include <cstdint>
#include <cstdio>

std::string FormatUtc(const timespec& when) {
    // The civil date of a day count, computed here: gmtime_r reads the time zone file first, a
    // cost every result would pay for nothing.
    int64_t days = static_cast<int64_t>(when.tv_sec) / 86400;
    int64_t seconds = static_cast<int64_t>(when.tv_sec) % 86400;
    int64_t shifted = days + 719468;  // days from 0000-03-01
    int64_t era = shifted / 146097, dayOfEra = shifted % 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03ldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long>(when.tv_nsec / 1000000));
    return text;
}
