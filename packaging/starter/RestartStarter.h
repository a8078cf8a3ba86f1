// The starter behind the one-shot service that the package arranges when
// TVex.DLL is replaced only at the next restart: at that restart, as SYSTEM
// and before anyone logs on, it runs the installed program beside it once,
// bounded in time, writes what came of it as an event (with the program's
// log), and deletes its service, so that it never runs again.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace RestartStarter {

// Hands this process to the service control manager; returns when the
// service has stopped, with 0 as its exit code where the program
// registered the control, else ERROR_INSTALL_FAILURE, ERROR_TIMEOUT or the
// reason it could not be started. Started any other way, it says so and returns 1.
int RunAsService();

// ReportEventW takes no string longer than this.
inline constexpr std::size_t kEventTextLimit = 31839;
// The event's text: the outcome, then the program's log; a text too long for
// an event keeps the outcome and the log's end, and says that it was cut.
std::wstring EventText(const std::wstring& outcome, const std::wstring& log);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::StartServiceCtrlDispatcherW) StartServiceCtrlDispatcherW;
    decltype(&::RegisterServiceCtrlHandlerW) RegisterServiceCtrlHandlerW;
    decltype(&::SetServiceStatus) SetServiceStatus;
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    decltype(&::RegisterEventSourceW) RegisterEventSourceW;
    decltype(&::ReportEventW) ReportEventW;
    decltype(&::DeregisterEventSource) DeregisterEventSource;
};
extern Api api;

}  // namespace RestartStarter
