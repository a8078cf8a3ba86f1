// Message boxes and the Win32 clipboard, reached through one table so that
// tests can answer boxes and see what the program showed.
#include "InstallerUi.h"

#include "common/RuntimeError.h"
#include "common/UniqueResource.h"

#include <cstring>

namespace InstallerUi {

namespace {

struct GlobalTraits {
    static HGLOBAL invalid() noexcept { return nullptr; }
    static void close(HGLOBAL memory) noexcept { ::GlobalFree(memory); }
};
using UniqueGlobal = UniqueResource<HGLOBAL, GlobalTraits>;

// Another program may hold the clipboard for a moment (clipboard viewers do).
bool OpenClipboardBriefly() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::OpenClipboard(nullptr)) return true;
        ::Sleep(50);
    }
    return false;
}

class ClipboardSession {
public:
    ClipboardSession() {
        if (!OpenClipboardBriefly()) RaiseError(kErrCantOpenClipboard);
    }
    ~ClipboardSession() { ::CloseClipboard(); }
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

void SetWin32ClipboardText(const std::wstring& text) {
    UniqueGlobal memory = CopyToGlobal(text);
    const ClipboardSession session;
    ::EmptyClipboard();
    if (!::SetClipboardData(CF_UNICODETEXT, memory.get()))
        RaiseError(kErrCantOpenClipboard);
    memory.release();  // the clipboard owns it now
}

}  // namespace

Api api = {::MessageBoxW, SetWin32ClipboardText};

bool ErrorBoxShown = false;

int ShowMessage(const std::wstring& text, UINT style) {
    return api.MessageBoxW(nullptr, text.c_str(), kProgramTitle, style);
}

void ShowErrorBox(const std::wstring& text) {
    ErrorBoxShown = true;
    ShowMessage(text, MB_OK | MB_ICONERROR);
}

void SetClipboardText(const std::wstring& text) { api.SetClipboardText(text); }

}  // namespace InstallerUi
