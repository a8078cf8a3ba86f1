// The system's COM registration tool, RegSvr32.exe, as the program and the
// package's custom actions run it: how long it may take where no one can
// answer a dialog, and what its exit codes mean.
#pragma once

#include <windows.h>

#include <string>

namespace RegistrationTool {

// Where no one sees the run, nobody can answer a dialog that the control's
// registration code opens: the tool gets this long, then it is ended.
inline constexpr DWORD kUnseenLimitMinutes = 5;

// Returned when the started process's exit code can't be read: never 0, so
// that a caller can't take an unknown outcome for success.
inline constexpr long kExitCodeUnknown = -1;
// The exit code given to a process ended for outliving its time limit (ERROR_TIMEOUT).
inline constexpr long kExitCodeTimedOut = ERROR_TIMEOUT;

// What the tool's exit code means, in words; empty for a code that means
// nothing known.
std::wstring ExitCodeMeaning(long exitCode);

}  // namespace RegistrationTool
