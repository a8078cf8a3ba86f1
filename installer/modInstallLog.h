// The installation log, error boxes and the description of run-time errors.
#pragma once

#include "common/CommonCallbacks.h"

#include <windows.h>

#include <string>

namespace modInstallLog {

extern std::wstring InstallLog;

// Appends "<now as text>: <text>" and CR LF to the log.
void AddToLog(const std::wstring& text);
// Logs the text, then shows it in a critical error box titled with the program's title.
void ShowError(const std::wstring& text);
// The common library's call-backs, defined here. GetErrorText gives
// ": <message> ($<hex>), Source <source>"; ReportDiagnostic drops what it is given.
using CommonCallbacks::GetErrorText;
using CommonCallbacks::ReportDiagnostic;

// The current local date and time as the user's short date, a space and the long time.
std::wstring NowAsText();

// Number and source of the run-time error being handled. A std::bad_alloc is
// error 7; any other exception that is no RuntimeError is error 5. Both come
// from this program. Call it only inside a catch block.
struct HandledError {
    long number;
    std::wstring source;
};
HandledError CurrentError();

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetLocalTime) GetLocalTime;
    decltype(&::GetDateFormatW) GetDateFormatW;
    decltype(&::GetTimeFormatW) GetTimeFormatW;
};
extern Api api;

}  // namespace modInstallLog
