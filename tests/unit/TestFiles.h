// Files the unit tests use: the folder of the test program, beside which the
// helper programs are built, and files of the system folder.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const std::wstring file(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return file.substr(0, file.find_last_of(L'\\') + 1);
}
inline std::wstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}
