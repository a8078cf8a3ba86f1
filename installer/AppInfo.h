// What the program knows about itself at run time: where its EXE lies, its
// name, and the company name of its version information (which names the
// registry key of the installation marker).
#pragma once

#include <windows.h>

#include <string>

namespace AppInfo {

// The folder of the running EXE, without a trailing backslash.
std::wstring ProgramFolder();
// The running EXE's file name without its extension.
std::wstring ProgramName();
// CompanyName of the EXE's own version information; empty when it has none.
std::wstring CompanyName();

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW;
    decltype(&::GetFileVersionInfoW) GetFileVersionInfoW;
    decltype(&::VerQueryValueW) VerQueryValueW;
};
extern Api api;

}  // namespace AppInfo
