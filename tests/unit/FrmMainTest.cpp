#include "ApiOverride.h"
#include "CodePage.h"
#include "CreateKeyOverride.h"
#include "RecordsOutput.h"
#include "UiRecorder.h"
#include "common/AnsiText.h"
#include "common/RuntimeError.h"
#include "common/modCommonOsVersion.h"
#include "common/modCommonRegistryServices.h"
#include "common/modCommonShellUtils.h"
#include "common/modCommonSpecialFolders.h"
#include "common/modEnvironment.h"
#include "installer/AppInfo.h"
#include "installer/Program.h"
#include "installer/frmMain.h"
#include "installer/modInstallLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace reg = modCommonRegistryServices;

namespace {

// The machine the run sees: its system folder, the files in it, the tool's
// outcome and the installation marker, all held here instead of on the
// shared Wine prefix.
struct FakeMachine {
    int csidl = 0;
    std::string systemFolder = "C:\\windows\\system32";
    bool shellFails = false;
    std::set<std::wstring> files;
    std::vector<std::wstring> lookedUp;
    std::vector<std::wstring> startedCommands;
    std::vector<std::wstring> startedIn;  // each start's current directory; "(inherited)" for none
    std::vector<BOOL> handlesInherited;   // each start's bInheritHandles
    DWORD exitCode = 0;
    int toolPolls = 0;  // polls the tool still runs for
    DWORD clock = 0;    // every look at it is a minute later
    std::vector<std::string> calls;  // error mode, start and end of the tool, in order
    std::map<std::string, std::string> hklm;  // "key path|value name" -> data
    bool refuseWrites = false;
    std::string openKeyPath;
    // What kernel32 offers for restricting the DLL search.
    bool hasSetDefaultDllDirectories = true;
    bool setDefaultDllDirectoriesWorks = true;
    bool hasSetDllDirectory = true;
};
FakeMachine machine;

const SYSTEMTIME kFixedTime = {2026, 12, 1, 7, 11, 22, 33, 0};
void WINAPI FixedLocalTime(LPSYSTEMTIME time) { *time = kFixedTime; }

BYTE itemIdList[4];
HRESULT WINAPI FakeFolderLocation(HWND, int csidl, PIDLIST_ABSOLUTE* list) {
    machine.csidl = csidl;
    if (machine.shellFails) return E_FAIL;
    *list = reinterpret_cast<PIDLIST_ABSOLUTE>(itemIdList);
    return S_OK;
}
BOOL WINAPI FakePathFromIdList(PCIDLIST_ABSOLUTE, LPSTR path) {
    std::strcpy(path, machine.systemFolder.c_str());
    return TRUE;
}
void WINAPI FakeTaskMemFree(LPVOID) {}

const HANDLE kFakeHandle = reinterpret_cast<HANDLE>(0x4711);
HANDLE WINAPI FakeFindFirst(LPCWSTR path, LPWIN32_FIND_DATAW entry) {
    machine.lookedUp.push_back(path);
    if (!machine.files.count(path)) return INVALID_HANDLE_VALUE;
    *entry = {};
    entry->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    return kFakeHandle;
}
BOOL WINAPI FakeFindNext(HANDLE, LPWIN32_FIND_DATAW) { return FALSE; }
BOOL WINAPI FakeFindClose(HANDLE) { return TRUE; }

BOOL WINAPI FakeCreateProcess(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL inherit,
                              DWORD, LPVOID, LPCWSTR directory, LPSTARTUPINFOW, LPPROCESS_INFORMATION started) {
    machine.startedCommands.push_back(commandLine);
    machine.handlesInherited.push_back(inherit);
    machine.startedIn.push_back(directory ? directory : L"(inherited)");
    machine.calls.push_back("CreateProcess");
    *started = {};
    started->hProcess = kFakeHandle;
    started->hThread = kFakeHandle;
    return TRUE;
}
BOOL WINAPI FakeCloseHandle(HANDLE) { return TRUE; }
void WINAPI FakeSleep(DWORD) {}
DWORD WINAPI FakeWait(HANDLE, DWORD milliseconds) {
    if (milliseconds != 0 || machine.toolPolls == 0) return WAIT_OBJECT_0;
    --machine.toolPolls;
    return WAIT_TIMEOUT;
}
DWORD WINAPI FakeTickCount() { return machine.clock += 60000; }
BOOL WINAPI FakeTerminate(HANDLE, UINT code) {
    machine.calls.push_back("TerminateProcess " + std::to_string(code));
    machine.exitCode = code;
    machine.toolPolls = 0;
    return TRUE;
}
UINT WINAPI FakeSetErrorMode(UINT mode) {
    machine.calls.push_back("SetErrorMode " + std::to_string(mode));
    return 0;
}
BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
    machine.calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
    return machine.setDefaultDllDirectoriesWorks;
}
BOOL WINAPI FakeSetDllDirectory(LPCWSTR folder) {
    machine.calls.push_back(folder ? "SetDllDirectoryW \"" + ToAnsi(folder) + "\"" : "SetDllDirectoryW NULL");
    return TRUE;
}
FARPROC WINAPI FakeKernelEntry(HMODULE module, LPCSTR name) {
    if (module != ::GetModuleHandleW(L"kernel32.dll")) return nullptr;
    if (std::strcmp(name, "SetDefaultDllDirectories") == 0 && machine.hasSetDefaultDllDirectories)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeSetDefaultDllDirectories));
    if (std::strcmp(name, "SetDllDirectoryW") == 0 && machine.hasSetDllDirectory)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeSetDllDirectory));
    return nullptr;
}
BOOL WINAPI FakeExitCode(HANDLE, LPDWORD code) {
    *code = machine.exitCode;
    return TRUE;
}

