#include "common/modCommonUtilities.h"

#include <gtest/gtest.h>

using modCommonUtilities::QuoteSingle;

TEST(QuoteSingle, PutsApostrophesAroundTextThatHasNoneAtEitherEnd) {
    EXPECT_EQ(QuoteSingle(L""), L"''");
    EXPECT_EQ(QuoteSingle(L"C:\\Windows\\system32\\RegSvr32.exe"), L"'C:\\Windows\\system32\\RegSvr32.exe'");
    EXPECT_EQ(QuoteSingle(L"it's"), L"'it's'");
}

TEST(QuoteSingle, LeavesTextWithAnApostropheAtEitherEndUnchanged) {
    EXPECT_EQ(QuoteSingle(L"'"), L"'");
    EXPECT_EQ(QuoteSingle(L"'open"), L"'open");
    EXPECT_EQ(QuoteSingle(L"close'"), L"close'");
    EXPECT_EQ(QuoteSingle(L"'both'"), L"'both'");
}
