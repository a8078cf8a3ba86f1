// The run's records on the program's standard output, for whoever started it
// with one: the package's custom action copies them into msiexec's log and
// turns the failure they describe into the installer's own error (their kinds:
// RunRecordKinds). Started any other way, the program writes nothing; a write
// that fails is ignored.
#pragma once

#include <windows.h>

#include <string>

namespace RunRecords {

// Decides once whether this run writes records: only when its starter handed
// it standard handles (STARTF_USESTDHANDLES) and its output is a pipe or a
// file. Under Wine a program started without them still has the Unix stdout.
void Open();
// False until Open found an output to write to.
bool Writing();

// "LOG <entry>" for one log entry as the log holds it, without its CR LF.
void WriteLog(const std::wstring& entry);
// "ERROR <line>" for each line of an error text; together they form one
// message. A line ends at LF, a CR before it going with it: a lone LF inside
// a record would cut it in two for whoever reads the records.
void WriteError(const std::wstring& text);
// "RESULT <code> <meaning>" for the registration tool's exit code; without a
// meaning for a code that has none.
void WriteResult(long exitCode);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetStartupInfoW) GetStartupInfoW;
    decltype(&::GetStdHandle) GetStdHandle;
    decltype(&::GetFileType) GetFileType;
    decltype(&::WriteFile) WriteFile;
};
extern Api api;

}  // namespace RunRecords
