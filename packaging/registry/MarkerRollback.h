// The rollback of the installation marker after a failed first installation:
// the value that the program wrote goes, and its key only when nothing else
// is left in it.
#pragma once

#include <windows.h>

#include <string>

namespace MarkerRollback {

// NoKey and NoMarker: there was nothing to remove, and nothing was touched.
enum class Outcome { NoKey, NoMarker, ValueRemovedKeyKept, KeyRemoved, Failed };

inline constexpr wchar_t kMarkerValue[] = L"Registered";

// Removes the marker value under HKLM\<keyPath> in the 32-bit registry view,
// then the key itself when it holds no other value and no subkey. A key
// without the marker is left as it is: the program made none of it.
Outcome RemoveMarker(const std::wstring& keyPath);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegDeleteValueW) RegDeleteValueW;
    decltype(&::RegQueryInfoKeyW) RegQueryInfoKeyW;
    decltype(&::RegDeleteKeyW) RegDeleteKeyW;
    decltype(&::RegCloseKey) RegCloseKey;
};
extern Api api;

}  // namespace MarkerRollback
