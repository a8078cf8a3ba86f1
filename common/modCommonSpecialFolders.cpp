// The shell is asked in its ANSI form; the path comes back through FromAnsi.
#include "modCommonSpecialFolders.h"

#include "AnsiText.h"
#include "shared/UniqueResource.h"

#include <algorithm>

namespace modCommonSpecialFolders {

Api api = {
    ::SHGetSpecialFolderLocation,
    ::SHGetPathFromIDListA,
    ::CoTaskMemFree,
};

namespace {

struct ItemIdListTraits {
    static PIDLIST_ABSOLUTE invalid() noexcept { return nullptr; }
    static void close(PIDLIST_ABSOLUTE list) noexcept { api.CoTaskMemFree(list); }
};
using ItemIdList = UniqueResource<PIDLIST_ABSOLUTE, ItemIdListTraits>;

// Larger than the MAX_PATH characters the shell writes at most.
constexpr std::size_t kPathBufferBytes = 512;

}  // namespace

std::wstring GetSpecialFolder(long folder) {
    ItemIdList list;
    // The owner window is reserved by the shell and carries nothing.
    if (api.SHGetSpecialFolderLocation(nullptr, static_cast<int>(folder), list.put()) != S_OK || !list) return {};

    char buffer[kPathBufferBytes] = {};
    if (!api.SHGetPathFromIDListA(list.get(), buffer)) return {};  // a virtual folder has no path
    const char* end = std::find(buffer, buffer + kPathBufferBytes, '\0');
    return FromAnsi(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace modCommonSpecialFolders
