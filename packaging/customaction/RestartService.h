// The one-shot service that registers the control after the restart that puts
// its new file in place: an auto-start service running as LocalSystem, the
// one thing that runs as SYSTEM with nobody logged on on every Windows from XP
// on. Its binary is our starter, which runs the installed program once and
// deletes the service.
#pragma once

#include <windows.h>

#include <string>

namespace RestartService {

inline constexpr wchar_t kServiceName[] = L"TarvexRegisterAtRestart";
inline constexpr wchar_t kLocalSystem[] = L"LocalSystem";

// The service's command line: the starter's path in quotes. Unquoted, a path
// with a blank ("C:\Program Files (x86)\...") would let the service control
// manager start C:\Program.exe as SYSTEM.
std::wstring CommandLine(const std::wstring& starter);
// Arranges for the starter to run at the next start; one already arranged is
// set up anew, every field of it, never a second added. A service marked for
// deletion is waited for a few seconds; then ERROR_SERVICE_MARKED_FOR_DELETE
// says that it is still there (it can't be set up anew). 0, or the system's error.
DWORD Arrange(const std::wstring& starter);
// What Cancel did: took an arrangement away, found none, or failed with the system's error.
struct Cancelled {
    bool wasArranged;
    DWORD error;
};
// Takes the arrangement away; none there is no error.
Cancelled Cancel();

// What MatchPendingRename did: arranged (or kept) the registration, or took it away.
struct Matched {
    bool arranged;
    DWORD error;
};
// The rollbacks' rule, which needs no record of what came before it (a
// rollback action sees only what was fixed when the script was written): a
// registration is arranged exactly while a rename onto the control waits
// for the restart, whoever's it is.
Matched MatchPendingRename(const std::wstring& control, const std::wstring& starter);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::OpenSCManagerW) OpenSCManagerW;
    decltype(&::CreateServiceW) CreateServiceW;
    decltype(&::OpenServiceW) OpenServiceW;
    decltype(&::ChangeServiceConfigW) ChangeServiceConfigW;
    decltype(&::DeleteService) DeleteService;
    decltype(&::CloseServiceHandle) CloseServiceHandle;
    decltype(&::Sleep) Sleep;
};
extern Api api;

}  // namespace RestartService
