// The package's custom-action modules: the program run with its output piped
// (on a model of a child and, for real, on small programs), what its records
// make of a failure, the marker's rollback on the real registry, the messages
// to Windows Installer, the pending replacement of the control and the
// service that registers it after the restart.
#include "ApiOverride.h"
#include "shared/ProcessAccount.h"
#include "packaging/runner/ChildProcess.h"
#include "packaging/runner/Confinement.h"
#include "packaging/runner/FolderTrust.h"
#include "packaging/registry/MarkerRollback.h"
#include "packaging/customaction/MsiSession.h"
#include "packaging/restart/PendingRename.h"
#include "packaging/runner/ProgramRecords.h"
#include "packaging/restart/RestartService.h"
#include "packaging/runner/RunEnvironment.h"
#include "packaging/registry/SharedCount.h"
#include "packaging/starter/RestartStarter.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

using ChildProcess::End;
using ChildProcess::Outcome;

std::vector<std::wstring> RunLines(const std::wstring& commandLine, DWORD limitMs, Outcome* outcome) {
    std::vector<std::wstring> lines;
    *outcome = ChildProcess::RunCollectingLines(commandLine, limitMs, [&](const std::wstring& line) { lines.push_back(line); });
    return lines;
}

// A child and its pipe, as the module sees them through its entry points:
// the child writes its output into a pipe that holds only a few bytes and
// can't end before all of it is read; a process of its own keeps the pipe
// open, so the pipe never reports its end.
struct ModelChild {
    std::string unwritten;
    std::string inPipe;
    std::size_t pipeCapacity = 16;
    bool hangs = false;
    bool ended = false;
    DWORD exitCode = 7;
    DWORD ticks = 0;
    BOOL inherit = FALSE;
    bool handleList = false;  // started with a list of the handles it inherits
    HANDLE stdOutput = nullptr, stdError = nullptr;
    bool readEndInheritable = true;
    bool writeEndClosedBeforeWait = false;
    bool readBlocked = false;
    bool floods = false;  // writes lines for ever, faster than they are read
    bool inJob = false;   // the job takes it
    std::vector<std::string> events;  // "assigned", "resumed", "ended <code>", "job ended <code>"
    std::vector<std::string> terminated;
};
ModelChild child;
const HANDLE kRead = reinterpret_cast<HANDLE>(0x10), kWrite = reinterpret_cast<HANDLE>(0x11);
const HANDLE kProcess = reinterpret_cast<HANDLE>(0x20), kThread = reinterpret_cast<HANDLE>(0x21);
const HANDLE kErrorCopy = reinterpret_cast<HANDLE>(0x22);
bool writeEndOpen = false;

BOOL WINAPI ModelPipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES, DWORD) {
    *read = kRead;
    *write = kWrite;
    writeEndOpen = true;
    return TRUE;
}
BOOL WINAPI ModelHandleInformation(HANDLE handle, DWORD mask, DWORD flags) {
    if (handle == kRead && mask == HANDLE_FLAG_INHERIT) child.readEndInheritable = flags != 0;
    return TRUE;
}
BOOL WINAPI ModelCreate(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags,
                        LPVOID, LPCWSTR, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
    child.inherit = inherit;
    child.handleList = (flags & EXTENDED_STARTUPINFO_PRESENT) && startup->cb > sizeof(STARTUPINFOW);
    child.stdOutput = startup->dwFlags & STARTF_USESTDHANDLES ? startup->hStdOutput : nullptr;
    child.stdError = startup->dwFlags & STARTF_USESTDHANDLES ? startup->hStdError : nullptr;
    started->hProcess = kProcess;
    started->hThread = kThread;
    return TRUE;
}
void Flow() {
    if (child.floods && !child.ended) child.unwritten = "LOG flood\r\n";
    while (!child.unwritten.empty() && child.inPipe.size() < child.pipeCapacity) {
        child.inPipe += child.unwritten[0];
        child.unwritten.erase(0, 1);
    }
}
BOOL WINAPI ModelPeek(HANDLE pipe, LPVOID, DWORD, LPDWORD, LPDWORD available, LPDWORD) {
    if (pipe != kRead) return FALSE;
    Flow();
    *available = static_cast<DWORD>(child.inPipe.size());
    return TRUE;
}
BOOL WINAPI ModelRead(HANDLE pipe, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
    if (pipe != kRead || child.inPipe.empty()) {
        child.readBlocked = true;  // a real read would wait for ever here
        return FALSE;
    }
    *read = std::min<DWORD>(size, static_cast<DWORD>(child.inPipe.size()));
    child.inPipe.copy(static_cast<char*>(buffer), *read);
    child.inPipe.erase(0, *read);
    ++child.ticks;  // reading takes time too
    return TRUE;
}
DWORD WINAPI ModelWait(HANDLE process, DWORD milliseconds) {
    if (process != kProcess) return WAIT_FAILED;
    child.writeEndClosedBeforeWait = !writeEndOpen;
    child.ticks += milliseconds;
    Flow();
    if (!child.hangs && child.unwritten.empty()) child.ended = true;
    return child.ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
BOOL WINAPI ModelExitCode(HANDLE, LPDWORD code) {
    *code = child.exitCode;
    return TRUE;
}
BOOL WINAPI ModelTerminate(HANDLE, UINT code) {
    child.terminated.push_back(std::to_string(code));
    child.ended = true;
    return TRUE;
}
DWORD WINAPI ModelResume(HANDLE thread) {
    if (thread == kThread) child.events.push_back("resumed");
    return 1;
}
BOOL WINAPI ModelAssign(HANDLE, HANDLE process) {
    if (process != kProcess || !child.inJob) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    child.events.push_back("assigned");
    return TRUE;
}
BOOL WINAPI ModelEndJob(HANDLE, UINT code) {
    child.terminated.push_back("job " + std::to_string(code));
    child.ended = true;
    return TRUE;
}
BOOL WINAPI ModelClose(HANDLE handle) {
    if (handle == kWrite) writeEndOpen = false;
    return TRUE;
}
DWORD WINAPI ModelTicks() { return child.ticks; }
BOOL WINAPI ModelDuplicate(HANDLE, HANDLE source, HANDLE, LPHANDLE copy, DWORD, BOOL inheritable, DWORD) {
    *copy = source == ::GetStdHandle(STD_ERROR_HANDLE) && inheritable ? kErrorCopy : nullptr;
    return *copy != nullptr;
}

class ModelRun : public ::testing::Test {
protected:
    void SetUp() override {
        child = ModelChild();
        writeEndOpen = false;
    }
    ApiOverride<decltype(ChildProcess::api.CreatePipe)> pipe_{ChildProcess::api.CreatePipe, ModelPipe};
    ApiOverride<decltype(ChildProcess::api.SetHandleInformation)> info_{ChildProcess::api.SetHandleInformation,
                                                                          ModelHandleInformation};
    ApiOverride<decltype(ChildProcess::api.CreateProcessW)> create_{ChildProcess::api.CreateProcessW, ModelCreate};
    ApiOverride<decltype(ChildProcess::api.PeekNamedPipe)> peek_{ChildProcess::api.PeekNamedPipe, ModelPeek};
    ApiOverride<decltype(ChildProcess::api.ReadFile)> read_{ChildProcess::api.ReadFile, ModelRead};
    ApiOverride<decltype(ChildProcess::api.WaitForSingleObject)> wait_{ChildProcess::api.WaitForSingleObject, ModelWait};
    ApiOverride<decltype(ChildProcess::api.GetExitCodeProcess)> code_{ChildProcess::api.GetExitCodeProcess,
                                                                        ModelExitCode};
    ApiOverride<decltype(ChildProcess::api.TerminateProcess)> end_{ChildProcess::api.TerminateProcess, ModelTerminate};
    ApiOverride<decltype(ChildProcess::api.CloseHandle)> close_{ChildProcess::api.CloseHandle, ModelClose};
    ApiOverride<decltype(ChildProcess::api.GetTickCount)> ticks_{ChildProcess::api.GetTickCount, ModelTicks};
    ApiOverride<decltype(ChildProcess::api.ResumeThread)> resume_{ChildProcess::api.ResumeThread, ModelResume};
    ApiOverride<decltype(ChildProcess::api.DuplicateHandle)> duplicate_{ChildProcess::api.DuplicateHandle,
                                                                        ModelDuplicate};
    ApiOverride<decltype(Confinement::api.AssignProcessToJobObject)> assign_{Confinement::api.AssignProcessToJobObject,
                                                                             ModelAssign};
    ApiOverride<decltype(Confinement::api.TerminateJobObject)> endJob_{Confinement::api.TerminateJobObject,
                                                                       ModelEndJob};
};

}  // namespace

