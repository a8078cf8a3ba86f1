// Starting a program and waiting for it to end.
#pragma once

#include <windows.h>

#include "shared/RegistrationTool.h"

#include <string>

namespace modCommonShellUtils {

// The codes of a run without an exit code of its own; the registration
// tool's meanings name them too.
using RegistrationTool::kExitCodeTimedOut;
using RegistrationTool::kExitCodeUnknown;
inline constexpr DWORD kNoTimeLimit = INFINITE;

struct WaitOutcome {
    long exitCode;
    bool timedOut;  // the process outlived its limit and was ended with kExitCodeTimedOut
};

// Starts the command line with the given window style code and returns the
// process's exit code. Style codes: 0 hidden, 1 normal, 2 minimized, 3 maximized,
// 4 normal without focus, 6 minimized without focus; any other raises error 5.
// A program that can't be started raises error 53 (file not found), 76 (path
// not found), 70 (access denied) or 5 (anything else). Waits without a time
// limit, handling this thread's window messages every 100 ms.
long ShellAndWait(const std::wstring& commandLine, long windowStyle);
// As ShellAndWait, but a process still running after limitMs milliseconds
// (kNoTimeLimit: none) is ended through its handle, and the wait returns once
// it has gone. The process starts in currentDirectory; empty: in this process's.
WaitOutcome ShellAndWaitAtMost(const std::wstring& commandLine, long windowStyle, DWORD limitMs,
                               const std::wstring& currentDirectory = std::wstring());

// Lets this thread handle the window messages that are waiting for it, then returns.
void ProcessPendingMessages();

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::CreateProcessW) CreateProcessW;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::GetExitCodeProcess) GetExitCodeProcess;
    decltype(&::TerminateProcess) TerminateProcess;
    decltype(&::GetTickCount) GetTickCount;
    decltype(&::Sleep) Sleep;
    decltype(&::PeekMessageW) PeekMessageW;
    decltype(&::TranslateMessage) TranslateMessage;
    decltype(&::DispatchMessageW) DispatchMessageW;
};
extern Api api;

}  // namespace modCommonShellUtils