const HKEY kFakeKey = reinterpret_cast<HKEY>(0x4712);
LONG WINAPI FakeOpenKey(HKEY root, LPCSTR path, DWORD, REGSAM, PHKEY key) {
    if (root != HKEY_LOCAL_MACHINE) return ERROR_FILE_NOT_FOUND;
    machine.openKeyPath = path;
    *key = kFakeKey;
    return ERROR_SUCCESS;
}
LONG WINAPI FakeQueryValue(HKEY, LPCSTR name, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
    const auto found = machine.hklm.find(machine.openKeyPath + "|" + name);
    if (found == machine.hklm.end()) return ERROR_FILE_NOT_FOUND;
    if (found->second.size() > *size) return ERROR_MORE_DATA;
    std::memcpy(data, found->second.data(), found->second.size());
    *size = static_cast<DWORD>(found->second.size());
    return ERROR_SUCCESS;
}
LONG WINAPI FakeCreateKey(HKEY root, LPCSTR path, PHKEY key) {
    if (machine.refuseWrites || root != HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
    machine.openKeyPath = path;
    *key = kFakeKey;
    return ERROR_SUCCESS;
}
LONG WINAPI FakeSetValue(HKEY, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    machine.hklm[machine.openKeyPath + "|" + name] = std::string(reinterpret_cast<const char*>(data), size);
    return ERROR_SUCCESS;
}
LONG WINAPI FakeCloseKey(HKEY) { return ERROR_SUCCESS; }
LONG WINAPI RaisingOpenKey(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { RaiseError(kErrFileNotFound); }

BOOL WINAPI Admin() { return TRUE; }
LPWSTR WINAPI CommandLineWithArgument() { return const_cast<LPWSTR>(L"\"C:\\Setup Files\\setup.exe\"  /x "); }
LPWSTR WINAPI CommandLineWithout() { return const_cast<LPWSTR>(L"setup.exe"); }
LPWSTR WINAPI RaisingCommandLine() { RaiseError(kErrOutOfMemory); }

std::string MarkerName() {
    std::string company;
    for (wchar_t c : AppInfo::CompanyName()) company += static_cast<char>(c);
    return "Software\\" + company + "\\Tarvex_cl_V4|Registered";
}

std::wstring Stamp() { return modInstallLog::NowAsText(); }

// Every part of the run reaches the machine through the fakes above.
class RegistrationRun : public ::testing::Test {
protected:
    void SetUp() override {
        machine = FakeMachine();
        modInstallLog::InstallLog.clear();
        frmMain::SystemFolder.clear();
        reg::RegAccessMask = 0;
        reg::RegRootKey = nullptr;
        reg::RegKeyPath.clear();
        ASSERT_FALSE(AppInfo::CompanyName().empty());
    }
    void TearDown() override { modInstallLog::InstallLog.clear(); }

    void InstallTool(const std::wstring& folder) {
        machine.systemFolder = ToAnsi(folder);
        machine.files = {folder + L"\\RegSvr32.exe", folder + L"\\TVex.DLL"};
    }

    // The log's entries without their time stamps, each checked to carry one.
    std::vector<std::wstring> Entries() {
        std::vector<std::wstring> entries;
        const std::wstring prefix = Stamp() + L": ";
        const std::wstring& log = modInstallLog::InstallLog;
        for (std::size_t start = 0; start < log.size();) {
            const std::size_t end = log.find(L"\r\n", start);
            if (end == std::wstring::npos) {
                ADD_FAILURE() << "log does not end with CR LF";
                break;
            }
            const std::wstring line = log.substr(start, end - start);
            EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << "entry without its time stamp";
            entries.push_back(line.substr(std::min(prefix.size(), line.size())));
            start = end + 2;
        }
        return entries;
    }

    std::wstring StartLine() { return AppInfo::ProgramFolder() + L"\\" + AppInfo::ProgramName() + L" started"; }
    std::wstring BitnessLine() {
        const char* kind = std::getenv("TARVEX_WINE_KIND");
        return kind && std::string(kind) == "win32" ? L"32 bit OS detected" : L"64 bit OS detected";
    }

    UiRecorder ui;
    ApiOverride<decltype(frmMain::api.GetCommandLineW)> commandLine_{frmMain::api.GetCommandLineW, CommandLineWithout};
    ApiOverride<decltype(modInstallLog::api.GetLocalTime)> clock_{modInstallLog::api.GetLocalTime, FixedLocalTime};
    ApiOverride<decltype(frmMain::api.IsUserAnAdmin)> admin_{frmMain::api.IsUserAnAdmin, Admin};
    ApiOverride<decltype(modCommonSpecialFolders::api.SHGetSpecialFolderLocation)> folder_{
        modCommonSpecialFolders::api.SHGetSpecialFolderLocation, FakeFolderLocation};
    ApiOverride<decltype(modCommonSpecialFolders::api.SHGetPathFromIDListA)> path_{
        modCommonSpecialFolders::api.SHGetPathFromIDListA, FakePathFromIdList};
    ApiOverride<decltype(modCommonSpecialFolders::api.CoTaskMemFree)> free_{modCommonSpecialFolders::api.CoTaskMemFree,
                                                                            FakeTaskMemFree};
    ApiOverride<decltype(modEnvironment::api.FindFirstFileW)> findFirst_{modEnvironment::api.FindFirstFileW,
                                                                         FakeFindFirst};
    ApiOverride<decltype(modEnvironment::api.FindNextFileW)> findNext_{modEnvironment::api.FindNextFileW,
                                                                       FakeFindNext};
    ApiOverride<decltype(modEnvironment::api.FindClose)> findClose_{modEnvironment::api.FindClose, FakeFindClose};
    ApiOverride<decltype(modCommonShellUtils::api.CreateProcessW)> create_{modCommonShellUtils::api.CreateProcessW,
                                                                           FakeCreateProcess};
    ApiOverride<decltype(modCommonShellUtils::api.CloseHandle)> closeHandle_{modCommonShellUtils::api.CloseHandle,
                                                                             FakeCloseHandle};
    ApiOverride<decltype(modCommonShellUtils::api.Sleep)> sleep_{modCommonShellUtils::api.Sleep, FakeSleep};
    ApiOverride<decltype(modCommonShellUtils::api.WaitForSingleObject)> wait_{
        modCommonShellUtils::api.WaitForSingleObject, FakeWait};
    ApiOverride<decltype(modCommonShellUtils::api.GetExitCodeProcess)> exitCode_{
        modCommonShellUtils::api.GetExitCodeProcess, FakeExitCode};
    ApiOverride<decltype(modCommonShellUtils::api.GetTickCount)> ticks_{modCommonShellUtils::api.GetTickCount,
                                                                         FakeTickCount};
    ApiOverride<decltype(modCommonShellUtils::api.TerminateProcess)> terminate_{
        modCommonShellUtils::api.TerminateProcess, FakeTerminate};
    ApiOverride<decltype(Program::api.SetErrorMode)> errorMode_{Program::api.SetErrorMode, FakeSetErrorMode};
    ApiOverride<decltype(Program::api.GetProcAddress)> kernelEntry_{Program::api.GetProcAddress, FakeKernelEntry};
    ApiOverride<decltype(reg::api.RegOpenKeyExA)> openKey_{reg::api.RegOpenKeyExA, FakeOpenKey};
    ApiOverride<decltype(reg::api.RegQueryValueExA)> query_{reg::api.RegQueryValueExA, FakeQueryValue};
    CreateKeyOverride createKey_{FakeCreateKey};
    ApiOverride<decltype(reg::api.RegSetValueExA)> setValue_{reg::api.RegSetValueExA, FakeSetValue};
    ApiOverride<decltype(reg::api.RegCloseKey)> closeKey_{reg::api.RegCloseKey, FakeCloseKey};
};

}  // namespace

// The company name comes from the system folder's version.dll, named by its
// full path: a bare name would let a version.dll beside the EXE answer.
std::vector<std::wstring> loadedLibraries;
HMODULE WINAPI RecordingLoadLibrary(LPCWSTR name) {
    loadedLibraries.push_back(name);
    return ::LoadLibraryW(name);
}
HMODULE WINAPI FailingLoadLibrary(LPCWSTR) { return nullptr; }

TEST(AppInfo, VersionInformationComesFromTheSystemFoldersVersionDllOnly) {
    wchar_t folder[MAX_PATH] = {};
    ::GetSystemDirectoryW(folder, MAX_PATH);
    loadedLibraries.clear();
    {
        ApiOverride<decltype(AppInfo::api.LoadLibraryW)> load(AppInfo::api.LoadLibraryW, RecordingLoadLibrary);
        EXPECT_FALSE(AppInfo::CompanyName().empty());
    }
    EXPECT_EQ(loadedLibraries, std::vector<std::wstring>{std::wstring(folder) + L"\\version.dll"});
    ApiOverride<decltype(AppInfo::api.LoadLibraryW)> refuse(AppInfo::api.LoadLibraryW, FailingLoadLibrary);
    EXPECT_EQ(AppInfo::CompanyName(), L"") << "without the system's version.dll there is no company name";
}

TEST(FrmMain, ResultTextHasASignPosition) {
    EXPECT_EQ(frmMain::SignedNumberText(0), L" 0");
    EXPECT_EQ(frmMain::SignedNumberText(5), L" 5");
    EXPECT_EQ(frmMain::SignedNumberText(-1073741819), L"-1073741819");
}

TEST(FrmMain, CommandLineQuotesAPathOnlyWhenItHoldsABlank) {
    EXPECT_EQ(frmMain::RegistrationCommandLine(L"C:\\windows\\syswow64"),
              L"C:\\windows\\syswow64\\RegSvr32.exe C:\\windows\\syswow64\\TVex.DLL /s");
    EXPECT_EQ(frmMain::RegistrationCommandLine(L"C:\\My Windows\\system32"),
              L"\"C:\\My Windows\\system32\\RegSvr32.exe\" \"C:\\My Windows\\system32\\TVex.DLL\" /s");
    EXPECT_EQ(frmMain::RegistrationCommandLine(L"C:\\Tab\tbed"),
              L"\"C:\\Tab\tbed\\RegSvr32.exe\" \"C:\\Tab\tbed\\TVex.DLL\" /s");
}

TEST(FrmMain, ArgumentPartIsWhatFollowsTheProgramPathTrimmed) {
    EXPECT_EQ(frmMain::ArgumentPart(L"setup.exe"), L"");
    EXPECT_EQ(frmMain::ArgumentPart(L"setup.exe   "), L"");
    EXPECT_EQ(frmMain::ArgumentPart(L"setup.exe  /x  y "), L"/x  y");
    EXPECT_EQ(frmMain::ArgumentPart(L"\"C:\\Setup Files\\setup.exe\""), L"");
    EXPECT_EQ(frmMain::ArgumentPart(L"\"C:\\Setup Files\\setup.exe\" /x"), L"/x");
    EXPECT_EQ(frmMain::ArgumentPart(L"\"C:\\Setup Files\\setup.exe\"\t-"), L"-");
}

TEST_F(RegistrationRun, SuccessLogsEveryStepInOrderAndWritesTheMarker) {
    InstallTool(L"C:\\windows\\syswow64");
    frmMain::RegisterControl(true);

    const std::wstring tool = L"C:\\windows\\syswow64\\RegSvr32.exe";
    const std::wstring control = L"C:\\windows\\syswow64\\TVex.DLL";
    const std::vector<std::wstring> expected = {
        StartLine(), L"User is admin", L"TarvexActiveX not yet registered", L"Registering with " + tool,
        BitnessLine(), L"Using " + control, L"CmdLine " + tool + L" " + control + L" /s", L"Result  0",
        L"Registration finished"};
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(machine.csidl, 41);
    EXPECT_EQ(machine.startedCommands, std::vector<std::wstring>{tool + L" " + control + L" /s"});
    EXPECT_EQ(machine.startedIn, std::vector<std::wstring>{L"C:\\windows\\syswow64"})
        << "no DLL the tool looks for can come from the current directory";
    EXPECT_EQ(machine.handlesInherited, std::vector<BOOL>{FALSE})
        << "the tool holds no handle of ours: the pipe of the program's records ends with the program";
    EXPECT_EQ(machine.hklm[MarkerName()], ToAnsi(Stamp() + L" by TarvexActiveXInstaller") + '\0');
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(MessageBoxes::ErrorBoxShown);
}

// Whoever gave the program a standard output reads the run as it happens:
// each entry as it is logged, the tool's exit code in words, the error text.
TEST_F(RegistrationRun, RecordsFollowTheLogEntryByEntryWithTheToolsResultAndTheError) {
    InstallTool(L"C:\\windows\\syswow64");
    machine.exitCode = 3;
    RecordsOutput output;
    frmMain::RegisterControl(true);

    std::vector<std::string> expected;
    for (const std::wstring& entry : Entries()) {
        expected.push_back(ToAnsi(L"LOG " + Stamp() + L": " + entry));
        if (entry == L"Result  3")
            expected.push_back("RESULT 3 TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)");
        if (entry.rfind(L"Can't register", 0) == 0) expected.push_back(ToAnsi(L"ERROR " + entry));
    }
    EXPECT_EQ(output.Records(), expected);
    EXPECT_EQ(Entries().size(), 10u);
    EXPECT_EQ(ui.boxes.size(), 1u) << "the records change nothing that the run shows";
}

TEST_F(RegistrationRun, SystemFolderWithABlankIsQuotedSoNoPrefixOfItCanBeStarted) {
    InstallTool(L"C:\\My Windows\\system32");
    frmMain::RegisterControl(true);

    const std::wstring commandLine =
        L"\"C:\\My Windows\\system32\\RegSvr32.exe\" \"C:\\My Windows\\system32\\TVex.DLL\" /s";
    EXPECT_EQ(machine.startedCommands, std::vector<std::wstring>{commandLine});
    const std::vector<std::wstring> entries = Entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[entries.size() - 3], L"CmdLine " + commandLine);
}

