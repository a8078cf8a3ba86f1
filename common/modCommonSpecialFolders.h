// File-system paths of the shell's special folders.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace modCommonSpecialFolders {

// The folder's path without a trailing backslash; empty when it has none or the shell fails.
std::wstring GetSpecialFolder(long folder);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::SHGetSpecialFolderLocation) SHGetSpecialFolderLocation;
    decltype(&::SHGetPathFromIDListA) SHGetPathFromIDListA;
    decltype(&::CoTaskMemFree) CoTaskMemFree;
};
extern Api api;

}  // namespace modCommonSpecialFolders
