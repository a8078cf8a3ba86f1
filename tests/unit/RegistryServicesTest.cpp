#include "ApiOverride.h"
#include "CodePage.h"
#include "CreateKeyOverride.h"
#include "common/modCommonRegistryServices.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace modCommonRegistryServices;

namespace {

void ResetModuleState() {
    RegAccessMask = 0;
    RegRootKey = nullptr;
    RegKeyPath.clear();
}

void DeleteTree(HKEY parent, const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    wchar_t child[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(key, child);
    }
    RegCloseKey(key);
    RegDeleteKeyW(parent, path.c_str());
}

// Keys the module opens or creates, and how many it closes.
std::vector<std::string> openedPaths;
int openCount = 0;
int closeCount = 0;

LONG WINAPI RecordingOpen(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    openedPaths.push_back(path);
    const LONG result = RegOpenKeyExA(root, path, options, access, key);
    if (result == ERROR_SUCCESS) ++openCount;
    return result;
}
LONG WINAPI RecordingCreate(HKEY root, LPCSTR path, PHKEY key) {
    openedPaths.push_back(path);
    const LONG result = RegCreateKeyA(root, path, key);
    if (result == ERROR_SUCCESS) ++openCount;
    return result;
}
LONG WINAPI CountingClose(HKEY key) {
    ++closeCount;
    return RegCloseKey(key);
}
LONG WINAPI RefusingCreate(HKEY, LPCSTR, PHKEY) { return ERROR_ACCESS_DENIED; }
LONG WINAPI ThrowingOpen(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { throw std::bad_alloc(); }

class RegistryServices : public ::testing::Test {
protected:
    void SetUp() override {
        ResetModuleState();
        openedPaths.clear();
        openCount = closeCount = 0;
        DeleteTree(HKEY_CURRENT_USER, path_);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        DeleteTree(HKEY_CURRENT_USER, path_);
        ResetModuleState();
    }

    void WriteA(const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    void WriteW(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    std::wstring Read(const std::wstring& name, const std::wstring& subKey = L"") {
        std::wstring fallback = L"<default>";
        return GetRegString(HKEY_CURRENT_USER, path_, subKey, name, fallback);
    }
    bool ValueExists(const std::wstring& subKeyPath, const wchar_t* name, DWORD* type = nullptr,
                     std::vector<BYTE>* data = nullptr) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, subKeyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        BYTE buffer[4096];
        DWORD size = sizeof buffer;
        const bool found = RegQueryValueExW(key, name, nullptr, type, buffer, &size) == ERROR_SUCCESS;
        if (found && data) data->assign(buffer, buffer + size);
        RegCloseKey(key);
        return found;
    }
    bool KeyExists(const std::wstring& subKeyPath) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, subKeyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    const std::wstring path_ = L"Software\\TarvexUnitTest-" + std::to_wstring(GetCurrentProcessId());
    HKEY key_ = nullptr;
};

}  // namespace

TEST_F(RegistryServices, ReadsUpTo1024BytesOfDataAndFailsBeyond) {
    SetRegDefaults();
    WriteA("text1024", REG_SZ, std::string(1023, 'x') + '\0');
    WriteA("text1025", REG_SZ, std::string(1024, 'x') + '\0');
    WriteA("raw1024", REG_BINARY, std::string(1024, 'y'));
    WriteA("raw1025", REG_BINARY, std::string(1025, 'y'));

    EXPECT_EQ(Read(L"text1024"), std::wstring(1023, L'x'));
    EXPECT_EQ(Read(L"text1025"), L"<default>");
    EXPECT_EQ(Read(L"raw1024"), std::wstring(1024, L'y'));
    EXPECT_EQ(Read(L"raw1025"), L"<default>");
}

TEST_F(RegistryServices, EmptyAndZeroLengthDataReadAsEmptyTextNotAsDefault) {
    SetRegDefaults();
    WriteA("empty", REG_SZ, std::string(1, '\0'));
    WriteA("zeroSz", REG_SZ, "");
    WriteA("zeroBinary", REG_BINARY, "");

    EXPECT_EQ(Read(L"empty"), L"");
    EXPECT_EQ(Read(L"zeroSz"), L"");
    EXPECT_EQ(Read(L"zeroBinary"), L"");
}

TEST_F(RegistryServices, DropsOnlyOneFinalNulFromTheRawBytesOfAnyType) {
    SetRegDefaults();
    WriteA("noFinalNul", REG_SZ, "abc");
    const DWORD number = 0x00434241;  // "ABC" and a NUL, little-endian
    WriteW(L"dword", REG_DWORD, &number, sizeof number);
    const wchar_t multi[] = L"one\0two\0";  // the literal adds the list's closing NUL
    WriteW(L"multi", REG_MULTI_SZ, multi, sizeof multi);

    EXPECT_EQ(Read(L"noFinalNul"), L"abc");
    EXPECT_EQ(Read(L"dword"), L"ABC");
    EXPECT_EQ(Read(L"multi"), std::wstring(L"one\0two\0", 8));
}

TEST_F(RegistryServices, MissingKeyOrValueGivesDefaultAndLeavesQueryOutputAlone) {
    SetRegDefaults();
    EXPECT_EQ(Read(L"missing"), L"<default>");
    EXPECT_EQ(Read(L"missing", L"NoSuchKey"), L"<default>");

    HKEY root = HKEY_CURRENT_USER;
    std::wstring value = L"kept";
    EXPECT_FALSE(QueryRegString(root, path_, L"missing", value));
    EXPECT_EQ(value, L"kept");
}

TEST_F(RegistryServices, ReadsBeforeDefaultsAreSetYieldTheDefault) {
    WriteA("present", REG_SZ, std::string("here") + '\0');
    EXPECT_EQ(Read(L"present"), L"<default>");  // access mask 0 grants no read right

    SetRegDefaults();
    EXPECT_EQ(Read(L"present"), L"here");
}

TEST_F(RegistryServices, KeyPathJoinsSubKeyWithOneBackslashAndTrimsNothing) {
    SetRegDefaults();
    ApiOverride<decltype(api.RegOpenKeyExA)> open(api.RegOpenKeyExA, RecordingOpen);
    CreateKeyOverride create(RecordingCreate);
    const std::string path(path_.begin(), path_.end());

    Read(L"v");
    Read(L"v", L"sub");
    Read(L"v", L" ");
    std::wstring fallback;
    GetRegString(HKEY_CURRENT_USER, L"", L"sub", L"v", fallback);
    SetRegString(HKEY_CURRENT_USER, path_, L"sub", L"v", L"x");
    SetRegString(HKEY_CURRENT_USER, path_, L"sub", L"v", L"");

    const std::vector<std::string> expected = {path, path + "\\sub", path + "\\ ", "\\sub", path + "\\sub",
                                               path + "\\sub"};
    EXPECT_EQ(openedPaths, expected);
}

TEST_F(RegistryServices, WritesRegSzOfTheAnsiTextAndOneNul) {
    SetRegDefaults();
    SetRegString(HKEY_CURRENT_USER, path_, L"New\\Deeper", L"one", L"x");
    SetRegString(HKEY_CURRENT_USER, path_, L"", L"accented", L"Gr\u00fc\u00dfe");

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ValueExists(path_ + L"\\New\\Deeper", L"one", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t)),
              std::wstring(L"x\0", 2))
        << "one character and one NUL";

