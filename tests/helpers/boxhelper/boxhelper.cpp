// boxhelper: lets the end-to-end scripts see and answer the installer's
// message boxes and read or set the clipboard, through the same Win32 calls a
// user's clicks end up in. Console program: results go to stdout as UTF-8,
// complaints to stderr, and the exit code says how it went.
//
//   boxhelper wait MS               describe the box and print its text
//   boxhelper answer yes|no|ok MS   the same, then press the button and wait
//                                   until the box has gone
//   boxhelper getclip [unicode|ansi] print the clipboard's text in that format
//                                   (CF_UNICODETEXT, the default, or CF_TEXT
//                                   read in the ANSI code page)
//   boxhelper setclip TEXT          put TEXT on the clipboard ("" empties it)
//   boxhelper keepalive MS          hold a window open until released or MS is over
//   boxhelper release MS            end a keepalive and wait until it has gone
//
// A leading "--desktop NAME" works on the named Wine desktop instead of the
// default one (a virtual desktop started by explorer /desktop=NAME,WxH);
// "--title TITLE" looks for a box of that title instead of the program's
// (Windows Installer's own boxes, say); "--title '*'" for a box of any title.
//
// A box is described on one line, "buttons=yes,no icon=none title=TITLE
// geometry=WxH+X+Y", followed by the box's text exactly as shown (CR LF kept,
// no newline added).
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kBoxClass[] = L"#32770";
std::wstring boxTitle = L"TarvexActiveXInstaller";
const wchar_t kKeepAliveClass[] = L"TarvexBoxHelperKeepAlive";
const int kBoxTextId = 0xFFFF;
const DWORD kPollMs = 50;
const DWORD kDesktopWaitMs = 30000;

enum ExitCode { kOk = 0, kUsage = 1, kTimedOut = 2, kNoText = 3, kWrongBox = 4, kFailed = 5 };

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                          nullptr, nullptr);
    return bytes;
}

// Raw bytes to stdout: no CR LF translation, so the scripts see the text as it is.
void Print(const std::wstring& text) {
    const std::string bytes = ToUtf8(text);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

int Fail(int code, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputws(L"boxhelper: ", stderr);
    std::vfwprintf(stderr, format, args);
    std::fputws(L"\n", stderr);
    va_end(args);
    return code;
}

// Asks `done` every kPollMs until it says yes (true) or the time is over (false).
template <class Predicate>
bool PollUntil(DWORD timeoutMs, Predicate done) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (done()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(kPollMs);
    }
}

// The box counts as there once it is visible: its text is set before it is shown.
HWND WaitForBox(DWORD timeoutMs) {
    HWND box = nullptr;
    const bool shown = PollUntil(timeoutMs, [&box] {
        box = ::FindWindowW(kBoxClass, boxTitle == L"*" ? nullptr : boxTitle.c_str());
        return box && ::IsWindowVisible(box) && ::GetDlgItem(box, kBoxTextId);
    });
    return shown ? box : nullptr;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    return PollUntil(timeoutMs, [window] { return !::IsWindow(window); });
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], static_cast<int>(text.size()))));
    return text;
}

bool HasButton(HWND box, int id) {
    HWND button = ::GetDlgItem(box, id);
    return button && ::IsWindowVisible(button);
}

// Any icon control showing an icon; the box's own layout decides where it sits.
BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, 16);
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    if (std::wcscmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

std::wstring Describe(HWND box) {
    struct { int id; const wchar_t* name; } const buttons[] = {
        {IDOK, L"ok"}, {IDCANCEL, L"cancel"}, {IDYES, L"yes"}, {IDNO, L"no"}};
    std::wstring names;
    for (const auto& button : buttons) {
        if (!HasButton(box, button.id)) continue;
        if (!names.empty()) names += L",";
        names += button.name;
    }
    bool icon = false;
    ::EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
    RECT frame = {};
    ::GetWindowRect(box, &frame);
    wchar_t geometry[64];
    std::swprintf(geometry, 64, L"%ldx%ld+%ld+%ld", frame.right - frame.left,
                  frame.bottom - frame.top, frame.left, frame.top);
    return L"buttons=" + names + L" icon=" + (icon ? L"shown" : L"none") + L" title=" + WindowText(box) +
           L" geometry=" + geometry + L"\n";
}

int ShowBox(DWORD timeoutMs, HWND* found) {
    HWND box = WaitForBox(timeoutMs);
    if (!box) return Fail(kTimedOut, L"no box titled %ls appeared within %lu ms", boxTitle.c_str(), timeoutMs);
    Print(Describe(box) + WindowText(::GetDlgItem(box, kBoxTextId)));
    *found = box;
    return kOk;
}

int Answer(const std::wstring& button, DWORD timeoutMs) {
    const int id = button == L"yes" ? IDYES : button == L"no" ? IDNO : button == L"ok" ? IDOK : 0;
    if (!id) return Fail(kUsage, L"unknown button %ls", button.c_str());
    HWND box = nullptr;
    if (const int result = ShowBox(timeoutMs, &box)) return result;
    // A message box ends on any of these commands, present button or not; so
    // pressing a button the box does not have would hide a wrong box.
    if (!HasButton(box, id)) return Fail(kWrongBox, L"the box has no %ls button", button.c_str());
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
    if (!WaitUntilGone(box, timeoutMs))
        return Fail(kFailed, L"the box was still open %lu ms after pressing %ls", timeoutMs,
                    button.c_str());
    return kOk;
}

struct ClipboardLock {
    bool open;
    ClipboardLock() : open(false) {
        // Another process may hold it for a moment (the installer setting it, say).
        PollUntil(5000, [this] {
            open = ::OpenClipboard(nullptr) != FALSE;
            return open;
        });
    }
    ~ClipboardLock() { if (open) ::CloseClipboard(); }
};

std::wstring FromAnsi(const char* bytes) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes, -1, &text[0], size);
    text.resize(static_cast<size_t>(size - 1));
    return text;
}