TEST_F(RegistrationRun, RegistryErrorEndsWithOneBoxAndKeepsEarlierEntries) {
    ApiOverride<decltype(reg::api.RegOpenKeyExA)> raise(reg::api.RegOpenKeyExA, RaisingOpenKey);
    frmMain::RegisterControl(true);

    const std::wstring error = L"Can't register Tarvex DLL: File not found ($35), Source TarvexActiveXInstaller";
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, error);
    EXPECT_EQ(ui.boxes[0].title, L"TarvexActiveXInstaller");
    EXPECT_EQ(ui.boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{StartLine(), L"User is admin", error}));
    EXPECT_EQ(reg::RegRootKey, HKEY_LOCAL_MACHINE) << "the registry context survives the error";
    EXPECT_EQ(reg::RegKeyPath, L"");
}

TEST_F(RegistrationRun, MarkerThatCantBeReadBackIsReported) {
    InstallTool(L"C:\\windows\\system32");
    machine.refuseWrites = true;
    frmMain::RegisterControl(true);

    const std::wstring error = L"Can't write Tarvex installation info to the registry !";
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, error);
    const std::vector<std::wstring> entries = Entries();
    ASSERT_GE(entries.size(), 3u);
    const std::vector<std::wstring> tail(entries.end() - 3, entries.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{L"Result  0", error, L"Registration finished"}));
}