TEST_F(ModelRun, OutputLargerThanThePipeIsReadWhileTheChildRunsAndTheRunEndsWithTheChild) {
    std::vector<std::wstring> expected;
    for (int i = 0; i < 200; ++i) {
        const std::wstring line = L"LOG entry " + std::to_wstring(i);
        expected.push_back(line);
        child.unwritten += std::string(line.begin(), line.end()) + (i % 2 ? "\r\n" : "\n");
    }
    child.unwritten += "RESULT 0";  // the last line without its break
    expected.push_back(L"RESULT 0");
    Outcome outcome{};
    EXPECT_EQ(RunLines(L"program.exe", 60000, &outcome), expected);
    EXPECT_EQ(outcome.end, End::Exited);
    EXPECT_EQ(outcome.code, 7u);
    EXPECT_FALSE(child.readBlocked) << "a read waited on a pipe that a grandchild keeps open";
    EXPECT_TRUE(child.inherit);
    EXPECT_TRUE(child.handleList) << "Wine, as Windows from Vista on, takes a list: its output and our error alone";
    EXPECT_EQ(child.stdOutput, kWrite);
    EXPECT_EQ(child.stdError, kErrorCopy) << "its standard error is a copy of ours";
    EXPECT_FALSE(child.readEndInheritable) << "the child must not get the pipe's read end";
    EXPECT_TRUE(child.writeEndClosedBeforeWait) << "our write end would keep the pipe open";
}

TEST_F(ModelRun, ChildThatOutlivesItsLimitIsEndedWithTheTimeOutCode) {
    child.hangs = true;
    child.unwritten = "LOG started\r\n";
    Outcome outcome{};
    EXPECT_EQ(RunLines(L"program.exe", 1000, &outcome), std::vector<std::wstring>{L"LOG started"});
    EXPECT_EQ(outcome.end, End::TimedOut);
    EXPECT_EQ(outcome.code, static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(child.terminated, std::vector<std::string>{"1460"});
    EXPECT_GE(child.ticks, 1000u);
}

// The child in a job is ended with all it started; where the job can't take
// it (Windows 7 and earlier inside a job of Windows Installer's), the run goes
// on, says so, and ends the child alone. Either way it starts suspended and
// runs only once it is where it will stay.
TEST_F(ModelRun, AChildOutlivingItsLimitIsEndedWithItsJobOrAloneWhereNoJobTookIt) {
    for (const bool inJob : {true, false}) {
        child = ModelChild();
        child.hangs = true;
        child.inJob = inJob;
        Outcome outcome{};
        RunLines(L"program.exe", 1000, &outcome);
        EXPECT_EQ(outcome.end, End::TimedOut);
        EXPECT_EQ(child.terminated, std::vector<std::string>{inJob ? "job 1460" : "1460"});
        const std::vector<std::string> events =
            inJob ? std::vector<std::string>{"assigned", "resumed"} : std::vector<std::string>{"resumed"};
        EXPECT_EQ(child.events, events);
        const bool noted = std::any_of(outcome.notes.begin(), outcome.notes.end(), [](const std::wstring& note) {
            return note.find(L"outside a job of its own") != std::wstring::npos &&
                   note.find(L"(error 5)") != std::wstring::npos;
        });
        EXPECT_EQ(noted, !inJob) << "the caller's log says when no job took it";
    }
}

TEST_F(ModelRun, AChildThatWritesWithoutEndIsStillEndedAtItsLimit) {
    child.floods = true;
    child.hangs = true;
    child.inJob = true;
    Outcome outcome{};
    const std::vector<std::wstring> lines = RunLines(L"program.exe", 2000, &outcome);
    EXPECT_EQ(outcome.end, End::TimedOut) << "it would have been read for ever";
    EXPECT_FALSE(lines.empty());
}

TEST_F(ModelRun, AFailureWhileALineIsHandledEndsTheChildAndReachesTheCaller) {
    child.hangs = true;
    child.inJob = true;
    child.unwritten = "LOG one\r\n";
    EXPECT_THROW(ChildProcess::RunCollectingLines(L"program.exe", 60000,
                                                  [](const std::wstring&) { throw std::bad_alloc(); }),
                 std::bad_alloc);
    EXPECT_EQ(child.terminated, std::vector<std::string>{"job 1223"});
}

// Cancel pressed while a child says nothing: it is asked about at least once
// a second, from the start, and the child ends with all it started.
TEST_F(ModelRun, ACancelEndsASilentChildWithItsJob) {
    child.hangs = true;
    child.inJob = true;
    std::vector<DWORD> askedAt;
    const Outcome outcome = ChildProcess::RunCollectingLines(L"program.exe", 600000, [](const std::wstring&) {},
                                                             std::wstring(), [&] {
                                                                 askedAt.push_back(child.ticks);
                                                                 return askedAt.size() == 3;
                                                             });
    EXPECT_EQ(outcome.end, End::Cancelled);
    EXPECT_EQ(outcome.code, static_cast<DWORD>(ERROR_INSTALL_USEREXIT));
    ASSERT_EQ(askedAt.size(), 3u);
    EXPECT_LE(askedAt[0], 100u);
    for (std::size_t i = 1; i < askedAt.size(); ++i) EXPECT_LE(askedAt[i] - askedAt[i - 1], 1100u);
    EXPECT_EQ(child.terminated, std::vector<std::string>{"job 1602"});
}

namespace {
std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const std::wstring file(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return file.substr(0, file.find_last_of(L'\\') + 1);
}
std::wstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}
}  // namespace