int GetClipboard(const std::wstring& format) {
    const bool ansi = format == L"ansi";
    if (!ansi && format != L"unicode") return Fail(kUsage, L"unknown clipboard format %ls", format.c_str());
    ClipboardLock lock;
    if (!lock.open) return Fail(kFailed, L"cannot open the clipboard");
    HANDLE data = ::GetClipboardData(ansi ? CF_TEXT : CF_UNICODETEXT);
    if (!data) return Fail(kNoText, L"the clipboard holds no %ls text", format.c_str());
    const void* text = ::GlobalLock(data);
    if (!text) return Fail(kFailed, L"cannot lock the clipboard's text");
    Print(ansi ? FromAnsi(static_cast<const char*>(text)) : std::wstring(static_cast<const wchar_t*>(text)));
    ::GlobalUnlock(data);
    return kOk;
}

int SetClipboard(const std::wstring& text) {
    ClipboardLock lock;
    if (!lock.open) return Fail(kFailed, L"cannot open the clipboard");
    ::EmptyClipboard();
    if (text.empty()) return kOk;
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return Fail(kFailed, L"out of memory");
    std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) {
        ::GlobalFree(memory);
        return Fail(kFailed, L"cannot set the clipboard's text");
    }
    return kOk;
}

// Wine keeps the clipboard in its desktop process, which ends a few seconds
// after the last process with a window; this window keeps it (and the text) alive.
int KeepAlive(DWORD timeoutMs) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kKeepAliveClass;
    if (!::RegisterClassW(&windowClass)) return Fail(kFailed, L"cannot register the window class");
    HWND window = ::CreateWindowW(kKeepAliveClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (!window) return Fail(kFailed, L"cannot create the window");
    const DWORD start = ::GetTickCount();
    while (::IsWindow(window)) {
        if (::GetTickCount() - start >= timeoutMs) {
            ::DestroyWindow(window);
            return Fail(kTimedOut, L"keepalive not released within %lu ms", timeoutMs);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    return kOk;
}

int Release(DWORD timeoutMs) {
    HWND window = ::FindWindowW(kKeepAliveClass, nullptr);
    if (!window) return Fail(kFailed, L"no keepalive window is open");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (!WaitUntilGone(window, timeoutMs)) return Fail(kFailed, L"keepalive still open");
    return kOk;
}

int Usage() {
    return Fail(kUsage, L"usage: boxhelper [--desktop NAME] [--title TITLE] wait MS | answer yes|no|ok MS | getclip [unicode|ansi] | setclip TEXT"
                        L" | keepalive MS | release MS");
}

DWORD Milliseconds(const wchar_t* text) { return std::wcstoul(text, nullptr, 10); }

// Windows are found only on the thread's own desktop; switch before making any.
// The desktop appears once explorer has started, so give it a while.
bool UseDesktop(const std::wstring& name) {
    HDESK desktop = nullptr;
    PollUntil(kDesktopWaitMs, [&] { return (desktop = ::OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL)) != nullptr; });
    return desktop && ::SetThreadDesktop(desktop);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    while (args.size() >= 2 && (args[0] == L"--desktop" || args[0] == L"--title")) {
        if (args[0] == L"--title") boxTitle = args[1];
        else if (!UseDesktop(args[1])) return Fail(kFailed, L"cannot use desktop %ls", args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return Usage();
    const std::wstring& command = args[0];
    if (command == L"wait" && args.size() == 2) {
        HWND box = nullptr;
        return ShowBox(Milliseconds(args[1].c_str()), &box);
    }
    if (command == L"answer" && args.size() == 3) return Answer(args[1], Milliseconds(args[2].c_str()));
    if (command == L"getclip" && args.size() <= 2) return GetClipboard(args.size() == 2 ? args[1] : L"unicode");
    if (command == L"setclip" && args.size() == 2) return SetClipboard(args[1]);
    if (command == L"keepalive" && args.size() == 2) return KeepAlive(Milliseconds(args[1].c_str()));
    if (command == L"release" && args.size() == 2) return Release(Milliseconds(args[1].c_str()));
    return Usage();
}
