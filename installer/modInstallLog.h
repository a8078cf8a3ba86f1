// The installation log, error boxes and the description of run-time errors.
#pragma once

#include <string>

namespace modInstallLog {

extern std::wstring InstallLog;

// Appends "<now as text>: <text>" and CR LF to the log.
void AddToLog(const std::wstring& text);
// Logs the text, then shows it in a critical error box titled with the program's title.
void ShowError(const std::wstring& text);
// Describes the run-time error being handled: ": <message> ($<hex>), Source <source>".
// Call it only inside a catch block.
std::wstring GetErrorText();
// The common library's diagnostic hook; this program drops what it is given.
void ReportDiagnostic(const std::wstring& message, bool flag);

}  // namespace modInstallLog
