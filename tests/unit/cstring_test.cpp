#include "platform/CString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CString, FormatReplacesAndHandlesLongText) {
    CString s("old");
    s.Format("COM%d", 255);
    EXPECT_STREQ(s, "COM255");
    std::string longText(5000, 'x');
    s.Format("%s!", longText.c_str());
    EXPECT_EQ(s.GetLength(), 5001);
    EXPECT_EQ(s.GetAt(5000), '!');
}

TEST(CString, LengthCountsBytesAndGetAtEndsWithZero) {
    CString s("\xB6\xCB\xBF\xDA");  // two GBK characters
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(s.GetAt(4), 0);
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_TRUE(CString(nullptr).IsEmpty());
}

}  // namespace
