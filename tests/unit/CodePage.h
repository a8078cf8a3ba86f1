// Tests that need the double-byte ANSI code page 932 (Japanese): Wine takes
// it from a Japanese Unix locale. Elsewhere they are skipped, unless
// TARVEX_EXPECT_ACP=932 says that this run was started to have it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

inline bool CodePage932Expected() {
    const char* expected = std::getenv("TARVEX_EXPECT_ACP");
    return expected != nullptr && std::strcmp(expected, "932") == 0;
}

#define REQUIRE_CODE_PAGE_932()                                                                          \
    do {                                                                                                 \
        if (::GetACP() != 932) {                                                                         \
            if (CodePage932Expected()) GTEST_FAIL() << "ANSI code page " << ::GetACP() << ", not 932"; \
            GTEST_SKIP() << "needs the ANSI code page 932";                                              \
        }                                                                                                \
    } while (false)
