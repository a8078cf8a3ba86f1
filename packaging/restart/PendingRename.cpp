#include "PendingRename.h"

#include "shared/UniqueResource.h"

#include <cwchar>
#include <vector>

namespace PendingRename {

Api api = {::RegOpenKeyExW, ::RegQueryValueExW, ::RegCloseKey};

namespace {

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

struct KeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { api.RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

// A target as a plain path: without "!" and the NT prefix "\??\".
std::wstring PlainPath(std::wstring target) {
    if (!target.empty() && target[0] == L'!') target.erase(0, 1);
    if (target.compare(0, 4, L"\\??\\") == 0) target.erase(0, 4);
    return target;
}

// The value's strings, empty ones included: a delete's target is one.
std::vector<std::wstring> Strings(const std::wstring& data) {
    std::vector<std::wstring> strings;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find(L'\0', start);
        strings.push_back(data.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return strings;
}

// The value's data; empty when it is absent or no multi-string. Windows
// Installer and other setups add to the value while we read it: a value
// that grew since its size was asked for is read again, into its new size.
std::wstring ValueData(HKEY key, const wchar_t* name) {
    constexpr int kReads = 8;
    DWORD type = 0, bytes = 0;
    LONG read = api.RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    for (int i = 0; i < kReads && (read == ERROR_SUCCESS || read == ERROR_MORE_DATA) && type == REG_MULTI_SZ; ++i) {
        std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        read = api.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &bytes);
        if (read == ERROR_SUCCESS && type == REG_MULTI_SZ) {
            data.resize(bytes / sizeof(wchar_t));
            return data;
        }
    }
    return {};
}

}  // namespace

bool RenamesOnto(const std::wstring& data, const std::wstring& path) {
    const std::vector<std::wstring> strings = Strings(data);
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::wstring& target = strings[i + 1];
        if (strings[i].empty() || target.empty()) continue;  // the end, or a delete
        if (_wcsicmp(PlainPath(target).c_str(), path.c_str()) == 0) return true;
    }
    return false;
}

bool IsPendingReplacement(const std::wstring& path) {
    UniqueKey key;
    if (api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    for (const wchar_t* name : kValues)
        if (RenamesOnto(ValueData(key.get(), name), path)) return true;
    return false;
}

}  // namespace PendingRename
