// The running program's path and version information.
#include "AppInfo.h"

#include "shared/EntryPoint.h"
#include "shared/NumberText.h"
#include "shared/UniqueResource.h"

#include <vector>

namespace AppInfo {

Api api = {::GetModuleFileNameW, ::GetSystemDirectoryW, ::LoadLibraryW, ::GetProcAddress, ::FreeLibrary};

namespace {

struct LibraryTraits {
    static HMODULE invalid() noexcept { return nullptr; }
    static void close(HMODULE library) noexcept { api.FreeLibrary(library); }
};
using Library = UniqueResource<HMODULE, LibraryTraits>;

// version.dll's functions, valid while the library that gave them is loaded.
struct VersionFunctions {
    decltype(&::GetFileVersionInfoSizeW) GetFileVersionInfoSizeW;
    decltype(&::GetFileVersionInfoW) GetFileVersionInfoW;
    decltype(&::VerQueryValueW) VerQueryValueW;
};

// The string table the resource script writes: German, Unicode.
constexpr wchar_t kDefaultStringTable[] = L"040704B0";

// Grows the buffer until the path fits: installation folders may be deep.
std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = api.GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring FileName() {
    const std::wstring path = ModulePath();
    return path.substr(path.find_last_of(L"\\/") + 1);
}

// The system folder's version.dll, by its full path; empty when it can't be loaded.
Library LoadVersionLibrary() {
    wchar_t folder[MAX_PATH];
    const UINT length = api.GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return Library();
    return Library(api.LoadLibraryW((std::wstring(folder, length) + L"\\version.dll").c_str()));
}

template <class Fn>
bool Resolve(HMODULE library, const char* name, Fn& function) {
    function = EntryPointAs<Fn>(api.GetProcAddress(library, name));
    return function != nullptr;
}

bool ResolveVersionFunctions(HMODULE library, VersionFunctions& version) {
    return Resolve(library, "GetFileVersionInfoSizeW", version.GetFileVersionInfoSizeW) &&
           Resolve(library, "GetFileVersionInfoW", version.GetFileVersionInfoW) &&
           Resolve(library, "VerQueryValueW", version.VerQueryValueW);
}

// The first translation listed names the string table; without one, ours.
std::wstring StringTableOf(const VersionFunctions& version, const std::vector<BYTE>& info) {
    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* found = nullptr;
    UINT size = 0;
    if (!version.VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &found, &size) ||
        size < sizeof(Translation))
        return kDefaultStringTable;
    const Translation* first = static_cast<const Translation*>(found);
    return HexText(first->language, 4) + HexText(first->codePage, 4);
}

}  // namespace

std::wstring ProgramFolder() {
    const std::wstring path = ModulePath();
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ProgramName() {
    const std::wstring name = FileName();
    return name.substr(0, name.rfind(L'.'));
}

std::wstring CompanyName() {
    const Library library = LoadVersionLibrary();
    VersionFunctions version = {};
    if (!library || !ResolveVersionFunctions(library.get(), version)) return {};
    const std::wstring path = ModulePath();
    DWORD ignored = 0;
    const DWORD size = version.GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> info(size);
    if (!version.GetFileVersionInfoW(path.c_str(), 0, size, info.data())) return {};
    const std::wstring query = L"\\StringFileInfo\\" + StringTableOf(version, info) + L"\\CompanyName";
    void* found = nullptr;
    UINT length = 0;
    if (!version.VerQueryValueW(info.data(), query.c_str(), &found, &length) || length == 0) return {};
    std::wstring name(static_cast<const wchar_t*>(found), length);
    return name.substr(0, name.find(L'\0'));  // the length may count the terminator
}

}  // namespace AppInfo
