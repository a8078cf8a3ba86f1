// The whole run of the program: the form's work under a last-resort handler,
// the report of a run no one could watch, and the exit code that tells the
// installation package how the run went.
#pragma once

#include <windows.h>

namespace Program {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Runs the installation: kExitFailure when an error box was shown or a
// run-time error escaped, else kExitSuccess.
int Run();
// Takes the program's folder and the current directory out of the search for
// DLLs loaded from here on: they may be writable by anyone, and this process
// runs elevated. Where the system can, only the system folder is searched.
// A system that can do neither keeps its search; the run goes on.
void RestrictDllSearch();
// For an error that escaped every handler: its box, the report, then the
// end of the process with kExitFailure.
void EndAfterEscapedError() noexcept;

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::ExitProcess) ExitProcess;
    decltype(&::SetErrorMode) SetErrorMode;
    decltype(&::GetModuleHandleW) GetModuleHandleW;
    decltype(&::GetProcAddress) GetProcAddress;
};
extern Api api;

}  // namespace Program
