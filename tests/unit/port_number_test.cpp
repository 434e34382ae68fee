#include "serial/port_number.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The value data as RegEnumValueA returns it: the text and its terminating NUL.
std::optional<BYTE> Parse(const std::string& text) {
    return ParsePortNumber(reinterpret_cast<const BYTE*>(text.c_str()), text.size() + 1);
}

TEST(PortNumber, DigitsAfterThePrefix) {
    EXPECT_EQ(Parse("COM1"), 1);
    EXPECT_EQ(Parse("COM12"), 12);
    EXPECT_EQ(Parse("COM123"), 123);
    EXPECT_EQ(Parse("COM255"), 255);
    EXPECT_EQ(Parse("COM007"), 7);
    EXPECT_EQ(Parse("COM 7"), 7);  // atoi skips leading blanks
    EXPECT_EQ(Parse("COM+9"), 9);
}

TEST(PortNumber, NoDigitsGiveZero) {
    EXPECT_EQ(Parse("COM"), 0);
    EXPECT_EQ(Parse("COMX1"), 0);
    EXPECT_EQ(Parse("COM0"), 0);
    EXPECT_EQ(Parse(""), 0);
}

TEST(PortNumber, NumbersNoPortCanHaveAreRejectedNotWrapped) {
    EXPECT_EQ(Parse("COM256"), std::nullopt);
    EXPECT_EQ(Parse("COM300"), std::nullopt);
    EXPECT_EQ(Parse("COM-1"), std::nullopt);
    EXPECT_EQ(Parse("COM99999999999999999999"), std::nullopt);
    EXPECT_EQ(Parse("COM-0"), 0);
}

TEST(PortNumber, TextEndsAtTheDataNotAtAMissingTerminator) {
    // "COM12" followed by digits the registry did not return: only 5 bytes are data.
    const BYTE data[] = {'C', 'O', 'M', '1', '2', '3', '4'};
    EXPECT_EQ(ParsePortNumber(data, 5), 12);
    EXPECT_EQ(ParsePortNumber(data, 4), 1);
    EXPECT_EQ(ParsePortNumber(data, 2), 0);
    EXPECT_EQ(ParsePortNumber(nullptr, 0), 0);
}

TEST(PortNumber, TextEndsAtTheFirstNul) {
    const BYTE data[] = {'C', 'O', 'M', '4', 0, '9', 0};
    EXPECT_EQ(ParsePortNumber(data, sizeof data), 4);
}

// A typed name must be exact: a typo must fail, not reach some other port.
TEST(PortNumber, TypedPortNames) {
    EXPECT_EQ(ParsePortName("COM1"), 1);
    EXPECT_EQ(ParsePortName("com5"), 5);
    EXPECT_EQ(ParsePortName("cOm12"), 12);
    EXPECT_EQ(ParsePortName("COM100"), 100);
    EXPECT_EQ(ParsePortName("COM255"), 255);
    for (const char* bad :
         {"COM05", "COM0", "COM00", "COM256", "COM999", "COM1000", "\\\\.\\COM5", "5", "COM",
          "COM+5", "COM-5", " COM5", "COM5 ", "COM5:", "COMX", "LPT1", "COMM5", ""}) {
        EXPECT_EQ(ParsePortName(bad), std::nullopt) << bad;
    }
}

}  // namespace
