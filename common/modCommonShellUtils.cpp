// Starting a program and waiting for it to end. The wait holds the process
// handle that process creation returns, from the start: a process that ends at
// once can't be missed, the handle's signalled state tells an exit code of 259
// (STILL_ACTIVE) from a running process, and an overdue process can be ended through it.
#include "modCommonShellUtils.h"

#include "RuntimeError.h"
#include "shared/UniqueResource.h"

#include <vector>

namespace modCommonShellUtils {

Api api = {
    ::CreateProcessW,
    ::CloseHandle,
    ::WaitForSingleObject,
    ::GetExitCodeProcess,
    ::TerminateProcess,
    ::GetTickCount,
    ::Sleep,
    ::PeekMessageW,
    ::TranslateMessage,
    ::DispatchMessageW,
};

namespace {

// Process and thread handles from process creation: invalid when NULL.
struct KernelHandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { api.CloseHandle(handle); }
};
using KernelHandle = UniqueResource<HANDLE, KernelHandleTraits>;

constexpr DWORD kPollIntervalMs = 100;
// Ending a process is asynchronous; it is normally gone at once.
constexpr DWORD kTerminationWaitMs = 5000;

// The show command for a window style code; an unknown code raises error 5.
WORD ShowCommandFor(long windowStyle) {
    switch (windowStyle) {
    case 0: return SW_HIDE;
    case 1: return SW_SHOWNORMAL;
    case 2: return SW_SHOWMINIMIZED;
    case 3: return SW_SHOWMAXIMIZED;
    case 4: return SW_SHOWNOACTIVATE;
    case 6: return SW_SHOWMINNOACTIVE;  // minimized, the active window stays active
    default: RaiseError(kErrInvalidCall);
    }
}

long StartErrorNumber(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return kErrFileNotFound;
    case ERROR_PATH_NOT_FOUND: return kErrPathNotFound;
    case ERROR_ACCESS_DENIED: return kErrPermissionDenied;
    default: return kErrInvalidCall;
    }
}

// Starts the command line as process creation parses it; a failure raises its run-time error.
KernelHandle StartProcess(const std::wstring& commandLine, WORD showCommand, const std::wstring& currentDirectory) {
    // A NUL inside either text would start a shortened command or folder.
    if (commandLine.find(L'\0') != std::wstring::npos || currentDirectory.find(L'\0') != std::wstring::npos)
        RaiseError(kErrInvalidCall);
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());  // CreateProcessW may write to it
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    PROCESS_INFORMATION started = {};
    const wchar_t* directory = currentDirectory.empty() ? nullptr : currentDirectory.c_str();
    if (!api.CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                            &started)) {
        const DWORD error = GetLastError();
        RaiseError(StartErrorNumber(error));
    }
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    thread.reset();  // only the process is waited for
    return process;
}

// Whatever the process does once its time is up, the outcome is the time-out:
// never a success that came too late to be trusted.
WaitOutcome EndOverdueProcess(HANDLE process) {
    api.TerminateProcess(process, static_cast<UINT>(kExitCodeTimedOut));
    api.WaitForSingleObject(process, kTerminationWaitMs);
    return {kExitCodeTimedOut, true};
}

// Polls until the process has ended or outlived limitMs; kExitCodeUnknown
// when its code can't be read. Tick counts wrap after 49 days; their
// difference stays right.
WaitOutcome WaitForExitCode(HANDLE process, DWORD limitMs) {
    const DWORD started = api.GetTickCount();
    for (;;) {
        ProcessPendingMessages();
        api.Sleep(kPollIntervalMs);
        const DWORD state = api.WaitForSingleObject(process, 0);
        if (state == WAIT_TIMEOUT) {
            if (limitMs != kNoTimeLimit && api.GetTickCount() - started >= limitMs) return EndOverdueProcess(process);
            continue;
        }
        DWORD exitCode = 0;
        if (state != WAIT_OBJECT_0 || !api.GetExitCodeProcess(process, &exitCode)) return {kExitCodeUnknown, false};
        return {static_cast<long>(exitCode), false};
    }
}

}  // namespace

void ProcessPendingMessages() {
    MSG message;
    while (api.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        api.TranslateMessage(&message);
        api.DispatchMessageW(&message);
    }
}

long ShellAndWait(const std::wstring& commandLine, long windowStyle) {
    return ShellAndWaitAtMost(commandLine, windowStyle, kNoTimeLimit).exitCode;
}

WaitOutcome ShellAndWaitAtMost(const std::wstring& commandLine, long windowStyle, DWORD limitMs,
                               const std::wstring& currentDirectory) {
    const WORD showCommand = ShowCommandFor(windowStyle);
    const KernelHandle process = StartProcess(commandLine, showCommand, currentDirectory);
    return WaitForExitCode(process.get(), limitMs);
}

}  // namespace modCommonShellUtils