TEST_F(RegistrationRun, WithoutForceOnlyAnAbsentMarkerOpensTheGate) {
    InstallTool(L"C:\\windows\\system32");
    machine.hklm[MarkerName()] = std::string("earlier") + '\0';
    frmMain::RegisterControl(false);
    EXPECT_EQ(Entries().back(), L"TarvexActiveX already registered");
    EXPECT_TRUE(machine.startedCommands.empty());

    modInstallLog::InstallLog.clear();
    machine.hklm[MarkerName()] = std::string("Not found") + '\0';
    frmMain::RegisterControl(false);
    EXPECT_EQ(Entries()[2], L"TarvexActiveX not yet registered");
    EXPECT_EQ(Entries().back(), L"Registration finished");
}

TEST_F(RegistrationRun, WithAnArgumentTheLogIsShownAndYesCopiesTheLogAlone) {
    InstallTool(L"C:\\windows\\system32");
    ApiOverride<decltype(frmMain::api.GetCommandLineW)> commandLine(frmMain::api.GetCommandLineW,
                                                                    CommandLineWithArgument);
    ui.answers = {IDYES};
    frmMain::Form_Load();

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, L"Tarvex registration details:\r\n\r\n" + modInstallLog::InstallLog +
                                    L"\r\n\rCopy info to clipboard ?");
    EXPECT_EQ(ui.boxes[0].style, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(ui.boxes[0].title, L"TarvexActiveXInstaller");
    EXPECT_EQ(ui.clipboard, std::vector<std::wstring>{modInstallLog::InstallLog});
    EXPECT_EQ(Entries().size(), 9u);
    EXPECT_FALSE(MessageBoxes::ErrorBoxShown) << "the log box is no error box";
}