    EXPECT_EQ(Read(L"accented"), L"Gr\u00fc\u00dfe");
    ASSERT_TRUE(ValueExists(path_, L"accented", nullptr, &data));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"Gr\u00fc\u00dfe");
}

TEST_F(RegistryServices, EmptyTextDeletesTheValueAndCreatesNothing) {
    SetRegDefaults();
    WriteA("doomed", REG_SZ, std::string("x") + '\0');
    SetRegString(HKEY_CURRENT_USER, path_, L"", L"doomed", L"");
    EXPECT_FALSE(ValueExists(path_, L"doomed"));

    SetRegString(HKEY_CURRENT_USER, path_, L"NotThere", L"v", L"");
    EXPECT_FALSE(KeyExists(path_ + L"\\NotThere"));
}

TEST_F(RegistryServices, ContextIsRestoredWhateverTheCallsOutcome) {
    SetRegDefaults();
    WriteA("present", REG_SZ, std::string("here") + '\0');
    RegRootKey = HKEY_CLASSES_ROOT;
    RegKeyPath = L"Before";
    const auto expectRestored = [](const char* step) {
        EXPECT_EQ(RegRootKey, HKEY_CLASSES_ROOT) << step;
        EXPECT_EQ(RegKeyPath, L"Before") << step;
    };

    Read(L"present");
    expectRestored("successful read");
    Read(L"missing", L"NoSuchKey");
    expectRestored("failed read");
    SetRegString(HKEY_CURRENT_USER, path_, L"", L"written", L"x");
    expectRestored("write");
    SetRegString(HKEY_CURRENT_USER, path_, L"", L"written", L"");
    expectRestored("delete");
    {
        CreateKeyOverride refuse(RefusingCreate);
        SetRegString(HKEY_CURRENT_USER, path_, L"", L"written", L"x");
        expectRestored("refused write");
    }
    EXPECT_FALSE(ValueExists(path_, L"written"));
    {
        ApiOverride<decltype(api.RegOpenKeyExA)> raise(api.RegOpenKeyExA, ThrowingOpen);
        EXPECT_THROW(Read(L"present"), std::bad_alloc);
        expectRestored("read that raised");
    }
}

