// The environment of what we start as SYSTEM: Windows Installer's own, but
// for the three variables that lead the loader and the control to folders a
// user may write. PATH names the Windows folders alone, so that a DLL that
// the control needs is never taken from a folder on the machine's PATH; TEMP
// and TMP name a folder made for the run, which only SYSTEM and the
// Administrators may open, and which goes with the run.
#pragma once

#include <windows.h>

#include <string>

namespace RunEnvironment {

// The block for CreateProcessW (CREATE_UNICODE_ENVIRONMENT): the strings of
// `block` ("NAME=value", each ended by a NUL, the whole by another) with
// PATH, TEMP and TMP set to these values, whatever case their names had,
// and added where missing; sorted by name, as Windows wants it.
std::wstring WithSystemPaths(const wchar_t* block, const std::wstring& path, const std::wstring& temp);

// The Windows folders: "<system folder>;<Windows folder>".
std::wstring SystemPath();

// A folder made for one run under SYSTEM's own temporary folder
// (%SystemRoot%\Temp), under a name no one has taken (making it fails where
// the name exists, and another is tried), for SYSTEM and the Administrators
// alone. It is removed with all the run left in it when this goes.
class RunTemp {
public:
    RunTemp();
    ~RunTemp();
    RunTemp(const RunTemp&) = delete;
    RunTemp& operator=(const RunTemp&) = delete;

    // 0, or the system's error that kept it from being made.
    DWORD error() const { return error_; }
    const std::wstring& path() const { return path_; }
    // Removes it now; 0, or the system's error for what stayed.
    DWORD Remove();

private:
    std::wstring path_;
    DWORD error_ = 0;
};

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetSystemDirectoryW) GetSystemDirectoryW;
    decltype(&::GetSystemWindowsDirectoryW) GetSystemWindowsDirectoryW;
    decltype(&::CreateDirectoryW) CreateDirectoryW;
    decltype(&::RemoveDirectoryW) RemoveDirectoryW;
    decltype(&::DeleteFileW) DeleteFileW;
    decltype(&::FindFirstFileW) FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW;
    decltype(&::FindClose) FindClose;
};
extern Api api;

}  // namespace RunEnvironment
