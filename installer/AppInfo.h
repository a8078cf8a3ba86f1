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
// The version-information functions come from the system folder's
// version.dll, loaded by its full path for the one call that needs them:
// imported, the loader would take a version.dll planted beside the EXE.
struct Api {
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    decltype(&::GetSystemDirectoryW) GetSystemDirectoryW;
    decltype(&::LoadLibraryW) LoadLibraryW;
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::FreeLibrary) FreeLibrary;
};
extern Api api;

}  // namespace AppInfo