// The shell may give no system folder; the tool's path would then name the
// root of the current drive, where anyone may plant a program.
TEST_F(RegistrationRun, WithoutASystemFolderNothingAtTheDrivesRootIsLookedAtOrStarted) {
    machine.shellFails = true;
    machine.files = {L"\\RegSvr32.exe", L"\\TVex.DLL"};
    frmMain::RegisterControl(true);

    const std::wstring error = L"Can't find registration program '\\RegSvr32.exe'";
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, error);
    EXPECT_EQ(ui.boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{StartLine(), L"User is admin", L"TarvexActiveX not yet registered",
                                                    error}));
    EXPECT_TRUE(machine.lookedUp.empty());
    EXPECT_TRUE(machine.startedCommands.empty());
}

TEST_F(RegistrationRun, PackageIncompleteTextIsLoggedOnlyWhereNoOneSeesItsBox) {
    const std::wstring control = L"C:\\windows\\system32\\TVex.DLL";
    for (const auto station : {UiRecorder::Station::Visible, UiRecorder::Station::Invisible}) {
        modInstallLog::InstallLog.clear();
        InstallTool(L"C:\\windows\\system32");
        machine.files.erase(control);
        ui.boxes.clear();
        ui.station = station;
        RunAudience::DetectWhetherRunIsSeen();
        frmMain::RegisterControl(true);

        const bool seen = station == UiRecorder::Station::Visible;
        const std::wstring text = L"Can't find Tarvex DLL !\r\n\r\nPlease contact " + AppInfo::CompanyName() +
                                  L": Installation package incomplete\r\n\r\nSystem folder: C:\\windows\\system32"
                                  L"\r\nOperating system: " + modCommonOsVersion::GetOsName();
        EXPECT_EQ(ui.boxes.size(), seen ? 1u : 0u);
        if (seen) {
            EXPECT_EQ(ui.boxes[0].text, text);
        }
        // The text keeps its line breaks: the entry is what the box would have said.
        std::wstring tail = Stamp() + L": " + control + L" not found\r\n";
        if (!seen) tail += Stamp() + L": " + text + L"\r\n";
        const std::wstring& log = modInstallLog::InstallLog;
        ASSERT_GE(log.size(), tail.size());
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << "seen: " << seen;
        EXPECT_TRUE(MessageBoxes::ErrorBoxShown);
    }
}

