// The system's registration tool, run by the package's own actions where the
// program can't serve: a removal's unregistration and the rollbacks'
// registrations (any argument makes the program show its log, so it can't be
// told to unregister). The tool runs confined and bounded as the program's
// runs are, with the system folder as its current directory: a DLL that the
// control loads by bare name is then looked for there, never in a folder
// that anyone may write.
#pragma once

#include "ChildProcess.h"

#include <string>

namespace ToolRun {

enum class Mode { Register, Unregister };

// "<folder>regsvr32.exe" [/u] /s "<folder>TVex.DLL", both paths quoted.
std::wstring CommandLine(const std::wstring& systemFolder, Mode mode);

// Runs that command line, bounded as the program bounds the tool where no
// one sees it; cancelRequested, where there is one, may end it.
ChildProcess::Outcome Run(const std::wstring& systemFolder, Mode mode,
                          const ChildProcess::CancelQuery& cancelRequested = nullptr);

// How the run ended, as one sentence, with what the exit code means:
// "regsvr32.exe ended with exit code 3: TVex.DLL or ... (often a missing runtime)."
std::wstring OutcomeText(const ChildProcess::Outcome& outcome);

}  // namespace ToolRun
