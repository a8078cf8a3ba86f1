// File existence through the wide find-first-file listing, so that patterns
// work and no path is bent by the ANSI code page.
#include "modEnvironment.h"

#include "shared/UniqueResource.h"

namespace modEnvironment {

Api api = {
    ::FindFirstFileW,
    ::FindNextFileW,
    ::FindClose,
};

namespace {

struct FindHandleTraits {
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE search) noexcept { api.FindClose(search); }
};
using FindHandle = UniqueResource<HANDLE, FindHandleTraits>;

bool IsOrdinaryFile(DWORD attributes) {
    constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (attributes & kNotOrdinary) == 0;
}

}  // namespace

bool FileExists(const std::wstring& path) {
    // A NUL inside the text would cut the name short and test another path.
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return false;

    WIN32_FIND_DATAW entry = {};
    FindHandle search(api.FindFirstFileW(path.c_str(), &entry));
    if (!search) return false;  // missing, malformed, not ready or refused: all mean "no file"
    do {
        if (IsOrdinaryFile(entry.dwFileAttributes)) return true;
    } while (api.FindNextFileW(search.get(), &entry));
    return false;
}

}  // namespace modEnvironment
