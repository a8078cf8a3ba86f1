// Start-up and the registration of the Tarvex ActiveX control. The program
// shows no window: it works inside Form_Load and reports through boxes.
#include "frmMain.h"

#include "AppInfo.h"
#include "Clipboard.h"
#include "MessageBoxes.h"
#include "RunAudience.h"
#include "RunRecords.h"
#include "modInstallLog.h"
#include "shared/NumberText.h"
#include "shared/RegistrationTool.h"
#include "common/RuntimeError.h"
#include "common/modCommonOsVersion.h"
#include "common/modCommonRegistryServices.h"
#include "common/modCommonShellUtils.h"
#include "common/modCommonSpecialFolders.h"
#include "common/modCommonUtilities.h"
#include "common/modEnvironment.h"

namespace frmMain {

Api api = {::GetCommandLineW, ::IsUserAnAdmin};

std::wstring SystemFolder;

using modInstallLog::AddToLog;
using modInstallLog::ShowError;

namespace {

constexpr long kCsidlSystemX86 = 41;
// ShellAndWait's style code: minimized, the active window keeps the focus.
constexpr long kMinimizedNoFocus = 6;
constexpr wchar_t kMarkerSubKey[] = L"Tarvex_cl_V4";
constexpr wchar_t kMarkerValue[] = L"Registered";
constexpr wchar_t kMarkerAbsent[] = L"Not found";

std::wstring MarkerKeyPath() { return L"Software\\" + AppInfo::CompanyName(); }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program runs elevated: an unquoted path with a blank would let process
// creation try a prefix of it ("C:\My.exe" for "C:\My Windows\...") first.
std::wstring QuotedIfBlank(const std::wstring& path) {
    return path.find_first_of(L" \t") == std::wstring::npos ? path : L"\"" + path + L"\"";
}

void WriteMarker() {
    modCommonRegistryServices::SetRegString(HKEY_LOCAL_MACHINE, MarkerKeyPath(), kMarkerSubKey, kMarkerValue,
                                            modInstallLog::NowAsText() + L" by " + kProgramTitle);
}

// The tool's exit code; where no one sees the run, the time-out's once it is overdue.
// The tool runs in the system folder: the loader searches the current
// directory for DLLs it finds nowhere else, and ours may be writable by anyone.
long RunTool(const std::wstring& commandLine) {
    constexpr DWORD kUnseenLimitMinutes = RegistrationTool::kUnseenLimitMinutes;
    const DWORD limitMs = RunAudience::RunIsSeen ? modCommonShellUtils::kNoTimeLimit : kUnseenLimitMinutes * 60000;
    const modCommonShellUtils::WaitOutcome outcome =
        modCommonShellUtils::ShellAndWaitAtMost(commandLine, kMinimizedNoFocus, limitMs, SystemFolder);
    if (outcome.timedOut)
        AddToLog(L"Registration program did not end within " + DecimalText(kUnseenLimitMinutes) + L" minutes");
    return outcome.exitCode;
}

// Runs the tool and judges its exit code; an unreadable marker afterwards is a failed write.
void RunRegistrationTool() {
    const std::wstring commandLine = RegistrationCommandLine(SystemFolder);
    AddToLog(L"CmdLine " + commandLine);
    const long exitCode = RunTool(commandLine);
    AddToLog(L"Result " + SignedNumberText(exitCode));
    RunRecords::WriteResult(exitCode);
    if (exitCode != 0) {
        ShowError(L"Can't register Tarvex ActiveX control, result " + SignedNumberText(exitCode) + L"!");
        return;
    }
    WriteMarker();
    modCommonShellUtils::ProcessPendingMessages();
    if (IsNotInstalled()) ShowError(L"Can't write Tarvex installation info to the registry !");
}

void RunRegistration() {
    SystemFolder = modCommonSpecialFolders::GetSpecialFolder(kCsidlSystemX86);
    const std::wstring tool = SystemFolder + L"\\RegSvr32.exe";
    // Without a system folder the path names the root of the current drive,
    // where anyone may put a program that would run with administrator rights.
    if (SystemFolder.empty() || !modEnvironment::FileExists(tool)) {
        ShowError(L"Can't find registration program " + modCommonUtilities::QuoteSingle(tool));
        return;
    }
    AddToLog(L"Registering with " + tool);
    const bool wow64 = modCommonOsVersion::IsWow64();
    const bool processor64 = modCommonOsVersion::Is64BitProcessor();
    AddToLog(wow64 || processor64 ? L"64 bit OS detected" : L"32 bit OS detected");
    const std::wstring control = SystemFolder + L"\\TVex.DLL";
    AddToLog(L"Using " + control);
    if (!modEnvironment::FileExists(control)) {
        AddToLog(control + L" not found");
        ShowPackageIncomplete(L"DLL");
        return;
    }
    RunRegistrationTool();
    AddToLog(L"Registration finished");
}

void ShowLog() {
    const std::wstring text = L"Tarvex registration details:\r\n\r\n" + modInstallLog::InstallLog +
                              L"\r\n\rCopy info to clipboard ?";
    if (MessageBoxes::ShowMessage(text, MB_YESNO) == IDYES) Clipboard::SetClipboardText(modInstallLog::InstallLog);
}

}  // namespace

void Form_Load() {
    const bool showLog = !ArgumentPart(api.GetCommandLineW()).empty();
    RegisterControl(true);  // start-up always registers, installed or not
    if (showLog) ShowLog();
}

void RegisterControl(bool force) {
    try {
        AddToLog(AppInfo::ProgramFolder() + L"\\" + AppInfo::ProgramName() + L" started");
        AddToLog(api.IsUserAnAdmin() ? L"User is admin" : L"No admin");
        modCommonRegistryServices::SetRegDefaults();
        const bool notInstalled = IsNotInstalled();
        AddToLog(notInstalled ? L"TarvexActiveX not yet registered" : L"TarvexActiveX already registered");
        if (force || notInstalled) RunRegistration();
    } catch (...) {
        ShowError(L"Can't register Tarvex DLL" + modInstallLog::GetErrorText());
    }
}

bool IsNotInstalled() {
    std::wstring absent = kMarkerAbsent;
    return modCommonRegistryServices::GetRegString(HKEY_LOCAL_MACHINE, MarkerKeyPath(), kMarkerSubKey, kMarkerValue,
                                                   absent) == kMarkerAbsent;
}

void ShowPackageIncomplete(const std::wstring& what) {
    const std::wstring company = AppInfo::CompanyName();
    const std::wstring osName = modCommonOsVersion::GetOsName();
    const std::wstring text = L"Can't find Tarvex " + what + L" !\r\n\r\nPlease contact " + company +
                             L": Installation package incomplete\r\n\r\nSystem folder: " + SystemFolder +
                             L"\r\nOperating system: " + osName;
    // A box no one can see would lose the text: the log keeps it then.
    if (!RunAudience::RunIsSeen) AddToLog(text);
    MessageBoxes::ShowErrorBox(text);
}

std::wstring ArgumentPart(const std::wstring& commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const std::size_t closing = commandLine.find(L'"', 1);
        i = closing == std::wstring::npos ? commandLine.size() : closing + 1;
    }
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    std::size_t end = commandLine.size();
    while (end > i && IsBlank(commandLine[end - 1])) --end;
    return commandLine.substr(i, end - i);
}

std::wstring RegistrationCommandLine(const std::wstring& systemFolder) {
    return QuotedIfBlank(systemFolder + L"\\RegSvr32.exe") + L" " + QuotedIfBlank(systemFolder + L"\\TVex.DLL") +
           L" /s";
}

std::wstring SignedNumberText(long number) {
    return number < 0 ? DecimalText(number) : L" " + DecimalText(number);
}

}  // namespace frmMain
