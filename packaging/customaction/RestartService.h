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

// The service's command line: the starter's path in quotes. Unquoted, a path
// with a blank ("C:\Program Files (x86)\...") would let the service control
// manager start C:\Program.exe as SYSTEM.
std::wstring CommandLine(const std::wstring& starter);
// Arranges for the starter to run at the next start; one already arranged is
// set up anew, never a second added. 0, or the system's error.
DWORD Arrange(const std::wstring& starter);
// What Cancel did: took an arrangement away, found none, or failed with the system's error.
struct Cancelled {
    bool wasArranged;
    DWORD error;
};
// Takes the arrangement away; none there is no error.
Cancelled Cancel();

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::OpenSCManagerW) OpenSCManagerW;
    decltype(&::CreateServiceW) CreateServiceW;
    decltype(&::OpenServiceW) OpenServiceW;
    decltype(&::ChangeServiceConfigW) ChangeServiceConfigW;
    decltype(&::DeleteService) DeleteService;
    decltype(&::CloseServiceHandle) CloseServiceHandle;
};
extern Api api;

}  // namespace RestartService
