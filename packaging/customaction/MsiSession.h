// The custom actions' one contact with Windows Installer: what the session
// hands them (CustomActionData) and what they hand back (lines for msiexec's
// log, an error for the installer to show or log).
#pragma once

#include <windows.h>
#include <msiquery.h>

#include <string>

namespace MsiSession {

// Every line of ours in msiexec's log begins with this.
inline constexpr wchar_t kLogPrefix[] = L"TarvexActiveXInstaller: ";

// The deferred action's CustomActionData; empty when there is none.
std::wstring CustomActionData(MSIHANDLE session);
// One line in msiexec's log (INSTALLMESSAGE_INFO), after kLogPrefix.
void Log(MSIHANDLE session, const std::wstring& line);
// The installer's own error: a box with the critical icon and OK where the
// installation has a user interface, a line in its log where it has none.
void ShowError(MSIHANDLE session, const std::wstring& text);
// Whether the person has cancelled the installation: asked with a progress
// message that moves nothing (and is logged nowhere), which Windows Installer
// answers IDCANCEL once Cancel was pressed.
bool CancelRequested(MSIHANDLE session);
// Whether the action runs as part of a rollback, which can't be cancelled.
bool InRollback(MSIHANDLE session);

// The text as a record's template shows it: Windows Installer formats a
// template, so its brackets and braces are written as escapes.
std::wstring AsTemplate(const std::wstring& text);

// The Windows Installer entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::MsiGetPropertyW) MsiGetPropertyW;
    decltype(&::MsiCreateRecord) MsiCreateRecord;
    decltype(&::MsiRecordSetStringW) MsiRecordSetStringW;
    decltype(&::MsiRecordSetInteger) MsiRecordSetInteger;
    decltype(&::MsiProcessMessage) MsiProcessMessage;
    decltype(&::MsiCloseHandle) MsiCloseHandle;
    decltype(&::MsiGetMode) MsiGetMode;
};
extern Api api;

}  // namespace MsiSession
