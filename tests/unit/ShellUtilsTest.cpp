#include "common/modCommonShellUtils.h"

#include "common/RuntimeError.h"

#include "ApiOverride.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

using modCommonShellUtils::api;
using modCommonShellUtils::kExitCodeUnknown;
using modCommonShellUtils::ShellAndWait;

namespace {

constexpr long kMinimizedNoFocus = 6;
constexpr int kPollLimit = 300;  // 30 s: far beyond any child of these tests

int polls = 0;

// The real pause, counted; a wait that would never end is broken off by an
// exception that the test reports, instead of hanging the suite.
void WINAPI CountedSleep(DWORD milliseconds) {
    if (++polls > kPollLimit) throw std::runtime_error("ShellAndWait still waiting after 300 polls");
    ::Sleep(milliseconds);
}

// What process creation was asked for and what it handed out.
struct StartRecord {
    int starts = 0;
    DWORD flags = 0;
    WORD showWindow = 0;
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    std::vector<HANDLE> closed;
};
StartRecord record;

BOOL WINAPI FailingCreate(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                          LPCWSTR, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) {
    ++record.starts;
    record.flags = startup->dwFlags;
    record.showWindow = startup->wShowWindow;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

DWORD failureToReport = 0;

BOOL WINAPI CreateFailingWith(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                              LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    SetLastError(failureToReport);
    return FALSE;
}

// Starts the process for real and returns only once it has ended.
BOOL WINAPI CreateAndAwaitEnd(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                              LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
    const BOOL created = ::CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                          environment, directory, startup, started);
    if (created) {
        record.process = started->hProcess;
        record.thread = started->hThread;
        if (::WaitForSingleObject(started->hProcess, 10000) != WAIT_OBJECT_0) ADD_FAILURE() << "child did not end";
    }
    return created;
}

// Starts the process for real and keeps a handle of the test's own to it.
BOOL WINAPI CreateAndKeepHandle(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION started) {
    const BOOL created = ::CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                          environment, directory, startup, started);
    if (created)
        ::DuplicateHandle(::GetCurrentProcess(), started->hProcess, ::GetCurrentProcess(), &record.process,
                          SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, 0);
    return created;
}

BOOL WINAPI RecordingClose(HANDLE handle) {
    record.closed.push_back(handle);
    return ::CloseHandle(handle);
}

BOOL WINAPI UnreadableExitCode(HANDLE, LPDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

DWORD WINAPI FailedWait(HANDLE, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

int appMessages = 0;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++appMessages;
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// The command line of our child process that ends with `arguments` = "CODE [DELAY_MS]".
std::wstring ChildCommand(const std::wstring& arguments) {
    return L"\"" + TestProgramFolder() + L"exit_with_code.exe\" " + arguments;
}

// The number of the run-time error that the call raises, 0 when it raises none.
long ErrorRaisedBy(const std::wstring& commandLine, long windowStyle = kMinimizedNoFocus) {
    try {
        ShellAndWait(commandLine, windowStyle);
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

class ShellAndWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        polls = 0;
        record = StartRecord();
    }

    // Milliseconds that ShellAndWait took, its result in `exitCode`.
    static long long TimedRun(const std::wstring& commandLine, long& exitCode) {
        const auto start = std::chrono::steady_clock::now();
        exitCode = ShellAndWait(commandLine, kMinimizedNoFocus);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    }

    ApiOverride<decltype(api.Sleep)> sleep_{api.Sleep, CountedSleep};
};

}  // namespace

TEST_F(ShellAndWaitTest, ReturnsTheChildsExitCodeIncluding259AndNegativeCodes) {
    EXPECT_EQ(ShellAndWait(ChildCommand(L"3"), kMinimizedNoFocus), 3);
    EXPECT_EQ(ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus), 0);
    EXPECT_EQ(ShellAndWait(ChildCommand(L"259"), kMinimizedNoFocus), 259) << "STILL_ACTIVE as a real exit code";
    EXPECT_EQ(ShellAndWait(ChildCommand(L"-1073741819"), kMinimizedNoFocus), -1073741819L);
}

TEST_F(ShellAndWaitTest, ChildThatEndsAtOnceStillTakesOnePause) {
    long exitCode = -1;
    const long long elapsed = TimedRun(ChildCommand(L"3"), exitCode);
    EXPECT_EQ(exitCode, 3);
    EXPECT_GE(elapsed, 100);
    EXPECT_LT(elapsed, 10000);
}

TEST_F(ShellAndWaitTest, ProcessThatEndedBeforeTheWaitStillGivesItsCodeAfterOnePause) {
    ApiOverride create(api.CreateProcessW, CreateAndAwaitEnd);
    long exitCode = -1;
    const long long elapsed = TimedRun(ChildCommand(L"3"), exitCode);
    EXPECT_EQ(exitCode, 3);
    EXPECT_GE(elapsed, 100);
    EXPECT_EQ(polls, 1);
}

TEST_F(ShellAndWaitTest, WaitsForAChildThatOutlivesSeveralPolls) {
    long exitCode = -1;
    const long long elapsed = TimedRun(ChildCommand(L"7 700"), exitCode);
    EXPECT_EQ(exitCode, 7);
    EXPECT_GE(elapsed, 700);
    // A pause of 100 ms lasts longer on a busy machine: the count says that it
    // polled again and again, the time that it waited for the child.
    EXPECT_GE(polls, 2);
}

