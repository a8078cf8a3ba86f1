#include "SharedCount.h"

#include "shared/UniqueResource.h"

namespace SharedCount {

Api api = {::RegCreateKeyExW, ::RegOpenKeyExW, ::RegQueryValueExW, ::RegSetValueExW, ::RegDeleteValueW, ::RegCloseKey};

namespace {

constexpr wchar_t kSharedDlls[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

struct KeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { api.RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

// The count as it stands; 0 where there is none (or none that is a number).
long Current(HKEY key, const std::wstring& file) {
    DWORD type = 0, count = 0, bytes = sizeof count;
    if (api.RegQueryValueExW(key, file.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&count), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof count)
        return 0;
    return static_cast<long>(count);
}

}  // namespace

long RaiseTo(const std::wstring& file, long minimum, DWORD* error) {
    UniqueKey key;
    LONG result = api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.put(), nullptr);
    long count = -1;
    if (result == ERROR_SUCCESS) {
        count = Current(key.get(), file);
        if (count < minimum) {
            const DWORD value = static_cast<DWORD>(minimum);
            result = api.RegSetValueExW(key.get(), file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                        sizeof value);
            count = minimum;
        }
    }
    *error = static_cast<DWORD>(result);
    return result == ERROR_SUCCESS ? count : -1;
}

DWORD Remove(const std::wstring& file) {
    UniqueKey key;
    LONG result = api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put());
    if (result == ERROR_SUCCESS) result = api.RegDeleteValueW(key.get(), file.c_str());
    return result == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(result);
}

}  // namespace SharedCount
