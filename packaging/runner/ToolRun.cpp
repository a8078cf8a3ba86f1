#include "ToolRun.h"

#include "ProgramRecords.h"
#include "shared/RegistrationTool.h"

namespace ToolRun {

namespace {

constexpr wchar_t kTool[] = L"regsvr32.exe";

std::wstring WithBackslash(const std::wstring& folder) {
    return !folder.empty() && folder.back() == L'\\' ? folder : folder + L'\\';
}

}  // namespace

std::wstring CommandLine(const std::wstring& systemFolder, Mode mode) {
    const std::wstring folder = WithBackslash(systemFolder);
    return L"\"" + folder + kTool + L"\" " + (mode == Mode::Unregister ? L"/u " : L"") + L"/s \"" + folder +
           L"TVex.DLL\"";
}

ChildProcess::Outcome Run(const std::wstring& systemFolder, Mode mode, const ChildProcess::CancelQuery& cancelRequested) {
    return ChildProcess::RunCollectingLines(CommandLine(systemFolder, mode), RegistrationTool::kUnseenLimitMinutes * 60000,
                                            [](const std::wstring&) {}, WithBackslash(systemFolder), cancelRequested);
}

std::wstring OutcomeText(const ChildProcess::Outcome& outcome) {
    std::wstring text = ProgramRecords::OutcomeText(kTool, outcome, RegistrationTool::kUnseenLimitMinutes);
    if (outcome.end != ChildProcess::End::Exited) return text;
    const std::wstring meaning = RegistrationTool::ExitCodeMeaning(static_cast<long>(outcome.code));
    if (!meaning.empty()) text.replace(text.size() - 1, 1, L": " + meaning + L".");
    return text;
}

}  // namespace ToolRun
