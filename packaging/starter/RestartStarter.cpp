#include "RestartStarter.h"

#include "shared/UniqueResource.h"
#include "packaging/runner/ChildProcess.h"
#include "packaging/runner/ProgramRecords.h"
#include "packaging/restart/RestartService.h"

#include <string>

namespace RestartStarter {

Api api = {
    ::StartServiceCtrlDispatcherW, ::RegisterServiceCtrlHandlerW, ::SetServiceStatus, ::GetModuleFileNameW,
    ::RegisterEventSourceW,        ::ReportEventW,                ::DeregisterEventSource,
};

namespace {

constexpr wchar_t kProgram[] = L"TarvexActiveXInstaller.exe";
// The program's own events are number 1; the starter's are number 2, in the same source.
constexpr wchar_t kEventSource[] = L"TarvexActiveXInstaller";
constexpr DWORD kStarterEventId = 2;

SERVICE_STATUS_HANDLE statusHandle = nullptr;

struct EventSourceTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE source) noexcept { api.DeregisterEventSource(source); }
};
using UniqueEventSource = UniqueResource<HANDLE, EventSourceTraits>;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    api.SetServiceStatus(statusHandle, &status);
}

// The service takes no commands: it ends by itself, bounded by the program's limit.
void WINAPI IgnoreControl(DWORD) {}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const std::wstring file(path, api.GetModuleFileNameW(nullptr, path, MAX_PATH));
    return file.substr(0, file.find_last_of(L'\\'));
}

void WriteEvent(const std::wstring& text, bool failed) {
    const UniqueEventSource source(api.RegisterEventSourceW(nullptr, kEventSource));
    if (!source) return;
    LPCWSTR strings[] = {text.c_str()};
    api.ReportEventW(source.get(), failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, kStarterEventId,
                     nullptr, 1, 0, strings, nullptr);
}

// The service's exit code, which the Service Control Manager logs (event
// 7023, with the code's text) where it is not 0: the program's failure, its
// time-out, or why it could not be started.
DWORD ExitCode(const ProgramRecords::ProgramRun& run) {
    if (run.Succeeded()) return NO_ERROR;
    switch (run.outcome.end) {
    case ChildProcess::End::TimedOut: return ERROR_TIMEOUT;
    case ChildProcess::End::NotStarted:
    case ChildProcess::End::NotConfined: return run.outcome.code ? run.outcome.code : ERROR_INSTALL_FAILURE;
    case ChildProcess::End::Exited:
    case ChildProcess::End::Cancelled:
    case ChildProcess::End::CodeUnknown: break;
    }
    return ERROR_INSTALL_FAILURE;
}

// Runs the program beside this one once; the service's exit code.
DWORD RunProgramOnce() {
    const ProgramRecords::ProgramRun run = ProgramRecords::RunProgram(OwnFolder() + L"\\" + kProgram);
    // Its own event holds the program's log too: one event tells the restart's whole story.
    std::wstring notes;
    for (const std::wstring& note : run.outcome.notes) notes += note + L"\r\n";
    WriteEvent(EventText(L"Registration after the restart: " + run.Conclusion() + L"\r\n" + notes, run.records.Log()),
               !run.Succeeded());
    return ExitCode(run);
}

// The service's own name comes first among its arguments: each arrangement has one of its own.
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    statusHandle = api.RegisterServiceCtrlHandlerW(argc > 0 && argv[0] ? argv[0] : RestartService::kServiceNamePrefix,
                                                   IgnoreControl);
    if (!statusHandle) return;
    Report(SERVICE_RUNNING);
    DWORD exitCode = ERROR_NOT_ENOUGH_MEMORY;
    try {
        exitCode = RunProgramOnce();
    } catch (...) {
        WriteEvent(L"Registration after the restart: out of memory", true);
    }
    // Once is all: whatever came of it, the event says, and the service goes,
    // with any other arrangement.
    RestartService::Cancel();
    Report(SERVICE_STOPPED, exitCode);
}

}  // namespace

std::wstring EventText(const std::wstring& outcome, const std::wstring& log) {
    const std::wstring whole = outcome + L"\r\n" + log;
    if (whole.size() <= kEventTextLimit) return whole;
    const std::wstring cut = outcome + L"\r\n(The log's beginning is cut: an event holds " +
                             std::to_wstring(kEventTextLimit) + L" characters at most.)\r\n...";
    if (cut.size() >= kEventTextLimit) return whole.substr(0, kEventTextLimit);
    return cut + log.substr(log.size() - (kEventTextLimit - cut.size()));
}

int RunAsService() {
    // A service of its own process: the name here is not compared with its own.
    const SERVICE_TABLE_ENTRYW services[] = {{const_cast<LPWSTR>(RestartService::kServiceNamePrefix), ServiceMain},
                                             {nullptr, nullptr}};
    if (api.StartServiceCtrlDispatcherW(services)) return 0;
    WriteEvent(L"TarvexRegisterAtRestart runs only as the service that the Tarvex ActiveX Control's package "
               L"arranges for the next restart.",
               true);
    return 1;
}

}  // namespace RestartStarter