TEST(ChildProcessRun, RealChildrenTheirLinesTheirCodesAndOneThatCantStart) {
    Outcome outcome{};
    EXPECT_EQ(RunLines(L"\"" + SystemFile(L"cmd.exe") + L"\" /c echo LOG one& echo ERROR two& exit 3", 30000, &outcome),
              (std::vector<std::wstring>{L"LOG one", L"ERROR two"}));
    EXPECT_EQ(outcome.end, End::Exited);
    EXPECT_EQ(outcome.code, 3u);
    EXPECT_TRUE(RunLines(L"\"" + TestProgramFolder() + L"exit_with_code.exe\" 0", 30000, &outcome).empty());
    EXPECT_EQ(outcome.end, End::Exited);
    EXPECT_EQ(outcome.code, 0u);
    RunLines(L"\"" + TestProgramFolder() + L"no such program.exe\"", 30000, &outcome);
    EXPECT_EQ(outcome.end, End::NotStarted);
    EXPECT_EQ(outcome.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// What a child of ours gets: the Windows folders alone on its PATH, a
// temporary folder of its own that goes with the run, and every other
// variable as ours (Wine's own among them, which the suites need).
TEST(ChildProcessRun, AChildsPathAndTempAreTheRunsAndTheRestIsOurs) {
    Outcome outcome{};
    const std::vector<std::wstring> lines =
        RunLines(L"\"" + SystemFile(L"cmd.exe") + L"\" /c echo %PATH%& echo %TEMP%& echo %TMP%& echo %WINEDEBUG%", 30000,
                 &outcome);
    ASSERT_EQ(lines.size(), 4u);
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(lines[0], SystemFile(L"").substr(0, SystemFile(L"").size() - 1) + L";" + windows);
    EXPECT_EQ(lines[1].rfind(std::wstring(windows) + L"\\Temp\\TarvexActiveX-", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], lines[1]);
    EXPECT_EQ(::GetFileAttributesW(lines[1].c_str()), INVALID_FILE_ATTRIBUTES) << "the run's folder stayed";
    wchar_t debug[64] = {};
    ::GetEnvironmentVariableW(L"WINEDEBUG", debug, 64);
    EXPECT_EQ(lines[3], *debug ? std::wstring(debug) : L"%WINEDEBUG%");
    EXPECT_TRUE(outcome.notes.empty()) << outcome.notes[0];
}

TEST(RunEnvironment, PathTempAndTmpAreReplacedWhateverTheirCaseTheRestStaysSorted) {
    const wchar_t block[] = L"=C:=C:\\Work\0Path=C:\\Tools;C:\\Windows\0TEMP=C:\\Windows\\Temp\0WINEDEBUG=-all\0"
                            L"windir=C:\\Windows\0";
    const std::wstring result =
        RunEnvironment::WithSystemPaths(block, L"C:\\Windows\\system32;C:\\Windows", L"C:\\Windows\\Temp\\Run");
    std::vector<std::wstring> entries;
    for (const wchar_t* entry = result.c_str(); *entry; entry += wcslen(entry) + 1) entries.push_back(entry);
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"=C:=C:\\Work", L"PATH=C:\\Windows\\system32;C:\\Windows",
                                                  L"TEMP=C:\\Windows\\Temp\\Run", L"TMP=C:\\Windows\\Temp\\Run",
                                                  L"windir=C:\\Windows", L"WINEDEBUG=-all"}));
    EXPECT_EQ(result.back(), L'\0');
}

namespace {
// The window station as made: its name's flags and descriptor, and the
// process's station calls, the last of which may fail.
DWORD stationFlags = 0;
std::wstring stationSddl;
int stationSwitches = 0, failingSwitch = 0;
bool failStation = false;
HWINSTA WINAPI StationAsMade(LPCWSTR name, DWORD flags, ACCESS_MASK access, LPSECURITY_ATTRIBUTES security) {
    stationFlags = flags;
    LPWSTR sddl = nullptr;
    if (security && ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                        security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr))
        stationSddl = sddl;
    ::LocalFree(sddl);
    if (failStation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // a session whose desktop heap is spent
        return nullptr;
    }
    return ::CreateWindowStationW(name, flags, access, security);
}
BOOL WINAPI SwitchStation(HWINSTA station) {
    if (++stationSwitches == failingSwitch) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ::SetProcessWindowStation(station);
}
int started = 0;
BOOL WINAPI CountStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                       LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    ++started;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}
}  // namespace

