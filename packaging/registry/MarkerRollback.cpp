// The marker lies in the 32-bit view: the product's custom actions are 32-bit
// code, which Windows redirects there anyway; the 64-bit test build asks for it.
#include "MarkerRollback.h"

#include "shared/UniqueResource.h"

namespace MarkerRollback {

Api api = {::RegOpenKeyExW, ::RegDeleteValueW, ::RegQueryInfoKeyW, ::RegDeleteKeyW, ::RegCloseKey};

namespace {

struct KeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { api.RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

LONG Open(const std::wstring& path, REGSAM access, UniqueKey& key) {
    return api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_32KEY, key.put());
}

bool IsEmpty(HKEY key) {
    DWORD subkeys = 0, values = 0;
    return api.RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                                nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// Deleted through its parent's handle, which names the view.
bool DeleteKey(const std::wstring& keyPath) {
    const std::size_t last = keyPath.rfind(L'\\');
    if (last == std::wstring::npos) return false;
    UniqueKey parent;
    if (Open(keyPath.substr(0, last), KEY_ENUMERATE_SUB_KEYS | DELETE, parent) != ERROR_SUCCESS) return false;
    return api.RegDeleteKeyW(parent.get(), keyPath.substr(last + 1).c_str()) == ERROR_SUCCESS;
}

}  // namespace

Outcome RemoveMarker(const std::wstring& keyPath) {
    UniqueKey key;
    const LONG opened = Open(keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE, key);
    if (opened == ERROR_FILE_NOT_FOUND) return Outcome::NoKey;
    if (opened != ERROR_SUCCESS) return Outcome::Failed;
    const LONG deleted = api.RegDeleteValueW(key.get(), kMarkerValue);
    if (deleted == ERROR_FILE_NOT_FOUND) return Outcome::NoMarker;
    if (deleted != ERROR_SUCCESS) return Outcome::Failed;
    const bool empty = IsEmpty(key.get());
    key.reset();
    if (!empty) return Outcome::ValueRemovedKeyKept;
    return DeleteKey(keyPath) ? Outcome::KeyRemoved : Outcome::Failed;
}

}  // namespace MarkerRollback
