#include "ChildProcess.h"

#include "Confinement.h"
#include "RunEnvironment.h"
#include "shared/EntryPoint.h"
#include "shared/NumberText.h"
#include "shared/UniqueResource.h"
#include "shared/Utf8Text.h"

namespace ChildProcess {

Api api = {
    ::CreatePipe,         ::SetHandleInformation, ::CreateProcessW,         ::ResumeThread,
    ::PeekNamedPipe,      ::ReadFile,             ::WaitForSingleObject,    ::GetExitCodeProcess,
    ::TerminateProcess,   ::CloseHandle,          ::GetTickCount,           ::GetStdHandle,
    ::DuplicateHandle,    ::GetEnvironmentStringsW, ::FreeEnvironmentStringsW, ::GetModuleHandleW,
    ::GetProcAddress,
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
// How often the caller is asked whether the run is cancelled.
constexpr DWORD kCancelPollMs = 1000;
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

// STARTUPINFOEXW and the handle list of Vista's process attributes, which
// the headers for XP leave out.
constexpr DWORD_PTR kHandleListAttribute = 0x20002;  // PROC_THREAD_ATTRIBUTE_HANDLE_LIST
struct StartupInfoEx {
    STARTUPINFOW StartupInfo;
    void* lpAttributeList;
};
using InitializeListFn = BOOL(WINAPI*)(void*, DWORD, DWORD, SIZE_T*);
using UpdateListFn = BOOL(WINAPI*)(void*, DWORD, DWORD_PTR, void*, SIZE_T, void*, SIZE_T*);
using DeleteListFn = void(WINAPI*)(void*);

// The handles a child may inherit, exactly these, where Windows can say so
// (a handle list, from Vista on); on XP every inheritable handle of ours
// goes along, as Windows allows nothing else there.
class InheritOnly {
public:
    InheritOnly(HANDLE first, HANDLE second) : handles_{first, second} {
        const HMODULE kernel = api.GetModuleHandleW(L"kernel32.dll");
        const auto initialize =
            EntryPointAs<InitializeListFn>(api.GetProcAddress(kernel, "InitializeProcThreadAttributeList"));
        const auto update = EntryPointAs<UpdateListFn>(api.GetProcAddress(kernel, "UpdateProcThreadAttribute"));
        remove_ = EntryPointAs<DeleteListFn>(api.GetProcAddress(kernel, "DeleteProcThreadAttributeList"));
        if (!initialize || !update || !remove_) return;
        SIZE_T size = 0;
        initialize(nullptr, 1, 0, &size);
        storage_.resize(size);
        if (!size || !initialize(storage_.data(), 1, 0, &size)) return;
        if (!update(storage_.data(), 0, kHandleListAttribute, handles_, (handles_[1] ? 2 : 1) * sizeof(HANDLE), nullptr,
                    nullptr)) {
            remove_(storage_.data());
            return;
        }
        list_ = storage_.data();
    }
    ~InheritOnly() {
        if (list_) remove_(list_);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    // The attribute list for STARTUPINFOEXW; nullptr where there is none.
    void* list() const { return list_; }

private:
    HANDLE handles_[2];
    std::vector<char> storage_;
    void* list_ = nullptr;
    DeleteListFn remove_ = nullptr;
};

// CreateProcessW may write to the command line it is given.
BOOL Create(const std::wstring& commandLine, DWORD flags, const std::wstring& directory, const std::wstring& environment,
            StartupInfoEx& startup, PROCESS_INFORMATION& started) {
    std::wstring writable = commandLine;
    if (startup.lpAttributeList) flags |= EXTENDED_STARTUPINFO_PRESENT;
    return api.CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, flags | CREATE_UNICODE_ENVIRONMENT,
                              const_cast<wchar_t*>(environment.c_str()), directory.empty() ? nullptr : directory.c_str(),
                              &startup.StartupInfo, &started);
}

// Our standard error, as a copy that the child may inherit; none where we have none.
UniqueHandle InheritableStandardError() {
    const HANDLE ours = api.GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (!ours || ours == INVALID_HANDLE_VALUE ||
        !api.DuplicateHandle(::GetCurrentProcess(), ours, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return UniqueHandle();
    return UniqueHandle(copy);
}

struct EnvironmentTraits {
    static wchar_t* invalid() noexcept { return nullptr; }
    static void close(wchar_t* block) noexcept { api.FreeEnvironmentStringsW(block); }
};

// Windows Installer's environment, but for PATH, TEMP and TMP.
std::wstring ChildEnvironment(const std::wstring& temp) {
    const UniqueResource<wchar_t*, EnvironmentTraits> ours(api.GetEnvironmentStringsW());
    return RunEnvironment::WithSystemPaths(ours.get(), RunEnvironment::SystemPath(), temp);
}

// The child gets the pipe's write end as its standard output and a copy of
// our standard error (where whatever it says beside its records goes: Wine's
// diagnostics, say), and no other handle of ours: the read end is not
// inheritable, and where Windows has a handle list, it names these two
// alone. It starts suspended, out of any job we are in where that job lets it
// go (Windows 7 and earlier nest no jobs), with the quiet error mode, in
// the environment given. Returns 0, or the system's error when it can't be started.
DWORD Start(const std::wstring& commandLine, const std::wstring& directory, const std::wstring& desktop,
            const std::wstring& environment, HANDLE writeEnd, Child& child) {
    std::wstring desktopName = desktop;
    const UniqueHandle standardError = InheritableStandardError();
    const InheritOnly inherited(writeEnd, standardError.get());
    StartupInfoEx startup = {};
    startup.StartupInfo.cb = inherited.list() ? sizeof startup : sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = writeEnd;
    startup.StartupInfo.hStdError = standardError.get();
    startup.StartupInfo.lpDesktop = desktopName.empty() ? nullptr : &desktopName[0];
    startup.lpAttributeList = inherited.list();
    PROCESS_INFORMATION started = {};
    const Confinement::QuietErrorMode quiet;
    BOOL created =
        Create(commandLine, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, directory, environment, startup, started);
    if (!created && GetLastError() == ERROR_ACCESS_DENIED)
        created = Create(commandLine, CREATE_SUSPENDED, directory, environment, startup, started);
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

// Polls until the process has ended, outlived limitMs or was cancelled,
// reading its output all along.
Outcome AwaitEnd(HANDLE process, Confinement::KillingJob& job, HANDLE pipe, DWORD limitMs, LineSplitter& lines,
                 const CancelQuery& cancelRequested) {
    const Deadline deadline(limitMs);
    DWORD asked = api.GetTickCount() - kCancelPollMs;
    for (;;) {
        Drain(pipe, lines, deadline);
        if (deadline.Passed()) {
            EndAll(process, job, ERROR_TIMEOUT);
            return {End::TimedOut, ERROR_TIMEOUT, {}};
        }
        if (cancelRequested && api.GetTickCount() - asked >= kCancelPollMs) {
            asked = api.GetTickCount();
            if (cancelRequested()) {
                EndAll(process, job, ERROR_INSTALL_USEREXIT);
                return {End::Cancelled, ERROR_INSTALL_USEREXIT, {}};
            }
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
                           const std::wstring& currentDirectory, const CancelQuery& cancelRequested) {
    // Whatever would show it to a person, or hand it a folder that users may
    // write, keeps it from being started at all.
    const Confinement::PrivateDesktop desktop;
    if (desktop.error()) return {End::NotConfined, desktop.error(), {}, L"a window station of its own"};
    RunEnvironment::RunTemp temp;
    if (temp.error()) return {End::NotConfined, temp.error(), {}, L"a temporary folder of its own"};
    const std::wstring environment = ChildEnvironment(temp.path());
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!api.CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, kPipeBytes))
        return {End::NotStarted, GetLastError(), {}};
    api.SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    std::vector<std::wstring> notes;
    Confinement::KillingJob job;
    Child child;
    if (const DWORD error = Start(commandLine, currentDirectory, desktop.path(), environment, writeEnd.get(), child))
        return {End::NotStarted, error, notes};
    if (const DWORD error = job.Assign(child.process.get()))
        notes.push_back(Note(L"it runs outside a job of its own: what it starts may outlive the run", error));
    api.ResumeThread(child.thread.get());
    writeEnd.reset();  // the child's copy is the only one left
    LineSplitter lines(onLine);
    Outcome outcome{};
    try {
        outcome = AwaitEnd(child.process.get(), job, readEnd.get(), limitMs, lines, cancelRequested);
        lines.Finish();
    } catch (...) {
        EndAll(child.process.get(), job, ERROR_CANCELLED);
        throw;
    }
    // What the child left running ends with the job before its temporary
    // folder goes, so that nothing holds a file in it.
    if (outcome.end == End::Exited && job.Holds()) job.Terminate(ERROR_CANCELLED);
    const std::wstring tempPath = temp.path();
    if (const DWORD error = temp.Remove())
        notes.push_back(Note((L"its temporary folder " + tempPath + L" could not be removed").c_str(), error));
    outcome.notes = std::move(notes);
    return outcome;
}

}  // namespace ChildProcess
