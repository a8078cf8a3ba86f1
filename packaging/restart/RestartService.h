// The one-shot service that registers the control after the restart that puts
// its new file in place: an auto-start service running as LocalSystem, the
// one thing that runs as SYSTEM with nobody logged on on every Windows from XP
// on. Its binary is our starter, which runs the installed program once and
// deletes the service.
//
// Each arrangement is a service of its own, named anew ("TarvexRegisterAtRestart-"
// and a suffix), after every earlier one is deleted: a service is created
// with every field this arrangement wants, and nothing an earlier one had
// (failure actions, a delayed start, a SID type, privileges, triggers, a
// DACL) carries over. An earlier service that someone still holds open
// (any interactive user may open one for its status) stays marked for
// deletion until the handle goes, and no longer starts, but can't keep the
// new one from being made.
#pragma once

#include <windows.h>

#include <string>

namespace RestartService {

// Every arrangement's service name begins with this.
inline constexpr wchar_t kServiceNamePrefix[] = L"TarvexRegisterAtRestart";

// The service's command line: the starter's path in quotes. Unquoted, a path
// with a blank ("C:\Program Files (x86)\...") would let the service control
// manager start C:\Program.exe as SYSTEM.
std::wstring CommandLine(const std::wstring& starter);

// What Arrange did: 0, or the system's error; refused, why a starter was not
// arranged at all (missing, or where users could change it).
struct Arranged {
    DWORD error;
    std::wstring refusal;
};
// Arranges for the starter to run at the next start, as a new service,
// after every earlier arrangement is deleted. A starter that does not exist,
// or that fails the check of what may run as SYSTEM (FolderTrust), is refused.
Arranged Arrange(const std::wstring& starter);

// What Cancel did: took an arrangement away, found none, or failed with the system's error.
struct Cancelled {
    bool wasArranged;
    DWORD error;
};
// Takes every arrangement away; none there is no error, nor is one already
// marked for deletion.
Cancelled Cancel();

// What MatchPendingRename did: arranged (or kept) the registration, or took it away.
struct Matched {
    bool arranged;
    DWORD error;
    std::wstring refusal;
};
// The rollbacks' rule, which needs no record of what came before it (a
// rollback action sees only what was fixed when the script was written): a
// registration is arranged exactly while a rename onto the control waits
// for the restart, whoever's it is. One that is there for this starter, and
// not marked for deletion, stays as it is; else one is arranged anew.
Matched MatchPendingRename(const std::wstring& control, const std::wstring& starter);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::OpenSCManagerW) OpenSCManagerW;
    decltype(&::CreateServiceW) CreateServiceW;
    decltype(&::OpenServiceW) OpenServiceW;
    decltype(&::EnumServicesStatusW) EnumServicesStatusW;
    decltype(&::QueryServiceConfigW) QueryServiceConfigW;
    decltype(&::ChangeServiceConfigW) ChangeServiceConfigW;
    decltype(&::DeleteService) DeleteService;
    decltype(&::CloseServiceHandle) CloseServiceHandle;
    decltype(&::GetFileAttributesW) GetFileAttributesW;
    decltype(&::GetTickCount) GetTickCount;
};
extern Api api;

}  // namespace RestartService