TEST_F(RegistrationRun, SeenRunEndsWithItsExitCodeAndWritesNoEvent) {
    InstallTool(L"C:\\windows\\system32");
    EXPECT_EQ(Program::Run(), Program::kExitSuccess);
    machine.exitCode = 5;
    EXPECT_EQ(Program::Run(), Program::kExitFailure);
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(ui.events.empty());
}

// Started as SYSTEM by a deployment tool: no box, the same exit code, and the
// whole log as one event whose type tells the outcome.
TEST_F(RegistrationRun, UnseenRunWritesItsWholeLogAsOneEventOfItsOutcome) {
    ApiOverride<decltype(frmMain::api.GetCommandLineW)> commandLine(frmMain::api.GetCommandLineW,
                                                                    CommandLineWithArgument);
    const struct {
        DWORD toolExitCode;
        int exitCode;
        WORD eventType;
        const wchar_t* lastEntry;
    } cases[] = {{0, Program::kExitSuccess, EVENTLOG_INFORMATION_TYPE, L"Registration finished"},
                 {5, Program::kExitFailure, EVENTLOG_ERROR_TYPE, L"Registration finished"}};
    for (const auto& c : cases) {
        modInstallLog::InstallLog.clear();
        MessageBoxes::ErrorBoxShown = false;
        ui.events.clear();
        InstallTool(L"C:\\windows\\system32");
        machine.exitCode = c.toolExitCode;
        ui.station = UiRecorder::Station::Invisible;

        EXPECT_EQ(Program::Run(), c.exitCode);

        EXPECT_TRUE(ui.boxes.empty()) << "no box, the log box included";
        EXPECT_TRUE(ui.clipboard.empty()) << "the log box counts as answered No";
        ASSERT_EQ(ui.events.size(), 1u);
        EXPECT_EQ(ui.events[0].type, c.eventType);
        EXPECT_EQ(ui.events[0].strings, std::vector<std::wstring>{modInstallLog::InstallLog});
        const std::vector<std::wstring> entries = Entries();
        EXPECT_EQ(entries.front(), StartLine()) << "the earlier entries stay";
        EXPECT_EQ(entries.back(), c.lastEntry);
    }
}

