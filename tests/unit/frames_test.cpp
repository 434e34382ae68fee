#include "protocol/frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Brand(const char* text) {
    BrandFrame f = BuildBrandFrame(text, std::strlen(text));
    return std::vector<uint8_t>(f.begin(), f.end());
}

std::vector<uint8_t> Code(const char* text) {
    std::optional<CodeFrame> f = BuildCodeFrame(text, std::strlen(text));
    EXPECT_TRUE(f.has_value());
    return f ? std::vector<uint8_t>(f->begin(), f->end()) : std::vector<uint8_t>();
}

typedef std::vector<uint8_t> Bytes;

TEST(BrandFrame, EightBytePayloadThenSemicolonThenZeroFiller) {
    EXPECT_EQ(Brand("ABCDEFGH"), (Bytes{0x42, 0x52, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
                                        0x3B, 0, 0, 0, 0, 0}));
}

TEST(BrandFrame, EmptyTextIsTagAndSemicolonOnly) {
    EXPECT_EQ(Brand(""), (Bytes{0x42, 0x52, 0x3B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BrandFrame, ThirteenBytesFillTheFrameExactly) {
    EXPECT_EQ(Brand("ABCDEFGHIJKLM"), (Bytes{'B', 'R', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I',
                                             'J', 'K', 'L', 'M', ';'}));
}

TEST(BrandFrame, LongerTextIsCutAfterThirteenBytes) {
    EXPECT_EQ(Brand("ABCDEFGHIJKLMNOPQRST"), Brand("ABCDEFGHIJKLM"));
}

TEST(BrandFrame, DoubleByteCharacterStraddlingTheLimitIsCut) {
    // Twelve ASCII bytes, then GBK 中 (D6 D0): only its lead byte fits.
    Bytes f = Brand("ABCDEFGHIJKL\xD6\xD0");
    EXPECT_EQ(f[14], 0xD6);
    EXPECT_EQ(f[15], ';');
}

TEST(BrandFrame, ReadsNoFurtherThanTheGivenLength) {
    // "AB" of a longer buffer: the C string's terminator is not what ends the payload.
    BrandFrame f = BuildBrandFrame("ABCDEF", 2);
    EXPECT_EQ(f[4], ';');
    EXPECT_EQ(f[5], 0);
}

TEST(CodeFrame, TwoByteCodes) {
    EXPECT_EQ(Code("V3"), (Bytes{0x44, 0x54, 0x56, 0x33, 0x3B}));
    EXPECT_EQ(Code("V3X"), Code("V3"));
}

TEST(CodeFrame, OneByteCodeGetsZeroSecondByte) {
    EXPECT_EQ(Code("A"), (Bytes{0x44, 0x54, 0x41, 0x00, 0x3B}));
}

TEST(CodeFrame, EmptyCodeBuildsNoFrame) {
    EXPECT_FALSE(BuildCodeFrame("", 0).has_value());
}

}  // namespace
