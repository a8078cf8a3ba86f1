// What the package keeps in the registry, on the real registry (32-bit view):
// the marker's rollback and the earlier setup's SharedDLLs count.
#include "packaging/registry/MarkerRollback.h"
#include "packaging/registry/SharedCount.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {
// A scratch key in the 32-bit view, where the marker lies.
constexpr wchar_t kScratch[] = L"Software\\TarvexUnitTests\\MarkerRollback";
const std::wstring kKeyPath = std::wstring(kScratch) + L"\\Tarvex_cl_V4";

HKEY Open32(const std::wstring& path, REGSAM access) {
    HKEY key = nullptr;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS ? key
                                                                                                               : nullptr;
}
void SetText(const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
}
void DeleteValue(const std::wstring& path, const wchar_t* name) {
    if (HKEY key = Open32(path, KEY_SET_VALUE)) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}
bool KeyExists(const std::wstring& path) {
    HKEY key = Open32(path, KEY_READ);
    if (key) RegCloseKey(key);
    return key != nullptr;
}
bool ValueExists(const std::wstring& path, const wchar_t* name) {
    HKEY key = Open32(path, KEY_READ);
    if (!key) return false;
    const bool found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}
// Deletes the key and its subkeys, through their parents' handles in the 32-bit view.
void DeleteTree(const std::wstring& path) {
    for (const wchar_t* child : {L"\\Tarvex_cl_V4\\Sub", L"\\Tarvex_cl_V4", L""}) {
        const std::wstring full = path + child;
        const std::size_t last = full.rfind(L'\\');
        if (HKEY parent = Open32(full.substr(0, last), KEY_ALL_ACCESS)) {
            RegDeleteKeyW(parent, full.substr(last + 1).c_str());
            RegCloseKey(parent);
        }
    }
}
}  // namespace

TEST(MarkerRollback, TheMarkerGoesAndItsKeyOnlyWhenNothingElseIsInIt) {
    using MarkerRollback::Outcome;
    DeleteTree(kScratch);
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::NoKey);
    SetText(kKeyPath, L"Other");
    DeleteValue(kKeyPath, L"Other");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::NoMarker);
    EXPECT_TRUE(KeyExists(kKeyPath)) << "a key without the marker is not the program's to take";

    SetText(kKeyPath, L"Registered");
    SetText(kKeyPath, L"Other");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::ValueRemovedKeyKept);
    EXPECT_FALSE(ValueExists(kKeyPath, L"Registered"));
    EXPECT_TRUE(ValueExists(kKeyPath, L"Other")) << "another value is never the marker's to take";

    DeleteValue(kKeyPath, L"Other");
    SetText(kKeyPath, L"Registered");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::KeyRemoved);
    EXPECT_FALSE(KeyExists(kKeyPath));
    EXPECT_TRUE(KeyExists(kScratch)) << "only the marker's own key goes";

    SetText(kKeyPath + L"\\Sub", L"Value");
    SetText(kKeyPath, L"Registered");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::ValueRemovedKeyKept) << "a subkey keeps the key";
    DeleteTree(kScratch);
}

// The count of an earlier setup's TVex.DLL, on the real registry (32-bit
// view): raised to what that setup and ours need, never past it, whatever
// Windows Installer wrote before; the rollback leaves none, as there was none.
TEST(SharedCount, RaisedToTwoNeverPastItAndRolledBackToNone) {
    const std::wstring file = L"C:\\Tarvex unit test\\TVex.DLL";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0,
                                nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const struct {
        long before;  // -1: no count
        long after;
    } cases[] = {{-1, 2}, {0, 2}, {1, 2}, {2, 2}, {3, 3}};
    for (const auto& c : cases) {
        const DWORD value = static_cast<DWORD>(c.before);
        if (c.before < 0) ::RegDeleteValueW(key, file.c_str());
        else ::RegSetValueExW(key, file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        DWORD error = 0;
        EXPECT_EQ(SharedCount::RaiseTo(file, SharedCount::kEarlierSetupAndOurs, &error), c.after) << c.before;
        DWORD stored = 0, bytes = sizeof stored;
        EXPECT_EQ(::RegQueryValueExW(key, file.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(static_cast<long>(stored), c.after);
        EXPECT_EQ(SharedCount::Remove(file), 0u);
        EXPECT_EQ(::RegQueryValueExW(key, file.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(SharedCount::Remove(file), 0u) << "none there is no error";
    ::RegCloseKey(key);
}
