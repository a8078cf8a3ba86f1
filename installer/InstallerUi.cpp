// Message boxes, the Win32 clipboard and the event log, reached through one
// table so that tests can answer boxes and see what the program showed.
#include "InstallerUi.h"

#include "RunRecords.h"
#include "shared/ProcessAccount.h"
#include "common/RuntimeError.h"
#include "shared/UniqueResource.h"
#include "common/modCommonOsVersion.h"

#include <cstring>

namespace InstallerUi {

Api api = {
    ::MessageBoxW,
    ::GetProcessWindowStation,
    ::GetUserObjectInformationW,
    ::GetCurrentProcessId,
    ::ProcessIdToSessionId,
    ::CreateWindowExW,
    ::DestroyWindow,
    ::OpenClipboard,
    ::EmptyClipboard,
    ::SetClipboardData,
    ::CloseClipboard,
    ::Sleep,
    ::RegisterEventSourceW,
    ::ReportEventW,
    ::DeregisterEventSource,
    ::IsWellKnownSid,
};

bool RunIsSeen = true;
bool ErrorBoxShown = false;

namespace {

// The program's own events carry one number; the text says what happened.
constexpr DWORD kRunEventId = 1;

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

struct EventSourceTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE source) noexcept { api.DeregisterEventSource(source); }
};
using UniqueEventSource = UniqueResource<HANDLE, EventSourceTraits>;

// A box no one can see is answered as an absent user would: no to a question.
int UnattendedAnswer(UINT style) { return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; }

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

// True unless the station is known to lack WSF_VISIBLE. The station's handle
// belongs to the process and is not closed.
bool StationIsVisible() {
    const HWINSTA station = api.GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!station || !api.GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Session 0 holds only services from Windows Vista on (NT 6), however visible
// its station says it is; on XP and Server 2003 it is the console user's own.
bool InIsolatedSessionZero() {
    DWORD session = 0;
    if (!api.ProcessIdToSessionId(api.GetCurrentProcessId(), &session) || session != 0) return false;
    return modCommonOsVersion::GetNtMajorVersion() >= 6;
}

// The process's user is one of the service accounts; false when the token
// can't be read.
bool RunsAsServiceAccount() {
    const ProcessAccount::User user;
    if (!user.sid()) return false;
    for (const WELL_KNOWN_SID_TYPE account : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid})
        if (api.IsWellKnownSid(user.sid(), account)) return true;
    return false;
}

}  // namespace

void DetectWhetherRunIsSeen() {
    RunIsSeen = StationIsVisible() && !InIsolatedSessionZero() && !RunsAsServiceAccount();
}

int ShowMessage(const std::wstring& text, UINT style) {
    if (!RunIsSeen) return UnattendedAnswer(style);
    return api.MessageBoxW(nullptr, text.c_str(), kProgramTitle, style);
}

void ShowErrorBox(const std::wstring& text) {
    ErrorBoxShown = true;
    RunRecords::WriteError(text);
    ShowMessage(text, MB_OK | MB_ICONERROR);
}

void SetClipboardText(const std::wstring& text) {
    UniqueGlobal memory = CopyToGlobal(text);
    const UniqueWindow owner = CreateClipboardOwner();
    const ClipboardSession session(owner.get());
    api.EmptyClipboard();
    if (!api.SetClipboardData(CF_UNICODETEXT, memory.get())) RaiseError(kErrCantOpenClipboard);
    memory.release();  // the clipboard owns it now
}

void ReportToEventLog(const std::wstring& text, bool failed) {
    const UniqueEventSource source(api.RegisterEventSourceW(nullptr, kProgramTitle));
    if (!source) return;
    const WORD type = failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE;
    LPCWSTR strings[] = {text.c_str()};
    api.ReportEventW(source.get(), type, 0, kRunEventId, nullptr, 1, 0, strings, nullptr);
}

}  // namespace InstallerUi
