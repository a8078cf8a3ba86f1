// The SharedDLLs count of a file in the system folder: how many setups count
// it as theirs. Windows Installer raises it for our control and lowers it at
// our removal, which takes the file (and unregisters it) at 0. A control that
// another setup put there before us, without a count, would go with our
// removal: that setup's reference is counted too. Windows Installer may
// have counted it already (it adds one for a file it finds uncounted, as
// setups are asked to); Wine does not. So the count is raised to what that
// setup and ours need, never past it.
#pragma once

#include <windows.h>

#include <string>

namespace SharedCount {

// The count that an earlier setup and ours need together.
inline constexpr long kEarlierSetupAndOurs = 2;

// Raises the file's count in the 32-bit view, where Windows Installer keeps
// it for a 32-bit package, to at least `minimum`; one that is absent, or no
// number, counts as 0. The count now, or -1 when the registry refused (error says why).
long RaiseTo(const std::wstring& file, long minimum, DWORD* error);
// Deletes the file's count; none there is no error. 0, or the registry's error.
DWORD Remove(const std::wstring& file);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegDeleteValueW) RegDeleteValueW;
    decltype(&::RegCloseKey) RegCloseKey;
};
extern Api api;

}  // namespace SharedCount
