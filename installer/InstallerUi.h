// The installer's only contact with the user: modal message boxes and the
// clipboard, and, where no one can see a box, the Application event log. It
// also remembers whether an error box was shown, which decides the exit code.
#pragma once

#include <windows.h>

#include <string>

namespace InstallerUi {

// Asks once whether anyone can see this run, into RunIsSeen. No one can on a
// window station without WSF_VISIBLE, nor in session 0 from Windows Vista on,
// which holds services only, nor where the process runs as LocalSystem,
// LocalService or NetworkService: Windows Installer runs its elevated actions
// as SYSTEM in the session of whoever started it, on that person's desktop,
// where a box of a service account waits for an answer no one owes it. A
// question that can't be answered counts as seen.
void DetectWhetherRunIsSeen();
// False where no one sees the run (a deployment tool running the installation
// as SYSTEM, say): boxes are then taken as answered, not shown.
extern bool RunIsSeen;

// Shows a box titled with the program's title; returns the button pressed
// (IDOK, IDYES, IDNO). Where no one sees the run, shows nothing and
// answers as an absent user would: No to a question, else OK.
int ShowMessage(const std::wstring& text, UINT style);
// A critical error box with an OK button; notes that the run reported trouble.
void ShowErrorBox(const std::wstring& text);
// Empties the clipboard and puts the text on it; raises error 521 when the
// clipboard can't be opened or filled.
void SetClipboardText(const std::wstring& text);
// Writes the text as one event of the Application log, an error or an
// information event. A failure to write it is ignored.
void ReportToEventLog(const std::wstring& text, bool failed);

// True once an error box has been shown (or taken as answered) in this run.
extern bool ErrorBoxShown;

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::MessageBoxW) MessageBoxW;
    decltype(&::GetProcessWindowStation) GetProcessWindowStation;
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;
    decltype(&::GetCurrentProcessId) GetCurrentProcessId;
    decltype(&::ProcessIdToSessionId) ProcessIdToSessionId;
    decltype(&::CreateWindowExW) CreateWindowExW;
    decltype(&::DestroyWindow) DestroyWindow;
    decltype(&::OpenClipboard) OpenClipboard;
    decltype(&::EmptyClipboard) EmptyClipboard;
    decltype(&::SetClipboardData) SetClipboardData;
    decltype(&::CloseClipboard) CloseClipboard;
    decltype(&::Sleep) Sleep;
    decltype(&::RegisterEventSourceW) RegisterEventSourceW;
    decltype(&::ReportEventW) ReportEventW;
    decltype(&::DeregisterEventSource) DeregisterEventSource;
    decltype(&::IsWellKnownSid) IsWellKnownSid;
};
extern Api api;

}  // namespace InstallerUi
