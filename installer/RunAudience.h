// Whether anyone can see this run: it decides whether boxes are shown or
// taken as answered, whether the registration tool is bounded in time, and
// whether the run's outcome goes to the event log.
#pragma once

#include <windows.h>

namespace RunAudience {

// Asks once whether anyone can see this run, into RunIsSeen. No one can on a
// window station without WSF_VISIBLE, nor in session 0 from Windows Vista on,
// which holds services only, nor where the process runs as LocalSystem,
// LocalService or NetworkService: Windows Installer runs its elevated actions
// as SYSTEM in the session of whoever started it, on that person's desktop,
// where a box of a service account waits for an answer no one owes it. A
// question that can't be answered counts as seen.
void DetectWhetherRunIsSeen();
// False where no one sees the run (a deployment tool running the installation
// as SYSTEM, say).
extern bool RunIsSeen;

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetProcessWindowStation) GetProcessWindowStation;
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;
    decltype(&::GetCurrentProcessId) GetCurrentProcessId;
    decltype(&::ProcessIdToSessionId) ProcessIdToSessionId;
    decltype(&::IsWellKnownSid) IsWellKnownSid;
};
extern Api api;

}  // namespace RunAudience