TEST_F(ShellAndWaitTest, ChildThatOutlivesItsLimitIsEndedWithTheTimeOutCode) {
    ApiOverride create(api.CreateProcessW, CreateAndKeepHandle);
    const modCommonShellUtils::WaitOutcome outcome =
        modCommonShellUtils::ShellAndWaitAtMost(ChildCommand(L"0 600000"), kMinimizedNoFocus, 1000);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, 1460);
    ASSERT_NE(record.process, nullptr);
    EXPECT_EQ(::WaitForSingleObject(record.process, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "the child is gone";
    DWORD exitCode = 0;
    EXPECT_TRUE(::GetExitCodeProcess(record.process, &exitCode));
    EXPECT_EQ(exitCode, 1460u);
    ::TerminateProcess(record.process, 1);  // should the child still run, it must not outlive the test
    ::CloseHandle(record.process);

    const modCommonShellUtils::WaitOutcome inTime =
        modCommonShellUtils::ShellAndWaitAtMost(ChildCommand(L"7 200"), kMinimizedNoFocus, 5000);
    EXPECT_FALSE(inTime.timedOut);
    EXPECT_EQ(inTime.exitCode, 7);
}

TEST_F(ShellAndWaitTest, ClosesTheThreadAndProcessHandlesOnce) {
    ApiOverride create(api.CreateProcessW, CreateAndAwaitEnd);
    ApiOverride close(api.CloseHandle, RecordingClose);
    ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus);
    EXPECT_EQ(record.closed, (std::vector<HANDLE>{record.thread, record.process}));

    record.closed.clear();
    ApiOverride exitCode(api.GetExitCodeProcess, UnreadableExitCode);
    ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus);
    EXPECT_EQ(record.closed, (std::vector<HANDLE>{record.thread, record.process})) << "when the code is unreadable";
}

TEST_F(ShellAndWaitTest, ExitCodeThatCantBeReadIsNeverSuccess) {
    {
        ApiOverride exitCode(api.GetExitCodeProcess, UnreadableExitCode);
        EXPECT_EQ(ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus), kExitCodeUnknown);
    }
    ApiOverride wait(api.WaitForSingleObject, FailedWait);
    polls = 0;  // the run above polled until its child ended: once when idle, more under load
    EXPECT_EQ(ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus), kExitCodeUnknown);
    EXPECT_EQ(polls, 1) << "a failed wait ends the wait";
    EXPECT_NE(kExitCodeUnknown, 0);
}

TEST_F(ShellAndWaitTest, HandlesThisThreadsWindowMessagesWhileWaiting) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TvxShellAndWaitTest";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    appMessages = 0;
    PostMessageW(window, WM_APP, 0, 0);

    ShellAndWait(ChildCommand(L"0"), kMinimizedNoFocus);
    EXPECT_EQ(appMessages, 1);

    DestroyWindow(window);
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
}

TEST_F(ShellAndWaitTest, StartFailuresRaiseTheirRunTimeErrors) {
    EXPECT_EQ(ErrorRaisedBy(L"\"" + TestProgramFolder() + L"no_such_program.exe\" /s"), kErrFileNotFound);
    EXPECT_EQ(ErrorRaisedBy(ChildCommand(L"3") + std::wstring(1, L'\0') + L" 4"), kErrInvalidCall)
        << "NUL inside the command line";

    ApiOverride create(api.CreateProcessW, CreateFailingWith);
    const struct {
        DWORD error;
        long number;
    } failures[] = {{ERROR_FILE_NOT_FOUND, kErrFileNotFound},
                    {ERROR_PATH_NOT_FOUND, kErrPathNotFound},
                    {ERROR_ACCESS_DENIED, kErrPermissionDenied},
                    {ERROR_BAD_EXE_FORMAT, kErrInvalidCall},
                    {ERROR_NOT_ENOUGH_MEMORY, kErrInvalidCall}};
    for (const auto& failure : failures) {
        failureToReport = failure.error;
        EXPECT_EQ(ErrorRaisedBy(L"program.exe"), failure.number) << "system error " << failure.error;
    }
}

TEST_F(ShellAndWaitTest, WindowStyleCodesBecomeShowCommandsAndOthersRaiseError5) {
    ApiOverride create(api.CreateProcessW, FailingCreate);
    const struct {
        long style;
        WORD showCommand;
    } styles[] = {{0, SW_HIDE},          {1, SW_SHOWNORMAL},      {2, SW_SHOWMINIMIZED},
                  {3, SW_SHOWMAXIMIZED}, {4, SW_SHOWNOACTIVATE}, {6, SW_SHOWMINNOACTIVE}};
    for (const auto& style : styles) {
        record = StartRecord();
        EXPECT_EQ(ErrorRaisedBy(L"program.exe", style.style), kErrFileNotFound);
        EXPECT_EQ(record.flags, static_cast<DWORD>(STARTF_USESHOWWINDOW)) << "style " << style.style;
        EXPECT_EQ(record.showWindow, style.showCommand) << "style " << style.style;
    }

    record = StartRecord();
    for (long style : {5L, 7L, -1L}) EXPECT_EQ(ErrorRaisedBy(L"program.exe", style), kErrInvalidCall) << style;
    EXPECT_EQ(record.starts, 0) << "nothing is started with an unknown style";
}
