#include "shared/NumberText.h"

#include <climits>

#include <gtest/gtest.h>

TEST(NumberText, DecimalKeepsTheSignAndHandlesTheExtremes) {
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(259), L"259");
    EXPECT_EQ(DecimalText(-1073741819), L"-1073741819");
    EXPECT_EQ(DecimalText(LONG_MIN), L"-2147483648");
    EXPECT_EQ(DecimalText(LONG_MAX), L"2147483647");
}

TEST(NumberText, HexIsUpperCaseWithoutLeadingZerosUnlessPadded) {
    EXPECT_EQ(HexText(53), L"35");
    EXPECT_EQ(HexText(453), L"1C5");
    EXPECT_EQ(HexText(0), L"0");
    EXPECT_EQ(HexText(static_cast<unsigned long>(-1L)), L"FFFFFFFF");
    EXPECT_EQ(HexText(0x407, 4), L"0407");
    EXPECT_EQ(HexText(0x4B0, 4), L"04B0");
}
