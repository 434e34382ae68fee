// A record's time on Linux past January 2038, where a 32-bit time_t would say 1970 or 1901.
#include "serial/utc_time_linux.h"

#include <gtest/gtest.h>

namespace {

TEST(UtcTime, RecordsAfter2038KeepTheirDate) {
    timespec leapDay2040 = {};
    leapDay2040.tv_sec = 2214172798;  // 2040-02-29 23:59:58 UTC
    leapDay2040.tv_nsec = 999999999;  // cut to .999, never rounded into the next second
    EXPECT_EQ(FormatUtc(leapDay2040), "2040-02-29T23:59:58.999Z");
}

}  // namespace