// Our station and desktop, for SYSTEM and the Administrators alone, made
// only where the name is new; where either can't be had, or the process's
// own station can't be restored, nothing is started.
TEST(Confinement, AStationOfItsOwnForSystemAndAdministratorsOrNoChildAtAll) {
    ApiOverride<decltype(Confinement::api.CreateWindowStationW)> make(Confinement::api.CreateWindowStationW, StationAsMade);
    ApiOverride<decltype(Confinement::api.SetProcessWindowStation)> set(Confinement::api.SetProcessWindowStation,
                                                                        SwitchStation);
    ApiOverride<decltype(ChildProcess::api.CreateProcessW)> create(ChildProcess::api.CreateProcessW, CountStart);
    const struct {
        bool failStation;
        int failingSwitch;
        DWORD error;  // 0: the child is started
    } cases[] = {{false, 0, 0}, {true, 0, ERROR_NOT_ENOUGH_MEMORY}, {false, 2, ERROR_ACCESS_DENIED}};
    for (const auto& c : cases) {
        failStation = c.failStation, failingSwitch = c.failingSwitch, stationSwitches = 0, started = 0;
        Outcome outcome{};
        RunLines(L"program.exe", 1000, &outcome);
        EXPECT_EQ(started, c.error ? 0 : 1);
        EXPECT_EQ(outcome.end, c.error ? End::NotConfined : End::NotStarted);
        if (c.error) {
            EXPECT_EQ(outcome.code, c.error);
            EXPECT_EQ(outcome.missing, L"a window station of its own");
        }
    }
    EXPECT_EQ(stationSddl, L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)");
    EXPECT_EQ(stationFlags, static_cast<DWORD>(CWF_CREATE_ONLY)) << "Wine reports Windows 7";
    EXPECT_EQ(std::wstring(Confinement::kSystemAndAdministratorsSddl), stationSddl);
}

// The job's own effect, which only a real child shows: a process that the
// child started is ended with it when the child outlives its limit.
TEST(ChildProcessRun, WhatAChildStartedEndsWithItAtItsLimit) {
    Outcome outcome{};
    const std::vector<std::wstring> lines =
        RunLines(L"\"" + TestProgramFolder() + L"exit_with_code.exe\" grandchild 60000", 3000, &outcome);
    EXPECT_EQ(outcome.end, End::TimedOut);
    EXPECT_TRUE(outcome.notes.empty()) << (outcome.notes.empty() ? std::wstring() : outcome.notes[0]);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].rfind(L"grandchild ", 0), 0u) << lines[0];
    const DWORD id = static_cast<DWORD>(std::wcstoul(lines[0].c_str() + 11, nullptr, 10));
    const HANDLE grandchild = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    if (grandchild) {
        EXPECT_EQ(::WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0) << "the grandchild outlived the run";
        ::CloseHandle(grandchild);
    }
}

namespace {
// A scratch key in the 32-bit view, where the marker lies.
constexpr wchar_t kScratch[] = L"Software\\TarvexUnitTests\\MarkerRollback";
const std::wstring kKeyPath = std::wstring(kScratch) + L"\\Tarvex_cl_V4";

HKEY Open32(const std::wstring& path, REGSAM access) {
    HKEY key = nullptr;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS ? key
                                                                                                               : nullptr;
}
void SetText(const std::wstring& path, const wchar_t* name) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
}
void DeleteValue(const std::wstring& path, const wchar_t* name) {
    if (HKEY key = Open32(path, KEY_SET_VALUE)) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
}
bool KeyExists(const std::wstring& path) {
    HKEY key = Open32(path, KEY_READ);
    if (key) RegCloseKey(key);
    return key != nullptr;
}
bool ValueExists(const std::wstring& path, const wchar_t* name) {
    HKEY key = Open32(path, KEY_READ);
    if (!key) return false;
    const bool found = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}
// Deletes the key and its subkeys, through their parents' handles in the 32-bit view.
void DeleteTree(const std::wstring& path) {
    for (const wchar_t* child : {L"\\Tarvex_cl_V4\\Sub", L"\\Tarvex_cl_V4", L""}) {
        const std::wstring full = path + child;
        const std::size_t last = full.rfind(L'\\');
        if (HKEY parent = Open32(full.substr(0, last), KEY_ALL_ACCESS)) {
            RegDeleteKeyW(parent, full.substr(last + 1).c_str());
            RegCloseKey(parent);
        }
    }
}
}  // namespace

TEST(MarkerRollback, TheMarkerGoesAndItsKeyOnlyWhenNothingElseIsInIt) {
    using MarkerRollback::Outcome;
    DeleteTree(kScratch);
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::NoKey);
    SetText(kKeyPath, L"Other");
    DeleteValue(kKeyPath, L"Other");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::NoMarker);
    EXPECT_TRUE(KeyExists(kKeyPath)) << "a key without the marker is not the program's to take";

    SetText(kKeyPath, L"Registered");
    SetText(kKeyPath, L"Other");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::ValueRemovedKeyKept);
    EXPECT_FALSE(ValueExists(kKeyPath, L"Registered"));
    EXPECT_TRUE(ValueExists(kKeyPath, L"Other")) << "another value is never the marker's to take";

    DeleteValue(kKeyPath, L"Other");
    SetText(kKeyPath, L"Registered");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::KeyRemoved);
    EXPECT_FALSE(KeyExists(kKeyPath));
    EXPECT_TRUE(KeyExists(kScratch)) << "only the marker's own key goes";

    SetText(kKeyPath + L"\\Sub", L"Value");
    SetText(kKeyPath, L"Registered");
    EXPECT_EQ(MarkerRollback::RemoveMarker(kKeyPath), Outcome::ValueRemovedKeyKept) << "a subkey keeps the key";
    DeleteTree(kScratch);
}

namespace {
std::vector<std::pair<INSTALLMESSAGE, std::wstring>> sent;
std::wstring recordText;
UINT WINAPI RecordingSetString(MSIHANDLE, UINT field, LPCWSTR text) {
    if (field == 0) recordText = text;
    return ERROR_SUCCESS;
}
int WINAPI RecordingMessage(MSIHANDLE, INSTALLMESSAGE kind, MSIHANDLE) {
    sent.emplace_back(kind, recordText);
    return IDOK;
}
MSIHANDLE WINAPI FakeRecord(UINT) { return 0x77; }
UINT WINAPI FakeClose(MSIHANDLE) { return ERROR_SUCCESS; }
}  // namespace

