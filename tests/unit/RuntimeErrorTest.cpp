#include "common/RuntimeError.h"

#include <gtest/gtest.h>

TEST(RuntimeError, StandardMessagesComeFromTheNumberNotTheDescription) {
    EXPECT_EQ(StandardErrorMessage(5), L"Invalid procedure call or argument");
    EXPECT_EQ(StandardErrorMessage(53), L"File not found");
    EXPECT_EQ(StandardErrorMessage(453), L"Specified DLL function not found");
    EXPECT_EQ(StandardErrorMessage(1234), L"Application-defined or object-defined error");
}

TEST(RuntimeError, RaiseCarriesNumberProgramSourceAndStandardMessage) {
    try {
        RaiseError(76);
        FAIL() << "RaiseError returned";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), 76);
        EXPECT_EQ(e.Source(), L"TarvexActiveXInstaller");
        EXPECT_EQ(e.Description(), L"Path not found");
    }
}
