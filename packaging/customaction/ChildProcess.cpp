#include "ChildProcess.h"

#include "Confinement.h"
#include "common/NumberText.h"
#include "common/UniqueResource.h"
#include "common/Utf8Text.h"

namespace ChildProcess {

Api api = {
    ::CreatePipe,         ::SetHandleInformation, ::CreateProcessW,     ::ResumeThread,
    ::PeekNamedPipe,      ::ReadFile,             ::WaitForSingleObject, ::GetExitCodeProcess,
    ::TerminateProcess,   ::CloseHandle,          ::GetTickCount,        ::GetStdHandle,
};

namespace {

struct HandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { api.CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;

constexpr DWORD kPipeBytes = 64 * 1024;
constexpr DWORD kPollMs = 50;
// The most read in one turn before the child's state and the time are looked at again.
constexpr DWORD kTurnBytes = 64 * 1024;
// Ending a process is asynchronous; it is normally gone at once.
constexpr DWORD kTerminationWaitMs = 5000;

// Cuts the bytes that arrive into lines: LF ends one, a CR before it goes.
class LineSplitter {
public:
    explicit LineSplitter(const LineHandler& onLine) : onLine_(onLine) {}
    void Add(const char* bytes, DWORD count) {
        for (DWORD i = 0; i < count; ++i) {
            if (bytes[i] != '\n') {
                pending_ += bytes[i];
                continue;
            }
            Emit();
        }
    }
    // A last line without its line break.
    void Finish() {
        if (!pending_.empty()) Emit();
    }

private:
    void Emit() {
        if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
        onLine_(FromUtf8(pending_));
        pending_.clear();
    }
    const LineHandler& onLine_;
    std::string pending_;
};

// Tick counts wrap after 49 days; their difference stays right.
class Deadline {
public:
    explicit Deadline(DWORD limitMs) : started_(api.GetTickCount()), limitMs_(limitMs) {}
    bool Passed() const { return api.GetTickCount() - started_ >= limitMs_; }

private:
    DWORD started_, limitMs_;
};

// The started child: its process and its first thread, which waits
// (suspended) until the child is in its job.
struct Child {
    UniqueHandle process, thread;
};

// Reads what the pipe holds now, never waiting for more, and at most
// kTurnBytes: a child that writes faster than its lines are handled can't
// keep the caller past its deadline, which is asked after every read.
void Drain(HANDLE pipe, LineSplitter& lines, const Deadline& deadline) {
    char buffer[4096];
    for (DWORD taken = 0; taken < kTurnBytes && !deadline.Passed();) {
        DWORD available = 0;
        if (!api.PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        DWORD read = 0;
        const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!api.ReadFile(pipe, buffer, wanted, &read, nullptr) || read == 0) return;
        lines.Add(buffer, read);
        taken += read;
    }
}

// CreateProcessW may write to the command line it is given.
BOOL Create(const std::wstring& commandLine, DWORD flags, const std::wstring& directory, STARTUPINFOW& startup,
            PROCESS_INFORMATION& started) {
    std::wstring writable = commandLine;
    return api.CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, flags, nullptr,
                              directory.empty() ? nullptr : directory.c_str(), &startup, &started);
}

// The child gets the pipe's write end as its standard output, and no other
// handle of ours: the read end is not inheritable. Its standard error is
// ours, where whatever it says beside its records goes (Wine's diagnostics,
// say). It starts suspended, out of any job we are in where that job lets it
// go (Windows 7 and earlier nest no jobs), with the quiet error mode.
// Returns 0, or the system's error when it can't be started.
DWORD Start(const std::wstring& commandLine, const std::wstring& directory, const std::wstring& desktop,
            HANDLE writeEnd, Child& child) {
    std::wstring desktopName = desktop;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = api.GetStdHandle(STD_ERROR_HANDLE);
    startup.lpDesktop = desktopName.empty() ? nullptr : &desktopName[0];
    PROCESS_INFORMATION started = {};
    const Confinement::QuietErrorMode quiet;
    BOOL created = Create(commandLine, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, directory, startup, started);
    if (!created && GetLastError() == ERROR_ACCESS_DENIED)
        created = Create(commandLine, CREATE_SUSPENDED, directory, startup, started);
    if (!created) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_INVALID_FUNCTION;
    }
    child.process.reset(started.hProcess);
    child.thread.reset(started.hThread);
    return 0;
}

// Ends the child, and in its job everything it started.
void EndAll(HANDLE process, Confinement::KillingJob& job, UINT exitCode) {
    if (job.Holds()) job.Terminate(exitCode);
    else api.TerminateProcess(process, exitCode);
    api.WaitForSingleObject(process, kTerminationWaitMs);
}

// Polls until the process has ended or outlived limitMs, reading its output all along.
Outcome AwaitEnd(HANDLE process, Confinement::KillingJob& job, HANDLE pipe, DWORD limitMs, LineSplitter& lines) {
    const Deadline deadline(limitMs);
    for (;;) {
        Drain(pipe, lines, deadline);
        if (deadline.Passed()) {
            EndAll(process, job, ERROR_TIMEOUT);
            return {End::TimedOut, ERROR_TIMEOUT, {}};
        }
        const DWORD state = api.WaitForSingleObject(process, kPollMs);
        if (state == WAIT_OBJECT_0) break;
        if (state != WAIT_TIMEOUT) return {End::CodeUnknown, 0, {}};
    }
    // Everything it wrote before it ended is in the pipe now.
    Drain(pipe, lines, deadline);
    DWORD code = 0;
    if (!api.GetExitCodeProcess(process, &code)) return {End::CodeUnknown, 0, {}};
    return {End::Exited, code, {}};
}

std::wstring Note(const wchar_t* what, DWORD error) {
    return what + std::wstring(L" (error ") + DecimalText(static_cast<long>(error)) + L")";
}

}  // namespace

Outcome RunCollectingLines(const std::wstring& commandLine, DWORD limitMs, const LineHandler& onLine,
                           const std::wstring& currentDirectory) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!api.CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, kPipeBytes))
        return {End::NotStarted, GetLastError(), {}};
    api.SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    std::vector<std::wstring> notes;
    const Confinement::PrivateDesktop desktop;
    if (desktop.error())
        notes.push_back(Note(L"no window station of its own could be made: it runs on this process's", desktop.error()));
    Confinement::KillingJob job;
    Child child;
    if (const DWORD error = Start(commandLine, currentDirectory, desktop.path(), writeEnd.get(), child))
        return {End::NotStarted, error, notes};
    if (const DWORD error = job.Assign(child.process.get()))
        notes.push_back(Note(L"it runs outside a job of its own: what it starts may outlive the run", error));
    api.ResumeThread(child.thread.get());
    writeEnd.reset();  // the child's copy is the only one left
    LineSplitter lines(onLine);
    Outcome outcome{};
    try {
        outcome = AwaitEnd(child.process.get(), job, readEnd.get(), limitMs, lines);
        lines.Finish();
    } catch (...) {
        EndAll(child.process.get(), job, ERROR_CANCELLED);
        throw;
    }
    // Closing the job ends whatever the child left running.
    outcome.notes = std::move(notes);
    return outcome;
}

}  // namespace ChildProcess