TEST(MsiSession, LinesAndErrorsGoAsTemplatesThatShowTheTextAsWritten) {
    ApiOverride<decltype(MsiSession::api.MsiCreateRecord)> record(MsiSession::api.MsiCreateRecord, FakeRecord);
    ApiOverride<decltype(MsiSession::api.MsiRecordSetStringW)> set(MsiSession::api.MsiRecordSetStringW,
                                                                   RecordingSetString);
    ApiOverride<decltype(MsiSession::api.MsiProcessMessage)> message(MsiSession::api.MsiProcessMessage,
                                                                     RecordingMessage);
    ApiOverride<decltype(MsiSession::api.MsiCloseHandle)> close(MsiSession::api.MsiCloseHandle, FakeClose);
    sent.clear();
    MsiSession::Log(0, L"LOG [1] {x} 42");
    MsiSession::ShowError(0, L"Can't [x]");
    const std::vector<std::pair<INSTALLMESSAGE, std::wstring>> expected = {
        {INSTALLMESSAGE_INFO, L"TarvexActiveXInstaller: LOG [\\[]1[\\]] [\\{]x[\\}] 42"},
        {INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), L"Can't [\\[]x[\\]]"}};
    EXPECT_EQ(sent, expected);
}

TEST(PendingRename, OnlyARenameOntoThePathCountsWhateverItsPrefixOrCase) {
    const std::wstring dll = L"C:\\Windows\\SysWOW64\\TVex.DLL";
    using namespace std::string_literals;
    const std::pair<std::wstring, bool> cases[] = {
        {L"\\??\\C:\\Windows\\SysWOW64\\msi1A2B.tmp\0!\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        {L"\\??\\c:\\windows\\syswow64\\msi1A2B.tmp\0\\??\\c:\\windows\\syswow64\\tvex.dll\0\0"s, true},
        {L"C:\\Windows\\SysWOW64\\msi1A2B.tmp\0C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        // a delete before the rename: pairs are counted right past its empty target
        {L"\\??\\C:\\Temp\\a.tmp\0\0\\??\\C:\\Temp\\b.tmp\0!\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        {L"\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, false},  // the DLL deleted, not replaced
        {L"\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0!\\??\\C:\\Windows\\SysWOW64\\TVex.old\0\0"s, false},
        {L"\\??\\C:\\Windows\\System32\\msi1.tmp\0!\\??\\C:\\Windows\\System32\\TVex.DLL\0\0"s, false},
        {L""s, false},
    };
    for (const auto& [data, pending] : cases) EXPECT_EQ(PendingRename::RenamesOnto(data, dll), pending) << data.size();
}

// The count of an earlier setup's TVex.DLL, on the real registry (32-bit
// view): raised to what that setup and ours need, never past it, whatever
// Windows Installer wrote before; the rollback leaves none, as there was none.
TEST(SharedCount, RaisedToTwoNeverPastItAndRolledBackToNone) {
    const std::wstring file = L"C:\\Tarvex unit test\\TVex.DLL";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0,
                                nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const struct {
        long before;  // -1: no count
        long after;
    } cases[] = {{-1, 2}, {0, 2}, {1, 2}, {2, 2}, {3, 3}};
    for (const auto& c : cases) {
        const DWORD value = static_cast<DWORD>(c.before);
        if (c.before < 0) ::RegDeleteValueW(key, file.c_str());
        else ::RegSetValueExW(key, file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        DWORD error = 0;
        EXPECT_EQ(SharedCount::RaiseTo(file, SharedCount::kEarlierSetupAndOurs, &error), c.after) << c.before;
        DWORD stored = 0, bytes = sizeof stored;
        EXPECT_EQ(::RegQueryValueExW(key, file.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(static_cast<long>(stored), c.after);
        EXPECT_EQ(SharedCount::Remove(file), 0u);
        EXPECT_EQ(::RegQueryValueExW(key, file.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(SharedCount::Remove(file), 0u) << "none there is no error";
    ::RegCloseKey(key);
}

namespace {
// The Session Manager's values as the test sets them; growth is added to
// the first right after its size was asked for, as another setup would.
std::wstring renames, renames2, growth;
HKEY const kSessionManager = reinterpret_cast<HKEY>(0x5E55);
LONG WINAPI OpenSessionManager(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key) {
    *key = kSessionManager;
    return ERROR_SUCCESS;
}
LONG WINAPI QueryRenames(HKEY, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes) {
    const std::wstring& value = std::wstring(name) == L"PendingFileRenameOperations" ? renames : renames2;
    if (value.empty()) return ERROR_FILE_NOT_FOUND;
    *type = REG_MULTI_SZ;
    const DWORD needed = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!data && &value == &renames) renames += std::exchange(growth, std::wstring());
    if (data && *bytes < needed) {
        *bytes = needed;
        return ERROR_MORE_DATA;
    }
    if (data) std::memcpy(data, value.data(), needed);
    *bytes = needed;
    return ERROR_SUCCESS;
}
LONG WINAPI CloseSessionManager(HKEY) { return ERROR_SUCCESS; }
}  // namespace

TEST(PendingRename, EitherValueOfTheSessionManagerMayHoldTheReplacement) {
    ApiOverride<decltype(PendingRename::api.RegOpenKeyExW)> open(PendingRename::api.RegOpenKeyExW, OpenSessionManager);
    ApiOverride<decltype(PendingRename::api.RegQueryValueExW)> query(PendingRename::api.RegQueryValueExW, QueryRenames);
    ApiOverride<decltype(PendingRename::api.RegCloseKey)> close(PendingRename::api.RegCloseKey, CloseSessionManager);
    using namespace std::string_literals;
    const std::wstring onto = L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s;
    const std::wstring other = L"\\??\\C:\\W\\msi2.tmp\0!\\??\\C:\\W\\Other.dll\0"s;
    struct Case {
        std::wstring first, second, growth;
        bool pending;
    };
    const Case cases[] = {
        {L"", L"", L"", false},
        {L"", onto, L"", true},
        {onto, L"", L"", true},
        {other, L"", L"", false},
        {other, L"", onto, true},  // grown between the two reads of it
    };
    for (const Case& c : cases) {
        renames = c.first, renames2 = c.second, growth = c.growth;
        EXPECT_EQ(PendingRename::IsPendingReplacement(L"C:\\W\\TVex.DLL"), c.pending) << c.first.size() << " " << c.growth.size();
    }
}

namespace {
// The service control manager as the test keeps it: the services by name;
// one that someone holds open stays, marked for deletion, when deleted.
struct Service {
    std::wstring binary;
    DWORD type = 0, start = 0;
    bool accountNamed = false, heldOpen = false, marked = false;
};
struct ServiceRecord {
    std::map<std::wstring, Service> services;
    int created = 0;
    bool starterMissing = false;
};
ServiceRecord scm;
std::wstring opened;  // what the last OpenServiceW opened
SC_HANDLE const kManager = reinterpret_cast<SC_HANDLE>(0x5C1), kService = reinterpret_cast<SC_HANDLE>(0x5C2);
SC_HANDLE WINAPI OpenManager(LPCWSTR, LPCWSTR, DWORD) { return kManager; }
SC_HANDLE WINAPI Create(SC_HANDLE, LPCWSTR name, LPCWSTR, DWORD, DWORD type, DWORD start, DWORD, LPCWSTR binary, LPCWSTR,
                        LPDWORD, LPCWSTR, LPCWSTR account, LPCWSTR) {
    if (scm.services.count(name)) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    scm.services[name] = {binary, type, start, account != nullptr};
    ++scm.created;
    return kService;
}
SC_HANDLE WINAPI OpenOne(SC_HANDLE, LPCWSTR name, DWORD) {
    if (!scm.services.count(name)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    opened = name;
    return kService;
}
std::vector<std::wstring> listed;
BOOL WINAPI Enumerate(SC_HANDLE, DWORD, DWORD, LPENUM_SERVICE_STATUSW services, DWORD, LPDWORD, LPDWORD returned, LPDWORD) {
    listed = {L"Spooler"};
    for (const auto& service : scm.services) listed.push_back(service.first);
    for (std::size_t i = 0; i < listed.size(); ++i) services[i] = {&listed[i][0], &listed[i][0], {}};
    *returned = static_cast<DWORD>(listed.size());
    return TRUE;
}
BOOL WINAPI Delete(SC_HANDLE) {
    Service& service = scm.services[opened];
    if (service.marked) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (service.heldOpen) service.marked = true;
    else scm.services.erase(opened);
    return TRUE;
}
BOOL WINAPI QueryConfig(SC_HANDLE, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed) {
    const std::wstring& binary = scm.services[opened].binary;
    *needed = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + (binary.size() + 1) * sizeof(wchar_t));
    if (!config || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *config = {};
    config->lpBinaryPathName = reinterpret_cast<LPWSTR>(config + 1);
    binary.copy(config->lpBinaryPathName, binary.size());
    config->lpBinaryPathName[binary.size()] = L'\0';
    return TRUE;
}
BOOL WINAPI ChangeNothing(SC_HANDLE, DWORD, DWORD, DWORD, LPCWSTR, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) {
    if (!scm.services[opened].marked) return TRUE;
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
}
BOOL WINAPI CloseOne(SC_HANDLE) { return TRUE; }
DWORD WINAPI StarterAttributes(LPCWSTR) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return scm.starterMissing ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_NORMAL;
}
// The services that would start at the next restart: those not marked for deletion.
std::vector<Service> Arranged() {
    std::vector<Service> arranged;
    for (const auto& service : scm.services)
        if (!service.second.marked) arranged.push_back(service.second);
    return arranged;
}

class ServiceManagerModel : public ::testing::Test {
protected:
    void SetUp() override { scm = ServiceRecord(); }
    const std::wstring starter = L"C:\\Program Files (x86)\\Tarvex ActiveX\\TarvexRegisterAtRestart.exe";
    ApiOverride<decltype(RestartService::api.OpenSCManagerW)> manager_{RestartService::api.OpenSCManagerW, OpenManager};
    ApiOverride<decltype(RestartService::api.CreateServiceW)> create_{RestartService::api.CreateServiceW, Create};
    ApiOverride<decltype(RestartService::api.OpenServiceW)> open_{RestartService::api.OpenServiceW, OpenOne};
    ApiOverride<decltype(RestartService::api.EnumServicesStatusW)> list_{RestartService::api.EnumServicesStatusW,
                                                                          Enumerate};
    ApiOverride<decltype(RestartService::api.QueryServiceConfigW)> query_{RestartService::api.QueryServiceConfigW,
                                                                          QueryConfig};
    ApiOverride<decltype(RestartService::api.ChangeServiceConfigW)> change_{RestartService::api.ChangeServiceConfigW,
                                                                            ChangeNothing};
    ApiOverride<decltype(RestartService::api.DeleteService)> remove_{RestartService::api.DeleteService, Delete};
    ApiOverride<decltype(RestartService::api.CloseServiceHandle)> close_{RestartService::api.CloseServiceHandle,
                                                                         CloseOne};
    ApiOverride<decltype(RestartService::api.GetFileAttributesW)> file_{RestartService::api.GetFileAttributesW,
                                                                        StarterAttributes};
};
}  // namespace

// Each arrangement is a service made anew, with nothing an earlier one had:
// the earlier ones are deleted first, whatever their fields.
TEST_F(ServiceManagerModel, OneAutoStartLocalSystemServiceWhoseQuotedBinaryLiesWhereTheStarterIs) {
    const RestartService::Cancelled none = RestartService::Cancel();
    EXPECT_EQ(none.error, 0u) << "nothing arranged is nothing to take away";
    EXPECT_FALSE(none.wasArranged);
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    ASSERT_EQ(Arranged().size(), 1u);
    const Service first = Arranged()[0];
    EXPECT_EQ(first.binary, L"\"" + starter + L"\"") << "unquoted, C:\\Program.exe would run as SYSTEM";
    EXPECT_EQ(first.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(first.start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_FALSE(first.accountNamed) << "no account: LocalSystem";
    scm.services[RestartService::kServiceNamePrefix] = {L"\"C:\\Old\\starter.exe\""};  // an earlier release's
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    EXPECT_EQ(scm.created, 2) << "a second arrangement is a service made anew";
    ASSERT_EQ(Arranged().size(), 1u) << "... and the only one";
    EXPECT_EQ(Arranged()[0].binary, L"\"" + starter + L"\"");
    EXPECT_EQ(scm.services.begin()->first.rfind(std::wstring(RestartService::kServiceNamePrefix) + L"-", 0), 0u);
    const RestartService::Cancelled cancelled = RestartService::Cancel();
    EXPECT_EQ(cancelled.error, 0u);
    EXPECT_TRUE(cancelled.wasArranged);
    EXPECT_TRUE(scm.services.empty());
}

// Anyone may open a service for its status and hold it open, which keeps a
// deleted one marked for deletion: that one no longer starts, and can't
// keep the next arrangement from being made.
TEST_F(ServiceManagerModel, AnEarlierArrangementHeldOpenCantBlockTheNext) {
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    scm.services.begin()->second.heldOpen = true;
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    EXPECT_EQ(Arranged().size(), 1u);
    EXPECT_EQ(scm.services.size(), 2u) << "the one held open is marked for deletion";
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u) << "... and marked again is no error";
    EXPECT_EQ(RestartService::Cancel().error, 0u);
    EXPECT_TRUE(Arranged().empty());
}

// The rollbacks' rule, with no record of what came before: arranged exactly
// while a rename onto the control waits for the restart; one there for the
// starter stays (its file may be back only after the rollback, as Wine's
// rollback never brings it back), one marked for deletion is made anew.
TEST_F(ServiceManagerModel, RollbacksArrangeExactlyWhileARenameOntoTheControlWaits) {
    ApiOverride<decltype(PendingRename::api.RegOpenKeyExW)> openRenames(PendingRename::api.RegOpenKeyExW,
                                                                        OpenSessionManager);
    ApiOverride<decltype(PendingRename::api.RegQueryValueExW)> queryRenames(PendingRename::api.RegQueryValueExW,
                                                                            QueryRenames);
    ApiOverride<decltype(PendingRename::api.RegCloseKey)> closeRenames(PendingRename::api.RegCloseKey,
                                                                       CloseSessionManager);
    using namespace std::string_literals;
    const std::wstring control = L"C:\\W\\TVex.DLL";
    for (const bool pending : {true, false}) {
        for (const bool arrangedBefore : {true, false}) {
            scm = ServiceRecord();
            if (arrangedBefore) scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starter + L"\""};
            renames = pending ? L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s : L""s, renames2.clear(), growth.clear();
            const RestartService::Matched matched = RestartService::MatchPendingRename(control, starter);
            EXPECT_EQ(matched.error, 0u);
            EXPECT_EQ(matched.arranged, pending);
            EXPECT_EQ(Arranged().size(), pending ? 1u : 0u) << "pending " << pending << ", arranged before " << arrangedBefore;
            EXPECT_EQ(scm.created, pending && !arrangedBefore ? 1 : 0);
        }
    }
    scm = ServiceRecord();
    scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starter + L"\""};
    scm.services.begin()->second.heldOpen = scm.services.begin()->second.marked = true;
    renames = L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s;
    EXPECT_EQ(RestartService::MatchPendingRename(control, starter).error, 0u);
    EXPECT_EQ(Arranged().size(), 1u) << "one that will never run is no arrangement";
}

namespace {
// The security descriptor that every path has, as SDDL; a read error instead where set.
std::wstring descriptorText;
DWORD descriptorError = 0;
DWORD WINAPI DescriptorOf(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL* dacl, PACL*,
                          PSECURITY_DESCRIPTOR* descriptor) {
    if (descriptorError) return descriptorError;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1, descriptor,
                                                                nullptr))
        return ::GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    if (!present) *dacl = nullptr;  // a NULL DACL: all access to everyone
    return ERROR_SUCCESS;
}
// This process's own account as SDDL names it.
std::wstring OwnSid() {
    const ProcessAccount::User own;
    LPWSTR text = nullptr;
    if (own.sid()) ::ConvertSidToStringSidW(own.sid(), &text);
    const std::wstring sid = text ? text : L"";
    ::LocalFree(text);
    return sid;
}
}  // namespace

// What may run as SYSTEM: only a file and folder that the trusted accounts
// alone may change, and own. (Wine gives every path the one descriptor of
// the running account's; NTFS ACLs show on Windows alone.)
TEST(FolderTrust, OnlyTheTrustedAccountsMayChangeWhatRunsAsSystem) {
    ApiOverride<decltype(FolderTrust::api.GetNamedSecurityInfoW)> read(FolderTrust::api.GetNamedSecurityInfoW,
                                                                       DescriptorOf);
    const std::wstring own = OwnSid();
    const std::wstring installer = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const struct {
        std::wstring sddl;
        DWORD error;
        std::vector<std::wstring> said;  // empty: trusted
    } cases[] = {
        {L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", 0, {}},  // Program Files
        {L"O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICIIO;GW;;;BU)(D;;FA;;;WD)", 0, {}},  // inherit-only, deny
        {L"O:" + installer + L"D:(A;;FA;;;" + installer + L")(A;;FA;;;SY)", 0, {}},
        {L"O:" + own + L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + own + L")(A;OICI;0x1200a9;;;WD)", 0, {}},  // Wine's
        {L"O:BAD:(A;;FA;;;SY)(A;OICI;0x1301bf;;;BU)", 0, {L"Users", L"FILE_WRITE_DATA", L"DELETE"}},
        {L"O:BAD:(A;;FA;;;SY)(A;;0x40;;;AU)", 0, {L"Authenticated Users", L"(FILE_DELETE_CHILD)"}},
        {L"O:BAD:(A;;FA;;;SY)(A;;WD;;;WD)", 0, {L"Everyone", L"(WRITE_DAC)"}},
        {L"O:BUD:(A;;FA;;;SY)", 0, {L"is owned by", L"Users"}},
        {L"O:BA", 0, {L"has no DACL"}},
        {L"", ERROR_ACCESS_DENIED, {L"can't be read (error 5)"}},
        {L"", ERROR_FILE_NOT_FOUND, {}},  // nothing there to distrust: its start fails and says why
    };
    for (const auto& c : cases) {
        descriptorText = c.sddl, descriptorError = c.error;
        const std::wstring refusal = FolderTrust::Refusal(L"C:\\Tarvex\\TarvexActiveXInstaller.exe");
        EXPECT_EQ(refusal.empty(), c.said.empty()) << c.sddl << ": " << refusal;
        for (const std::wstring& part : c.said) EXPECT_NE(refusal.find(part), std::wstring::npos) << refusal;
    }
    descriptorError = 0;
}

// What runs as SYSTEM at the next start is arranged only for a starter that
// is there and that the trusted accounts alone may change.
TEST_F(ServiceManagerModel, AStarterThatIsMissingOrThatUsersCouldChangeIsNotArranged) {
    scm.starterMissing = true;
    RestartService::Arranged arranged = RestartService::Arrange(starter);
    EXPECT_NE(arranged.error, 0u);
    EXPECT_NE(arranged.refusal.find(L"no such file"), std::wstring::npos) << arranged.refusal;
    scm.starterMissing = false;
    ApiOverride<decltype(FolderTrust::api.GetNamedSecurityInfoW)> read(FolderTrust::api.GetNamedSecurityInfoW,
                                                                       DescriptorOf);
    descriptorText = L"O:BAD:(A;;FA;;;SY)(A;OICI;0x1301bf;;;BU)", descriptorError = 0;
    arranged = RestartService::Arrange(starter);
    EXPECT_NE(arranged.error, 0u);
    EXPECT_NE(arranged.refusal.find(L"Users"), std::wstring::npos) << arranged.refusal;
    EXPECT_TRUE(scm.services.empty());
}

namespace {
// The service control manager's side of the starter: how the service stopped and the events it wrote.
std::vector<DWORD> stopCodes;
std::vector<std::pair<WORD, std::wstring>> starterEvents;
std::wstring starterPath;
DWORD exitCodeGiven = 0;
BOOL WINAPI Dispatch(const SERVICE_TABLE_ENTRYW* services) {
    services[0].lpServiceProc(0, nullptr);
    return TRUE;
}
SERVICE_STATUS_HANDLE WINAPI RegisterHandler(LPCWSTR, LPHANDLER_FUNCTION) {
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x51);
}
BOOL WINAPI Status(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    if (status->dwCurrentState == SERVICE_STOPPED) stopCodes.push_back(status->dwWin32ExitCode);
    return TRUE;
}
DWORD WINAPI StarterFile(HMODULE, LPWSTR path, DWORD size) {
    return static_cast<DWORD>(starterPath.copy(path, size - 1));
}
HANDLE WINAPI EventSource(LPCWSTR, LPCWSTR) { return reinterpret_cast<HANDLE>(0xE5); }
BOOL WINAPI StarterEvent(HANDLE, WORD type, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR* strings, LPVOID) {
    starterEvents.emplace_back(type, strings[0]);
    return TRUE;
}
BOOL WINAPI NoEventSource(HANDLE) { return TRUE; }
BOOL WINAPI GivenExitCode(HANDLE, LPDWORD code) {
    *code = exitCodeGiven;
    return TRUE;
}
DWORD overdueTicks = 0;
DWORD WINAPI Overdue() { return overdueTicks += 11 * 60000; }
}  // namespace

// The starter stops with an exit code that the Service Control Manager logs
// (event 7023 with the code's text): the program's failure, its time-out,
// or why it could not start; its event says the same, and the service goes.
TEST_F(ServiceManagerModel, TheStarterStopsWithTheRunsOwnErrorAndGoes) {
    ApiOverride<decltype(RestartStarter::api.StartServiceCtrlDispatcherW)> dispatch(
        RestartStarter::api.StartServiceCtrlDispatcherW, Dispatch);
    ApiOverride<decltype(RestartStarter::api.RegisterServiceCtrlHandlerW)> handler(
        RestartStarter::api.RegisterServiceCtrlHandlerW, RegisterHandler);
    ApiOverride<decltype(RestartStarter::api.SetServiceStatus)> status(RestartStarter::api.SetServiceStatus, Status);
    ApiOverride<decltype(RestartStarter::api.GetModuleFileNameW)> file(RestartStarter::api.GetModuleFileNameW,
                                                                       StarterFile);
    ApiOverride<decltype(RestartStarter::api.RegisterEventSourceW)> source(RestartStarter::api.RegisterEventSourceW,
                                                                           EventSource);
    ApiOverride<decltype(RestartStarter::api.ReportEventW)> report(RestartStarter::api.ReportEventW, StarterEvent);
    ApiOverride<decltype(RestartStarter::api.DeregisterEventSource)> release(
        RestartStarter::api.DeregisterEventSource, NoEventSource);
    ApiOverride<decltype(ChildProcess::api.GetExitCodeProcess)> code(ChildProcess::api.GetExitCodeProcess,
                                                                     GivenExitCode);
    // A folder of this run's own, in its prefix's temporary folder: the suites of
    // both prefixes run side by side from one build folder.
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring folder =
        temp + (L"tvx_starter_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount()));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << "error " << ::GetLastError();
    starterPath = folder + L"\\TarvexRegisterAtRestart.exe";
    const std::wstring program = folder + L"\\TarvexActiveXInstaller.exe";
    ::DeleteFileW(program.c_str());
    const struct {
        bool present;
        DWORD exitCode;
        bool overdue;
        DWORD stopCode;
    } cases[] = {{false, 0, false, ERROR_FILE_NOT_FOUND},
                 {true, 0, false, NO_ERROR},
                 {true, 1, false, ERROR_INSTALL_FAILURE},
                 {true, 0, true, ERROR_TIMEOUT}};
    for (const auto& c : cases) {
        if (c.present) ::CopyFileW((TestProgramFolder() + L"exit_with_code.exe").c_str(), program.c_str(), FALSE);
        stopCodes.clear(), starterEvents.clear(), exitCodeGiven = c.exitCode, overdueTicks = 0;
        scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starterPath + L"\""};
        {
            ApiOverride<decltype(ChildProcess::api.GetTickCount)> ticks(
                ChildProcess::api.GetTickCount, c.overdue ? Overdue : ChildProcess::api.GetTickCount);
            EXPECT_EQ(RestartStarter::RunAsService(), 0);
        }
        EXPECT_EQ(stopCodes, std::vector<DWORD>{c.stopCode}) << "exit code " << c.exitCode;
        ASSERT_EQ(starterEvents.size(), 1u);
        EXPECT_EQ(starterEvents[0].first, c.stopCode ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE)
            << starterEvents[0].second;
        EXPECT_TRUE(scm.services.empty()) << "the service goes, whatever came of the run";
    }
    ::DeleteFileW(program.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST(RestartStarter, ALongEventKeepsTheOutcomeAndTheLogsEndAndSaysItWasCut) {
    const std::wstring outcome = L"Registration after the restart: TarvexActiveXInstaller.exe ended with exit code 1.";
    std::wstring log;
    for (int i = 0; log.size() < 40000; ++i) log += L"10.12.2026 11:22:33: entry " + std::to_wstring(i) + L"\r\n";
    const std::wstring text = RestartStarter::EventText(outcome, log);
    EXPECT_EQ(text.size(), RestartStarter::kEventTextLimit);
    EXPECT_EQ(text.rfind(outcome, 0), 0u);
    EXPECT_NE(text.find(L"cut"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 200), log.substr(log.size() - 200)) << "the log's end, where it failed";
    EXPECT_EQ(RestartStarter::EventText(outcome, L"short\r\n"), outcome + L"\r\nshort\r\n");
}
