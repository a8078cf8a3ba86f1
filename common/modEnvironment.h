// Questions about the file system.
#pragma once

#include <windows.h>

#include <string>

namespace modEnvironment {

// True when the path (its last component may hold * and ?) names at least one
// ordinary file: no directory, no hidden or system entry. Every failure is false.
bool FileExists(const std::wstring& path);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::FindFirstFileW) FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW;
    decltype(&::FindClose) FindClose;
};
extern Api api;

}  // namespace modEnvironment
