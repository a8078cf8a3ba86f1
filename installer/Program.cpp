#include "Program.h"

#include "MessageBoxes.h"
#include "RunAudience.h"
#include "RunEvent.h"
#include "RunRecords.h"
#include "frmMain.h"
#include "modInstallLog.h"
#include "shared/EntryPoint.h"
#include "shared/NumberText.h"
#include "common/RuntimeError.h"

#include <string>

namespace Program {

Api api = {::ExitProcess, ::SetErrorMode, ::GetModuleHandleW, ::GetProcAddress};

namespace {

// Where no one sees the run, a crash or a loader's hard error must end the
// process instead of waiting on a box no one can close. The registration
// tool inherits the mode; where the run is seen, Windows' own report stays.
constexpr UINT kUnseenErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

// Looked up, not imported: Windows XP lacks the first (so do Vista and 7
// without KB2533623), and an import of either would keep the EXE from starting there.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

template <class Fn>
Fn KernelFunction(const char* name) {
    const HMODULE kernel = api.GetModuleHandleW(L"kernel32.dll");
    return kernel ? EntryPointAs<Fn>(api.GetProcAddress(kernel, name)) : nullptr;
}

// As an unhandled run-time error would: a box of its own, with the error's
// number and standard message. Where no one sees the box, the text goes into
// the log, which then is all that is left of the run.
void ReportEscapedError() noexcept {
    try {
        const modInstallLog::HandledError error = modInstallLog::CurrentError();
        const std::wstring number = DecimalText(error.number);
        const std::wstring message = StandardErrorMessage(error.number);
        if (!RunAudience::RunIsSeen) modInstallLog::AddToLog(L"Run-time error '" + number + L"': " + message);
        MessageBoxes::ShowErrorBox(L"Run-time error '" + number + L"':\r\n\r\n" + message);
    } catch (...) {
    }
}

int RunForm() {
    try {
        frmMain::Form_Load();
    } catch (...) {
        ReportEscapedError();
        return kExitFailure;
    }
    return MessageBoxes::ErrorBoxShown ? kExitFailure : kExitSuccess;
}

// No one saw the boxes: the log goes where administrators look.
void Finish(int exitCode) noexcept {
    if (RunAudience::RunIsSeen) return;
    try {
        RunEvent::ReportToEventLog(modInstallLog::InstallLog, exitCode != kExitSuccess);
    } catch (...) {
    }
}

}  // namespace

void RestrictDllSearch() {
    const auto setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault && setDefault(kSearchSystem32)) return;
    // XP SP1 and later: at least the current directory leaves the search.
    const auto setDirectory = KernelFunction<SetDllDirectoryWFn>("SetDllDirectoryW");
    if (setDirectory) setDirectory(L"");
}

int Run() {
    RestrictDllSearch();
    RunRecords::Open();
    RunAudience::DetectWhetherRunIsSeen();
    if (!RunAudience::RunIsSeen) api.SetErrorMode(kUnseenErrorMode);
    const int exitCode = RunForm();
    Finish(exitCode);
    return exitCode;
}

void EndAfterEscapedError() noexcept {
    ReportEscapedError();
    Finish(kExitFailure);
    api.ExitProcess(kExitFailure);
}

}  // namespace Program
