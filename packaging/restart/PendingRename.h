// Whether a file waits to be replaced at the next restart: Windows Installer,
// when it can't replace a file in use, writes the new one beside it and asks
// Windows to rename it onto the old one at the restart, in the Session
// Manager's PendingFileRenameOperations (or PendingFileRenameOperations2).
#pragma once

#include <windows.h>

#include <string>

namespace PendingRename {

// True when the value's data (pairs of source and target, NUL-separated, a
// delete having an empty target) renames a file onto `path`. Targets may
// carry "!" (replace) and "\??\" before the path; case does not matter.
bool RenamesOnto(const std::wstring& data, const std::wstring& path);
// True when either value of this machine renames a file onto `path`.
bool IsPendingReplacement(const std::wstring& path);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegCloseKey) RegCloseKey;
};
extern Api api;

}  // namespace PendingRename
