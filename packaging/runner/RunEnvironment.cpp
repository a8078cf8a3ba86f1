#include "RunEnvironment.h"

#include "Confinement.h"
#include "shared/UniqueResource.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace RunEnvironment {

Api api = {
    ::GetSystemDirectoryW, ::GetSystemWindowsDirectoryW, ::CreateDirectoryW, ::RemoveDirectoryW,
    ::DeleteFileW,         ::FindFirstFileW,             ::FindNextFileW,    ::FindClose,
};

namespace {

// A run's folder is tried under this many names before the run is given up.
constexpr int kNameTries = 8;

// The name of a "NAME=value" string; the drive entries ("=C:=C:\...") begin with "=".
std::wstring NameOf(const std::wstring& entry) {
    const std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring Folder(decltype(&::GetSystemDirectoryW) get) {
    wchar_t path[MAX_PATH] = {};
    const UINT length = get(path, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

struct SearchTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE search) noexcept { api.FindClose(search); }
};

// Deletes the folder and what is in it. A link in it is removed, never followed.
DWORD RemoveTree(const std::wstring& folder) {
    DWORD failure = 0;
    WIN32_FIND_DATAW found;
    const UniqueResource<HANDLE, SearchTraits> search(api.FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            DWORD error = 0;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                error = link ? (api.RemoveDirectoryW(path.c_str()) ? 0 : GetLastError()) : RemoveTree(path);
            else if (!api.DeleteFileW(path.c_str()))
                error = GetLastError();
            if (error && !failure) failure = error;
        } while (api.FindNextFileW(search.get(), &found));
    }
    if (!api.RemoveDirectoryW(folder.c_str()) && !failure) failure = GetLastError();
    return failure;
}

}  // namespace

std::wstring WithSystemPaths(const wchar_t* block, const std::wstring& path, const std::wstring& temp) {
    const std::pair<const wchar_t*, const std::wstring*> replaced[] = {{L"PATH", &path}, {L"TEMP", &temp}, {L"TMP", &temp}};
    std::vector<std::wstring> entries;
    for (const wchar_t* entry = block; entry && *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring text = entry;
        const bool ours = std::any_of(std::begin(replaced), std::end(replaced),
                                      [&](const auto& name) { return SameName(NameOf(text), name.first); });
        if (!ours) entries.push_back(text);
    }
    for (const auto& [name, value] : replaced) entries.push_back(std::wstring(name) + L"=" + *value);
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(NameOf(a).c_str(), NameOf(b).c_str()) < 0;
    });
    std::wstring result;
    for (const std::wstring& entry : entries) result += entry + L'\0';
    return result + L'\0';
}

std::wstring SystemPath() {
    return Folder(api.GetSystemDirectoryW) + L";" + Folder(api.GetSystemWindowsDirectoryW);
}

RunTemp::RunTemp() {
    Confinement::SystemOnly security;
    if (!security.get()) {
        error_ = security.error();
        return;
    }
    const std::wstring parent = Folder(api.GetSystemWindowsDirectoryW) + L"\\Temp\\";
    for (int tries = 0; tries < kNameTries; ++tries) {
        const std::wstring path = parent + Confinement::UniqueRunName();
        if (api.CreateDirectoryW(path.c_str(), security.get())) {
            path_ = path;
            error_ = 0;
            return;
        }
        error_ = GetLastError();
        if (error_ != ERROR_ALREADY_EXISTS) return;
    }
}

RunTemp::~RunTemp() { Remove(); }

DWORD RunTemp::Remove() {
    if (path_.empty()) return 0;
    const DWORD error = RemoveTree(path_);
    path_.clear();
    return error;
}

}  // namespace RunEnvironment
