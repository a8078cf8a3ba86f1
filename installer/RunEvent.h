// The run's outcome as one event of the Application log, for a run that no
// one sees.
#pragma once

#include <windows.h>

#include <string>

namespace RunEvent {

// Writes the text as one event, an error or an information event. A failure
// to write it is ignored.
void ReportToEventLog(const std::wstring& text, bool failed);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::RegisterEventSourceW) RegisterEventSourceW;
    decltype(&::ReportEventW) ReportEventW;
    decltype(&::DeregisterEventSource) DeregisterEventSource;
};
extern Api api;

}  // namespace RunEvent
