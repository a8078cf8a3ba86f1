#include "Clipboard.h"

#include "common/RuntimeError.h"
#include "shared/UniqueResource.h"

#include <cstring>

namespace Clipboard {

Api api = {
    ::CreateWindowExW, ::DestroyWindow, ::OpenClipboard, ::EmptyClipboard, ::SetClipboardData, ::CloseClipboard,
    ::Sleep,
};

namespace {

struct GlobalTraits {
    static HGLOBAL invalid() noexcept { return nullptr; }
    static void close(HGLOBAL memory) noexcept { ::GlobalFree(memory); }
};
using UniqueGlobal = UniqueResource<HGLOBAL, GlobalTraits>;

struct WindowTraits {
    static HWND invalid() noexcept { return nullptr; }
    static void close(HWND window) noexcept { api.DestroyWindow(window); }
};
using UniqueWindow = UniqueResource<HWND, WindowTraits>;

// Emptied by a window of ours, the clipboard has an owner, without which
// Windows may refuse the data. A message-only window is never seen.
UniqueWindow CreateClipboardOwner() {
    UniqueWindow window(
        api.CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    if (!window) RaiseError(kErrCantOpenClipboard);
    return window;
}

// Another program may hold the clipboard for a moment (clipboard viewers do).
bool OpenClipboardBriefly(HWND owner) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (api.OpenClipboard(owner)) return true;
        api.Sleep(50);
    }
    return false;
}

class ClipboardSession {
public:
    explicit ClipboardSession(HWND owner) {
        if (!OpenClipboardBriefly(owner)) RaiseError(kErrCantOpenClipboard);
    }
    ~ClipboardSession() { api.CloseClipboard(); }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;
};

UniqueGlobal CopyToGlobal(const std::wstring& text) {
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) RaiseError(kErrOutOfMemory);
    void* target = ::GlobalLock(memory.get());
    if (!target) RaiseError(kErrOutOfMemory);
    std::memcpy(target, text.c_str(), bytes);
    ::GlobalUnlock(memory.get());
    return memory;
}

}  // namespace

void SetClipboardText(const std::wstring& text) {
    UniqueGlobal memory = CopyToGlobal(text);
    const UniqueWindow owner = CreateClipboardOwner();
    const ClipboardSession session(owner.get());
    api.EmptyClipboard();
    if (!api.SetClipboardData(CF_UNICODETEXT, memory.get())) RaiseError(kErrCantOpenClipboard);
    memory.release();  // the clipboard owns it now
}

}  // namespace Clipboard
