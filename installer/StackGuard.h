// The stack protector's guard value and its failure handler, ours instead of
// libssp's: that one seeds its guard through CryptAcquireContext before the
// program's first line, which loads three DLLs before the DLL search is
// restricted and before the run can tell whether anyone sees it.
#pragma once

#include <windows.h>

namespace StackGuard {

// Gives the guard a value of this process's own. Must run before any function
// compiled with the protector: only the EXE's entry point calls it.
void Seed() noexcept;

// The Windows entry points this module calls.
struct Api {
    decltype(&::GetSystemTimeAsFileTime) GetSystemTimeAsFileTime;
    decltype(&::QueryPerformanceCounter) QueryPerformanceCounter;
    decltype(&::GetTickCount) GetTickCount;
    decltype(&::GetCurrentProcessId) GetCurrentProcessId;
    decltype(&::GetCurrentThreadId) GetCurrentThreadId;
    decltype(&::GetCurrentProcess) GetCurrentProcess;
    decltype(&::TerminateProcess) TerminateProcess;
};
extern Api api;

}  // namespace StackGuard
