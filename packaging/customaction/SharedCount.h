// The SharedDLLs count of a file in the system folder: how many setups count
// it as theirs. Windows Installer raises it for our control and lowers it at
// our removal, which takes the file (and unregisters it) at 0. A control that
// another setup put there before us, without a count, would go with our
// removal: that setup's reference is counted too.
#pragma once

#include <windows.h>

#include <string>

namespace SharedCount {

// Adds delta (+1, -1) to the file's count in the 32-bit view, where Windows
// Installer keeps it for a 32-bit package; a count that falls to 0 is
// deleted, one that is absent counts as 0. The new count, or -1 when the
// registry refused (error says why).
long Add(const std::wstring& file, long delta, DWORD* error);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegDeleteValueW) RegDeleteValueW;
    decltype(&::RegCloseKey) RegCloseKey;
};
extern Api api;

}  // namespace SharedCount
