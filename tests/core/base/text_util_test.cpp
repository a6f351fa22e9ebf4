#include <gtest/gtest.h>

#include "core/base/text_util.h"

using namespace taskbell;

TEST(TextUtil, TrimsUnicodeWhiteSpaceAndLineBreaks)
{
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u00a0\u2028\u3000a\u2029\u0085"), "a");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \n\t "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xff "), "\xff");
    EXPECT_EQ(trimWhitespaceAndNewlines("é "), "é");
}

TEST(TextUtil, BlanksLeaveLineBreaks)
{
    EXPECT_EQ(trimBlanks(" \t\u00a0x\n "), "x\n");
    EXPECT_EQ(trimBlanks("\u2003 - item \t"), "- item");
}

TEST(TextUtil, Utf8Validity)
{
    EXPECT_TRUE(isValidUtf8("plain é → ✓ 🎉"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xc3"));
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80")); // surrogate
    EXPECT_FALSE(isValidUtf8("\xc0\xaf"));     // overlong
}
