#include "serial/utc_time_linux.h"

#include <cstdio>

std::string FormatUtc(const timespec& when) {
    struct tm utc = {};
    gmtime_r(&when.tv_sec, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long>(when.tv_nsec / 1000000));
    return text;
}
