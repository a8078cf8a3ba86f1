#include "common/modEnvironment.h"

#include "ApiOverride.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using modEnvironment::api;
using modEnvironment::FileExists;

namespace {

int searches = 0;

HANDLE WINAPI CountingFindFirst(LPCWSTR path, LPWIN32_FIND_DATAW entry) {
    ++searches;
    return ::FindFirstFileW(path, entry);
}

// A folder of the test's own under the temp folder, with one file of each kind.
class FileExistsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
        folder_ = std::wstring(temp) + L"tvx_exists_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                  std::to_wstring(GetTickCount());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << "error " << GetLastError();
        ASSERT_TRUE(CreateDirectoryW(Path(L"sub.txt").c_str(), nullptr)) << "error " << GetLastError();
        MakeFile(L"plain.txt", FILE_ATTRIBUTE_NORMAL);
        MakeFile(L"readonly.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        MakeFile(L"hidden.log", FILE_ATTRIBUTE_HIDDEN);
        MakeFile(L"system.log", FILE_ATTRIBUTE_SYSTEM);
    }

    void TearDown() override {
        for (const std::wstring& name : files_) {
            SetFileAttributesW(Path(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            EXPECT_TRUE(DeleteFileW(Path(name).c_str())) << "error " << GetLastError();
        }
        RemoveDirectoryW(Path(L"sub.txt").c_str());
        EXPECT_TRUE(RemoveDirectoryW(folder_.c_str())) << "error " << GetLastError();
    }

    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }

    void MakeFile(const std::wstring& name, DWORD attributes) {
        const std::wstring path = Path(name);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        CloseHandle(file);
        files_.push_back(name);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << "error " << GetLastError();
        const DWORD required = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
        ASSERT_EQ(GetFileAttributesW(path.c_str()) & required, required) << "attributes of " << name;
    }

    std::wstring folder_;
    std::vector<std::wstring> files_;
};

}  // namespace

TEST_F(FileExistsTest, EmptyTextIsFalseWithoutSearching) {
    ApiOverride findFirst(api.FindFirstFileW, CountingFindFirst);
    searches = 0;
    EXPECT_FALSE(FileExists(L""));
    EXPECT_EQ(searches, 0);
}

TEST_F(FileExistsTest, OrdinaryFilesCountReadOnlyAndArchiveIncluded) {
    EXPECT_TRUE(FileExists(Path(L"plain.txt")));
    EXPECT_TRUE(FileExists(Path(L"readonly.txt")));
}

TEST_F(FileExistsTest, FoldersHiddenAndSystemEntriesDoNotCount) {
    EXPECT_FALSE(FileExists(folder_));
    EXPECT_FALSE(FileExists(Path(L"sub.txt")));
    EXPECT_FALSE(FileExists(Path(L"hidden.log")));
    EXPECT_FALSE(FileExists(Path(L"system.log")));
}

TEST_F(FileExistsTest, MissingOrMalformedPathsAreFalse) {
    EXPECT_FALSE(FileExists(Path(L"missing.txt")));
    EXPECT_FALSE(FileExists(Path(L"no folder\\plain.txt")));
    EXPECT_FALSE(FileExists(Path(L"plain.txt\\")));
    EXPECT_FALSE(FileExists(Path(L"plain.txt|")));
    EXPECT_FALSE(FileExists(Path(L"plain.txt") + std::wstring(1, L'\0') + L"more")) << "NUL inside the path";
}

TEST_F(FileExistsTest, PatternIsTrueWhenAnyMatchIsAnOrdinaryFile) {
    EXPECT_TRUE(FileExists(Path(L"*")));  // "." and ".." and the folder come along, and do not count
    EXPECT_TRUE(FileExists(Path(L"*.txt")));
    EXPECT_TRUE(FileExists(Path(L"?lain.*")));
    EXPECT_FALSE(FileExists(Path(L"*.log"))) << "only hidden and system files match";
    EXPECT_FALSE(FileExists(Path(L"s*"))) << "only a folder and a system file match";
    EXPECT_FALSE(FileExists(Path(L"*.exe")));
}
