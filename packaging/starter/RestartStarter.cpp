#include "RestartStarter.h"

#include "common/UniqueResource.h"
#include "packaging/customaction/ProgramRecords.h"
#include "packaging/customaction/RestartService.h"

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

// Runs the program beside this one once; true when it ended with 0.
bool RunProgramOnce() {
    const ProgramRecords::ProgramRun run = ProgramRecords::RunProgram(OwnFolder() + L"\\" + kProgram);
    // Its own event holds the program's log too: one event tells the restart's whole story.
    WriteEvent(L"Registration after the restart: " + run.Conclusion() + L"\r\n\r\n" + run.records.Log(), !run.Succeeded());
    return run.Succeeded();
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    statusHandle = api.RegisterServiceCtrlHandlerW(RestartService::kServiceName, IgnoreControl);
    if (!statusHandle) return;
    Report(SERVICE_RUNNING);
    bool succeeded = false;
    try {
        succeeded = RunProgramOnce();
    } catch (...) {
        WriteEvent(L"Registration after the restart: out of memory", true);
    }
    // Once is all: whatever came of it, the event says, and the service goes.
    RestartService::Cancel();
    Report(SERVICE_STOPPED, succeeded ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

}  // namespace

int RunAsService() {
    const SERVICE_TABLE_ENTRYW services[] = {{const_cast<LPWSTR>(RestartService::kServiceName), ServiceMain},
                                             {nullptr, nullptr}};
    if (api.StartServiceCtrlDispatcherW(services)) return 0;
    WriteEvent(L"TarvexRegisterAtRestart runs only as the service that the Tarvex ActiveX Control's package "
               L"arranges for the next restart.",
               true);
    return 1;
}

}  // namespace RestartStarter
