#include "ProgramRecords.h"

#include "FolderTrust.h"
#include "shared/RunRecordKinds.h"

#include <cwchar>

namespace ProgramRecords {

namespace {

using RunRecordKinds::kError;
using RunRecordKinds::kLog;
using RunRecordKinds::kResult;

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

std::wstring Number(DWORD value) { return std::to_wstring(value); }

// The system's own words for an error number, without the trailing line break.
std::wstring SystemMessage(DWORD error) {
    wchar_t text[512];
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                          text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

}  // namespace

void Collector::Add(const std::wstring& line) {
    const bool error = StartsWith(line, kError);
    if (error) {
        const std::wstring text = line.substr(wcslen(kError));
        if (inMessage_) messages_.back() += L"\r\n" + text;
        else messages_.push_back(text);
    } else if (StartsWith(line, kLog)) {
        log_ += line.substr(wcslen(kLog)) + L"\r\n";
    } else if (StartsWith(line, kResult)) {
        const std::wstring rest = line.substr(wcslen(kResult));
        const std::size_t blank = rest.find(L' ');
        resultCode_ = rest.substr(0, blank);
        resultMeaning_ = blank == std::wstring::npos ? std::wstring() : rest.substr(blank + 1);
    }
    inMessage_ = error;
}

std::wstring Collector::FailureMessage(const std::wstring& program, const ChildProcess::Outcome& outcome) const {
    std::wstring message;
    for (const std::wstring& text : messages_) message += (message.empty() ? L"" : L"\r\n\r\n") + text;
    if (message.empty()) message = OutcomeText(program, outcome);
    if (!resultMeaning_.empty())
        message += L"\r\n\r\nExit code " + resultCode_ + L" of the registration tool: " + resultMeaning_ + L".";
    return message;
}

std::wstring OutcomeText(const std::wstring& program, const ChildProcess::Outcome& outcome, DWORD limitMinutes) {
    switch (outcome.end) {
    case ChildProcess::End::Exited: return program + L" ended with exit code " + Number(outcome.code) + L".";
    case ChildProcess::End::NotStarted:
        return program + L" could not be started: " + SystemMessage(outcome.code) + L" (error " + Number(outcome.code) +
               L").";
    case ChildProcess::End::NotConfined:
        return program + L" was not started: " + outcome.missing + L" could not be made for it (error " +
               Number(outcome.code) + L"), and it runs as SYSTEM nowhere else.";
    case ChildProcess::End::TimedOut:
        return program + L" did not end within " + Number(limitMinutes) + L" minutes and was ended.";
    case ChildProcess::End::Cancelled: return program + L" was ended: the installation was cancelled.";
    case ChildProcess::End::CodeUnknown: break;
    }
    return program + L" ended, but its exit code could not be read.";
}

std::wstring FileName(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ProgramRun::Conclusion() const {
    if (!refusal.empty()) return refusal;
    return Succeeded() ? OutcomeText(program, outcome) : records.FailureMessage(program, outcome);
}

ProgramRun RunProgram(const std::wstring& exe, const ChildProcess::LineHandler& onLine,
                      const ChildProcess::CancelQuery& cancelRequested) {
    ProgramRun run;
    run.program = FileName(exe);
    run.refusal = FolderTrust::Refusal(exe);
    if (!run.refusal.empty()) {
        run.outcome = {ChildProcess::End::NotStarted, ERROR_ACCESS_DENIED};
        return run;
    }
    // Quoted: the path holds blanks ("C:\Program Files (x86)\..."), and
    // unquoted, process creation would try "C:\Program.exe" first.
    run.outcome = ChildProcess::RunCollectingLines(L"\"" + exe + L"\"", kProgramLimitMinutes * 60000,
                                                   [&](const std::wstring& line) {
                                                       run.records.Add(line);
                                                       if (onLine) onLine(line);
                                                   },
                                                   std::wstring(), cancelRequested);
    return run;
}

}  // namespace ProgramRecords