// Unseen, the tool inherits an error mode without crash or hard-error boxes
// and gets five minutes; seen, Windows' own mode stays and the wait has no end.
TEST_F(RegistrationRun, UnseenToolInheritsAQuietErrorModeAndIsEndedAfterFiveMinutes) {
    const struct {
        UiRecorder::Station station;
        std::vector<std::string> calls;
        int exitCode;
    } cases[] = {{UiRecorder::Station::Visible,
                  {"SetDefaultDllDirectories 2048", "CreateProcess"},
                  Program::kExitSuccess},
                 {UiRecorder::Station::Invisible,
                  {"SetDefaultDllDirectories 2048", "SetErrorMode 32771", "CreateProcess", "TerminateProcess 1460"},
                  Program::kExitFailure}};
    for (const auto& c : cases) {
        modInstallLog::InstallLog.clear();
        MessageBoxes::ErrorBoxShown = false;
        ui.events.clear();
        InstallTool(L"C:\\windows\\system32");
        machine.hklm.clear();
        machine.calls.clear();
        machine.exitCode = 0;
        machine.toolPolls = 20;  // twenty minutes on the fake clock
        ui.station = c.station;

        EXPECT_EQ(Program::Run(), c.exitCode);
        EXPECT_EQ(machine.calls, c.calls);
    }
    const std::wstring error = L"Can't register Tarvex ActiveX control, result  1460!";
    const std::vector<std::wstring> entries = Entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(std::vector<std::wstring>(entries.end() - 4, entries.end()),
              (std::vector<std::wstring>{L"Registration program did not end within 5 minutes", L"Result  1460", error,
                                         L"Registration finished"}));
    EXPECT_EQ(machine.hklm.count(MarkerName()), 0u) << "no marker after a tool that was ended";
    ASSERT_EQ(ui.events.size(), 1u);
    EXPECT_EQ(ui.events[0].type, EVENTLOG_ERROR_TYPE);
}

