// What the installed program's records say, gathered as they come, and the
// text of the installer's error when the program failed: the program's own
// error message, then what the registration tool's exit code means.
#pragma once

#include "ChildProcess.h"

#include <string>
#include <vector>

namespace ProgramRecords {

// The longest the program may run: twice its own bound on the registration
// tool, so that the program always ends the tool first.
inline constexpr DWORD kProgramLimitMinutes = 10;

class Collector {
public:
    // One line of the program's output; lines that are no record are kept out.
    void Add(const std::wstring& line);
    // The installer's error for a run that did not end with 0; program is the
    // EXE's name, for a run that left no error message of its own.
    std::wstring FailureMessage(const std::wstring& program, const ChildProcess::Outcome& outcome) const;
    // The program's log as its LOG records gave it, each entry ending in CR LF.
    const std::wstring& Log() const { return log_; }

private:
    std::vector<std::wstring> messages_;  // each one or more ERROR lines, joined by CR LF
    bool inMessage_ = false;
    std::wstring resultCode_, resultMeaning_;
    std::wstring log_;
};

// How a run ended, as one sentence: "X.exe ended with exit code 1."; a run
// that was ended did not end within limitMinutes.
std::wstring OutcomeText(const std::wstring& program, const ChildProcess::Outcome& outcome,
                         DWORD limitMinutes = kProgramLimitMinutes);

// The last part of a path: the file's name.
std::wstring FileName(const std::wstring& path);

// One run of the installed program, as the custom action and the starter run it.
struct ProgramRun {
    std::wstring program;  // the EXE's name
    // Why it was not run as SYSTEM from where it lies (FolderTrust); empty when it was run.
    std::wstring refusal;
    ChildProcess::Outcome outcome;
    Collector records;

    bool Succeeded() const { return outcome.end == ChildProcess::End::Exited && outcome.code == 0; }
    // OutcomeText where it succeeded, else the refusal or the installer's
    // error (Collector::FailureMessage).
    std::wstring Conclusion() const;
};

// Runs the EXE at that path without arguments, bounded by kProgramLimitMinutes,
// its records gathered; each line of its output is handed to onLine as well,
// where there is one; cancelRequested, where there is one, may end it. A
// program that users could have changed is not run.
ProgramRun RunProgram(const std::wstring& exe, const ChildProcess::LineHandler& onLine = nullptr,
                      const ChildProcess::CancelQuery& cancelRequested = nullptr);

}  // namespace ProgramRecords
