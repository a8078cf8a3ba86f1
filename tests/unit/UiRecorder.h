// Answers the installer's message boxes and keeps what it showed, what it put
// on the clipboard and the events it wrote, for as long as the recorder
// lives; it also answers the questions whether the window station can be
// seen and which account the process runs as. The clipboard calls are faked; the owner window the program makes for
// them is real.
#pragma once

#include "ApiOverride.h"
#include "shared/ProcessAccount.h"
#include "installer/Clipboard.h"
#include "installer/MessageBoxes.h"
#include "installer/RunAudience.h"
#include "installer/RunEvent.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

struct ShownBox {
    std::wstring text;
    std::wstring title;
    UINT style;
};

struct WrittenEvent {
    std::wstring source;
    WORD type;
    std::vector<std::wstring> strings;
};

class UiRecorder {
public:
    UiRecorder() {
        active() = this;
        RunAudience::RunIsSeen = true;
        MessageBoxes::ErrorBoxShown = false;
    }
    ~UiRecorder() {
        active() = nullptr;
        RunAudience::RunIsSeen = true;
    }
    UiRecorder(const UiRecorder&) = delete;
    UiRecorder& operator=(const UiRecorder&) = delete;

    // Boxes take these answers in turn; once they run out, every box is answered OK.
    std::deque<int> answers;
    std::vector<ShownBox> boxes;
    // The texts put on the clipboard, and the window that opened it each time.
    std::vector<std::wstring> clipboard;
    std::vector<HWND> clipboardOwners;
    std::vector<bool> ownerWasMessageOnly;
    bool clipboardOpen = false;
    bool refuseClipboard = false;
    // How the window station question is answered: its flags, or no answer;
    // and the session the process runs in (no answer when negative).
    enum class Station { Visible, Invisible, QueryFails } station = Station::Visible;
    long session = 1;
    // The process token's user: this test's own, a well-known account, or no answer.
    enum class Account { Own, LocalSystem, LocalService, NetworkService, Unreadable } account = Account::Own;
    std::vector<WrittenEvent> events;
    bool refuseEventSource = false;
    int openEventSources = 0;

private:
    static UiRecorder*& active() {
        static UiRecorder* recorder = nullptr;
        return recorder;
    }
    static int WINAPI MessageBox(HWND, LPCWSTR text, LPCWSTR title, UINT style) {
        UiRecorder& self = *active();
        self.boxes.push_back({text, title, style});
        if (self.answers.empty()) return IDOK;
        const int answer = self.answers.front();
        self.answers.pop_front();
        return answer;
    }
    static BOOL WINAPI OpenClipboard(HWND owner) {
        UiRecorder& self = *active();
        if (self.refuseClipboard) return FALSE;
        self.clipboardOwners.push_back(owner);
        bool messageOnly = false;
        for (HWND found = nullptr; (found = ::FindWindowExW(HWND_MESSAGE, found, nullptr, nullptr)) != nullptr;)
            messageOnly = messageOnly || found == owner;
        self.ownerWasMessageOnly.push_back(messageOnly);
        self.clipboardOpen = true;
        return TRUE;
    }
    static BOOL WINAPI EmptyClipboard() { return active()->clipboardOpen; }
    // Takes the memory as the clipboard would: it is freed here once read.
    static HANDLE WINAPI SetClipboardData(UINT format, HANDLE data) {
        UiRecorder& self = *active();
        if (!self.clipboardOpen || format != CF_UNICODETEXT) return nullptr;
        self.clipboard.push_back(static_cast<const wchar_t*>(::GlobalLock(data)));
        ::GlobalUnlock(data);
        ::GlobalFree(data);
        return data;
    }
    static BOOL WINAPI CloseClipboard() {
        active()->clipboardOpen = false;
        return TRUE;
    }
    static void WINAPI NoPause(DWORD) {}
    static HWINSTA WINAPI ProcessStation() { return reinterpret_cast<HWINSTA>(0x5157); }
    static BOOL WINAPI StationInformation(HANDLE station, int index, PVOID info, DWORD size, LPDWORD needed) {
        UiRecorder& self = *active();
        if (self.station == Station::QueryFails || station != ProcessStation() || index != UOI_FLAGS ||
            size < sizeof(USEROBJECTFLAGS))
            return FALSE;
        *static_cast<USEROBJECTFLAGS*>(info) = {FALSE, FALSE, self.station == Station::Visible ? WSF_VISIBLE : 0u};
        *needed = sizeof(USEROBJECTFLAGS);
        return TRUE;
    }
    static BOOL WINAPI SessionOf(DWORD processId, DWORD* session) {
        const UiRecorder& self = *active();
        if (self.session < 0 || processId != ::GetCurrentProcessId()) return FALSE;
        *session = static_cast<DWORD>(self.session);
        return TRUE;
    }
    static BOOL WINAPI TokenUser(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size, PDWORD needed) {
        const Account account = active()->account;
        if (account == Account::Own) return ::GetTokenInformation(token, kind, info, size, needed);
        const WELL_KNOWN_SID_TYPE types[] = {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid};
        if (account == Account::Unreadable || kind != ::TokenUser || size < sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE)
            return FALSE;
        auto* user = static_cast<TOKEN_USER*>(info);
        user->User = {user + 1, 0};
        DWORD sidSize = SECURITY_MAX_SID_SIZE;
        return ::CreateWellKnownSid(types[static_cast<int>(account) - 1], nullptr, user->User.Sid, &sidSize);
    }
    static HANDLE WINAPI RegisterSource(LPCWSTR server, LPCWSTR source) {
        UiRecorder& self = *active();
        if (self.refuseEventSource || server != nullptr) return nullptr;
        ++self.openEventSources;
        self.events.push_back({source, 0, {}});
        return reinterpret_cast<HANDLE>(0x3E7);
    }
    static BOOL WINAPI Report(HANDLE source, WORD type, WORD, DWORD, PSID, WORD count, DWORD, LPCWSTR* strings,
                              LPVOID) {
        UiRecorder& self = *active();
        if (source != reinterpret_cast<HANDLE>(0x3E7) || self.events.empty()) return FALSE;
        self.events.back().type = type;
        self.events.back().strings.assign(strings, strings + count);
        return TRUE;
    }
    static BOOL WINAPI DeregisterSource(HANDLE source) {
        if (source == reinterpret_cast<HANDLE>(0x3E7)) --active()->openEventSources;
        return TRUE;
    }

