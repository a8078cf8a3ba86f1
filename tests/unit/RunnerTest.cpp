// Running programs as SYSTEM: the program run with its output piped (on a
// model of a child and, for real, on small programs), its station, its
// environment, and the rule for what may run as SYSTEM.
#include "ApiOverride.h"
#include "TestFiles.h"
#include "DescriptorModel.h"
#include "packaging/runner/ChildProcess.h"
#include "packaging/runner/Confinement.h"
#include "packaging/runner/FolderTrust.h"
#include "packaging/runner/RunEnvironment.h"

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
