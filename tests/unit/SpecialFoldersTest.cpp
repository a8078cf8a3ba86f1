#include "common/modCommonSpecialFolders.h"

#include "ApiOverride.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

using modCommonSpecialFolders::api;
using modCommonSpecialFolders::GetSpecialFolder;

namespace {

constexpr long kSystemX86 = 41;         // CSIDL_SYSTEMX86
constexpr long kUnknownFolder = 0x00FF; // no CSIDL has this number

int freedLists = 0;

void WINAPI CountingFree(LPVOID block) {
    ++freedLists;
    ::CoTaskMemFree(block);
}

// Hands out a real item-ID list but reports S_FALSE, which is not S_OK.
HRESULT WINAPI LocationWithSFalse(HWND owner, int folder, PIDLIST_ABSOLUTE* list) {
    ::SHGetSpecialFolderLocation(owner, folder, list);
    return S_FALSE;
}

BOOL WINAPI PathWithTrailingBytes(PCIDLIST_ABSOLUTE, LPSTR path) {
    std::memset(path, 'x', 512);
    std::memcpy(path, "C:\\Short\0left over", 18);
    return TRUE;
}

}  // namespace

TEST(GetSpecialFolder, SystemX86IsThe32BitSystemFolderWithoutTrailingBackslash) {
    const char* kind = std::getenv("TARVEX_WINE_KIND");
    if (kind == nullptr) GTEST_SKIP() << "TARVEX_WINE_KIND is not set";
    const std::wstring expected =
        std::strcmp(kind, "win64") == 0 ? L"C:\\windows\\syswow64" : L"C:\\windows\\system32";

    const std::wstring folder = GetSpecialFolder(kSystemX86);

    EXPECT_EQ(_wcsicmp(folder.c_str(), expected.c_str()), 0) << "got '" << folder << "' on " << kind;
}

TEST(GetSpecialFolder, VirtualFolderAndUnknownNumberGiveEmptyText) {
    EXPECT_EQ(GetSpecialFolder(CSIDL_DRIVES), L"");
    EXPECT_EQ(GetSpecialFolder(kUnknownFolder), L"");
}

TEST(GetSpecialFolder, ItemIdListIsFreedOnEveryPathThatGotOne) {
    ApiOverride freeing(api.CoTaskMemFree, CountingFree);
    freedLists = 0;

    GetSpecialFolder(kSystemX86);
    EXPECT_EQ(freedLists, 1) << "folder with a path";
    GetSpecialFolder(CSIDL_DRIVES);
    EXPECT_EQ(freedLists, 2) << "folder without a path";
    GetSpecialFolder(kUnknownFolder);
    EXPECT_EQ(freedLists, 2) << "no list was handed out";

    ApiOverride location(api.SHGetSpecialFolderLocation, LocationWithSFalse);
    EXPECT_EQ(GetSpecialFolder(kSystemX86), L"") << "only S_OK counts as success";
    EXPECT_EQ(freedLists, 3) << "a list handed out with a failure code";
}

TEST(GetSpecialFolder, PathEndsAtTheFirstNulOfTheBuffer) {
    ApiOverride path(api.SHGetPathFromIDListA, PathWithTrailingBytes);
    EXPECT_EQ(GetSpecialFolder(kSystemX86), L"C:\\Short");
}