TEST_F(RegistryServices, ClosesEveryKeyItOpens) {
    SetRegDefaults();
    WriteA("present", REG_SZ, std::string("here") + '\0');
    ApiOverride<decltype(api.RegOpenKeyExA)> open(api.RegOpenKeyExA, RecordingOpen);
    CreateKeyOverride create(RecordingCreate);
    ApiOverride<decltype(api.RegCloseKey)> close(api.RegCloseKey, CountingClose);

    Read(L"present");
    Read(L"missing");
    Read(L"missing", L"NoSuchKey");
    SetRegString(HKEY_CURRENT_USER, path_, L"sub", L"v", L"x");
    SetRegString(HKEY_CURRENT_USER, path_, L"sub", L"v", L"");
    SetRegString(HKEY_CURRENT_USER, path_, L"NoSuchKey", L"v", L"");

    EXPECT_EQ(openCount, 4);
    EXPECT_EQ(closeCount, openCount);
}

// The program keeps its marker in the 32-bit registry view, which a 64-bit
// build must name to share it with the 32-bit one.
TEST_F(RegistryServices, MarkerLandsInThe32BitViewOfHklm) {
    SetRegDefaults();
    const std::wstring keyPath = L"Software\\TarvexUnitTest-" + std::to_wstring(GetCurrentProcessId());
    const auto deleteIn = [&](REGSAM view) {
        HKEY software;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) != ERROR_SUCCESS)
            return;
        DeleteTree(software, keyPath.substr(sizeof "Software"));
        RegCloseKey(software);
    };
    const auto existsIn = [&](REGSAM view) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (keyPath + L"\\Tarvex_cl_V4").c_str(), 0, KEY_READ | view, &key) !=
            ERROR_SUCCESS)
            return false;
        const bool found = RegQueryValueExW(key, L"Registered", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    };
    deleteIn(KEY_WOW64_32KEY);
    deleteIn(KEY_WOW64_64KEY);

    SetRegString(HKEY_LOCAL_MACHINE, keyPath, L"Tarvex_cl_V4", L"Registered", L"marker");
    std::wstring fallback = L"Not found";
    EXPECT_EQ(GetRegString(HKEY_LOCAL_MACHINE, keyPath, L"Tarvex_cl_V4", L"Registered", fallback), L"marker");
    EXPECT_TRUE(existsIn(KEY_WOW64_32KEY));
    const char* kind = std::getenv("TARVEX_WINE_KIND");
    if (kind && std::string(kind) == "win64") {
        EXPECT_FALSE(existsIn(KEY_WOW64_64KEY)) << "64-bit Windows keeps the two views apart";
    }
    deleteIn(KEY_WOW64_32KEY);
}

// In a double-byte code page a character may take two bytes: the registry's
// limits count bytes, the program's texts characters.
class RegistryServicesCp932 : public RegistryServices {
protected:
    void SetUp() override {
        REQUIRE_CODE_PAGE_932();
        RegistryServices::SetUp();
    }
    const std::string nichi = "\x93\xfa";  // U+65E5 in code page 932
};

TEST_F(RegistryServicesCp932, LimitsCountBytesNotCharacters) {
    SetRegDefaults();
    SetRegString(HKEY_CURRENT_USER, path_, L"", L"nihon", L"\u65e5\u672c");
    BYTE data[16] = {};
    DWORD type = 0, size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key_, "nihon", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "\x93\xfa\x96\x7b" + std::string(1, '\0'))
        << "two double-byte characters and one NUL: 5 bytes";

    std::string bytes1023, bytes1025;
    for (int i = 0; i < 511; ++i) bytes1023 += nichi;
    bytes1025 = bytes1023 + nichi;
    WriteA("dbcs1023", REG_SZ, bytes1023 + '\0');
    WriteA("dbcs1025", REG_SZ, bytes1025 + '\0');
    EXPECT_EQ(Read(L"dbcs1023"), std::wstring(511, L'\u65e5'));
    EXPECT_EQ(Read(L"dbcs1025"), L"<default>") << "512 characters are 1,025 bytes";
}

TEST_F(RegistryServicesCp932, MarkerUnderADoubleByteKeySurvivesTheRoundTrip) {
    SetRegDefaults();
    const std::wstring company = L"\u65e5\u672c\u5546\u4e8b";
    const std::wstring marker = L"2026/12/08 18:42:13 by TarvexActiveXInstaller \u65e5\u672c";
    SetRegString(HKEY_CURRENT_USER, path_ + L"\\" + company, L"Tarvex_cl_V4", L"Registered", marker);
    std::wstring fallback = L"Not found";
    EXPECT_EQ(GetRegString(HKEY_CURRENT_USER, path_ + L"\\" + company, L"Tarvex_cl_V4", L"Registered", fallback),
              marker);
    std::vector<BYTE> data;
    ASSERT_TRUE(ValueExists(path_ + L"\\" + company + L"\\Tarvex_cl_V4", L"Registered", nullptr, &data));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), marker) << "as the system stores it";
}
