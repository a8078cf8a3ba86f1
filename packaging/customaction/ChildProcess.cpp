#include "ChildProcess.h"

#include "common/UniqueResource.h"
#include "common/Utf8Text.h"

#include <vector>

namespace ChildProcess {

Api api = {
    ::CreatePipe,   ::SetHandleInformation, ::CreateProcessW,     ::PeekNamedPipe,   ::ReadFile,
    ::WaitForSingleObject, ::GetExitCodeProcess, ::TerminateProcess, ::CloseHandle, ::GetTickCount, ::GetStdHandle,
};

namespace {

struct HandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { api.CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;

constexpr DWORD kPipeBytes = 64 * 1024;
constexpr DWORD kPollMs = 50;
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

// Reads what the pipe holds now, never waiting for more.
void Drain(HANDLE pipe, LineSplitter& lines) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!api.PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        DWORD read = 0;
        const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!api.ReadFile(pipe, buffer, wanted, &read, nullptr) || read == 0) return;
        lines.Add(buffer, read);
    }
}

// The child gets the pipe's write end as its standard output, and no other
// handle of ours: the read end is not inheritable. Its standard error is
// ours, where whatever it says beside its records goes (Wine's diagnostics,
// say). Returns 0, or the system's error when it can't be started.
DWORD StartWithPipe(const std::wstring& commandLine, HANDLE writeEnd, UniqueHandle& process) {
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());  // CreateProcessW may write to it
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = api.GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    if (!api.CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_INVALID_FUNCTION;
    }
    process.reset(started.hProcess);
    UniqueHandle thread(started.hThread);
    return 0;
}

// Polls until the process has ended or outlived limitMs, reading its output
// all along. Tick counts wrap after 49 days; their difference stays right.
Outcome AwaitEnd(HANDLE process, HANDLE pipe, DWORD limitMs, LineSplitter& lines) {
    const DWORD started = api.GetTickCount();
    for (;;) {
        Drain(pipe, lines);
        const DWORD state = api.WaitForSingleObject(process, kPollMs);
        if (state == WAIT_OBJECT_0) break;
        if (state != WAIT_TIMEOUT) return {End::CodeUnknown, 0};
        if (api.GetTickCount() - started >= limitMs) {
            api.TerminateProcess(process, ERROR_TIMEOUT);
            api.WaitForSingleObject(process, kTerminationWaitMs);
            Drain(pipe, lines);
            return {End::TimedOut, ERROR_TIMEOUT};
        }
    }
    // Everything it wrote before it ended is in the pipe now.
    Drain(pipe, lines);
    DWORD code = 0;
    if (!api.GetExitCodeProcess(process, &code)) return {End::CodeUnknown, 0};
    return {End::Exited, code};
}

}  // namespace

Outcome RunCollectingLines(const std::wstring& commandLine, DWORD limitMs, const LineHandler& onLine) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!api.CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, kPipeBytes)) return {End::NotStarted, GetLastError()};
    api.SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle process;
    if (const DWORD error = StartWithPipe(commandLine, writeEnd.get(), process)) return {End::NotStarted, error};
    writeEnd.reset();  // the child's copy is the only one left
    LineSplitter lines(onLine);
    const Outcome outcome = AwaitEnd(process.get(), readEnd.get(), limitMs, lines);
    lines.Finish();
    return outcome;
}

}  // namespace ChildProcess
