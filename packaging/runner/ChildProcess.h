// Running a program with its output piped to us, line by line, bounded in
// time, confined: on a desktop that no person sees, in a job that ends all it
// starts, with an error mode that opens no box, with the Windows folders
// alone on its PATH and a temporary folder of its own (RunEnvironment), and
// with no handle of ours but its output's and our standard error. What
// can't be confined so is not started. The wait ends with the program, not
// with its pipe: a process it started that still holds the pipe can't keep
// us waiting, and the pipe is read while the program runs, so a program
// that writes much never blocks, and one that writes without end can't keep
// us past its bound.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ChildProcess {

enum class End {
    Exited,        // code: its exit code
    NotStarted,    // code: the system's error
    NotConfined,   // not started, as `missing` could not be made for it; code: the system's error
    TimedOut,      // outlived its limit and was ended, with all it started, with code ERROR_TIMEOUT
    Cancelled,     // ended, with all it started, as the caller asked, with code ERROR_INSTALL_USEREXIT
    CodeUnknown,   // ended, but its exit code could not be read
};

struct Outcome {
    End end;
    DWORD code;
    // What went otherwise than meant, for the caller's log: no job, a
    // temporary folder that stayed (each with the system's error).
    std::vector<std::wstring> notes = {};
    // NotConfined: what could not be made, "a window station of its own".
    std::wstring missing = {};
};

using LineHandler = std::function<void(const std::wstring& line)>;
// Asked at least once a second while the program runs: true ends it.
using CancelQuery = std::function<bool()>;

// Runs the command line, in currentDirectory (empty: ours), with its standard
// output into a pipe, and hands each line to onLine as it comes (UTF-8, the
// line break taken off). A program still running after limitMs is ended,
// with everything it started, and so is one whose run cancelRequested ends.
// An exception out of onLine ends them too, and goes on to the caller.
Outcome RunCollectingLines(const std::wstring& commandLine, DWORD limitMs, const LineHandler& onLine,
                           const std::wstring& currentDirectory = std::wstring(),
                           const CancelQuery& cancelRequested = nullptr);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::CreatePipe) CreatePipe;
    decltype(&::SetHandleInformation) SetHandleInformation;
    decltype(&::CreateProcessW) CreateProcessW;
    decltype(&::ResumeThread) ResumeThread;
    decltype(&::PeekNamedPipe) PeekNamedPipe;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::GetExitCodeProcess) GetExitCodeProcess;
    decltype(&::TerminateProcess) TerminateProcess;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::GetTickCount) GetTickCount;
    decltype(&::GetStdHandle) GetStdHandle;
    decltype(&::DuplicateHandle) DuplicateHandle;
    decltype(&::GetEnvironmentStringsW) GetEnvironmentStringsW;
    decltype(&::FreeEnvironmentStringsW) FreeEnvironmentStringsW;
    decltype(&::GetModuleHandleW) GetModuleHandleW;
    // Vista's, looked up where Windows has them (the package runs on XP too).
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
};
extern Api api;

}  // namespace ChildProcess