// Only the system folder where Windows can; else at least no current directory; else the run goes on.
TEST_F(RegistrationRun, DllSearchIsRestrictedAsFarAsTheSystemAllows) {
    const struct {
        bool hasSetDefault, setDefaultWorks, hasSetDirectory;
        std::vector<std::string> calls;
    } cases[] = {{true, true, true, {"SetDefaultDllDirectories 2048"}},
                 {true, false, true, {"SetDefaultDllDirectories 2048", "SetDllDirectoryW \"\""}},
                 {false, false, true, {"SetDllDirectoryW \"\""}},
                 {false, false, false, {}}};
    for (const auto& c : cases) {
        machine.calls.clear();
        machine.hasSetDefaultDllDirectories = c.hasSetDefault;
        machine.setDefaultDllDirectoriesWorks = c.setDefaultWorks;
        machine.hasSetDllDirectory = c.hasSetDirectory;
        Program::RestrictDllSearch();
        EXPECT_EQ(machine.calls, c.calls);
    }
}

TEST_F(RegistrationRun, RunTimeErrorThatEscapesTheRegistrationEndsWithItsBoxAndExitCode1) {
    InstallTool(L"C:\\windows\\system32");
    ApiOverride<decltype(frmMain::api.GetCommandLineW)> commandLine(frmMain::api.GetCommandLineW,
                                                                    CommandLineWithArgument);
    ui.answers = {IDYES};
    ui.refuseClipboard = true;

    EXPECT_EQ(Program::Run(), Program::kExitFailure);

    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].style, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(ui.boxes[1].text, L"Run-time error '521':\r\n\r\nCan't open Clipboard");
    EXPECT_EQ(ui.boxes[1].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Entries().back(), L"Registration finished") << "a box that is seen is not logged";
}

TEST_F(RegistrationRun, UnseenEscapedErrorIsLoggedAndReportedAsAFailure) {
    ApiOverride<decltype(frmMain::api.GetCommandLineW)> commandLine(frmMain::api.GetCommandLineW, RaisingCommandLine);
    ui.station = UiRecorder::Station::Invisible;

    EXPECT_EQ(Program::Run(), Program::kExitFailure);

    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(Entries(), std::vector<std::wstring>{L"Run-time error '7': Out of memory"});
    ASSERT_EQ(ui.events.size(), 1u);
    EXPECT_EQ(ui.events[0].type, EVENTLOG_ERROR_TYPE);
}

TEST_F(RegistrationRun, Cp932SystemFolderKeepsItsDoubleByteNameInTheLogAndCommand) {
    REQUIRE_CODE_PAGE_932();
    const std::wstring folder = L"C:\\\u65e5\u672c\\system32";
    InstallTool(folder);
    frmMain::RegisterControl(true);

    const std::wstring tool = folder + L"\\RegSvr32.exe";
    const std::vector<std::wstring> entries = Entries();
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[3], L"Registering with " + tool);
    EXPECT_EQ(machine.startedCommands, std::vector<std::wstring>{tool + L" " + folder + L"\\TVex.DLL /s"});
    EXPECT_TRUE(ui.boxes.empty()) << "the marker read back";
}