    ApiOverride<decltype(MessageBoxes::api.MessageBoxW)> box_{MessageBoxes::api.MessageBoxW, &UiRecorder::MessageBox};
    ApiOverride<decltype(Clipboard::api.OpenClipboard)> open_{Clipboard::api.OpenClipboard,
                                                                &UiRecorder::OpenClipboard};
    ApiOverride<decltype(Clipboard::api.EmptyClipboard)> empty_{Clipboard::api.EmptyClipboard,
                                                                  &UiRecorder::EmptyClipboard};
    ApiOverride<decltype(Clipboard::api.SetClipboardData)> set_{Clipboard::api.SetClipboardData,
                                                                  &UiRecorder::SetClipboardData};
    ApiOverride<decltype(Clipboard::api.CloseClipboard)> close_{Clipboard::api.CloseClipboard,
                                                                  &UiRecorder::CloseClipboard};
    ApiOverride<decltype(Clipboard::api.Sleep)> sleep_{Clipboard::api.Sleep, &UiRecorder::NoPause};
    ApiOverride<decltype(RunAudience::api.GetProcessWindowStation)> station_{
        RunAudience::api.GetProcessWindowStation, &UiRecorder::ProcessStation};
    ApiOverride<decltype(RunAudience::api.GetUserObjectInformationW)> stationInfo_{
        RunAudience::api.GetUserObjectInformationW, &UiRecorder::StationInformation};
    ApiOverride<decltype(RunAudience::api.ProcessIdToSessionId)> session_{RunAudience::api.ProcessIdToSessionId,
                                                                           &UiRecorder::SessionOf};
    ApiOverride<decltype(ProcessAccount::api.GetTokenInformation)> token_{ProcessAccount::api.GetTokenInformation,
                                                                            &UiRecorder::TokenUser};
    ApiOverride<decltype(RunEvent::api.RegisterEventSourceW)> register_{RunEvent::api.RegisterEventSourceW,
                                                                           &UiRecorder::RegisterSource};
    ApiOverride<decltype(RunEvent::api.ReportEventW)> report_{RunEvent::api.ReportEventW, &UiRecorder::Report};
    ApiOverride<decltype(RunEvent::api.DeregisterEventSource)> deregister_{
        RunEvent::api.DeregisterEventSource, &UiRecorder::DeregisterSource};
};
