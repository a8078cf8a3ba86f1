// Bench probe: measures, inside one Wine process, the parts of the installer's
// run time that a wall clock around "wine ..." can't separate.
//
//   probe                  ends at once: the floor of starting a 32-bit program
//   probe dlls             loads the system DLLs the installer imports beyond
//                          this probe's own and prints "dlls MS"
//   probe wait N CMDLINE   runs CMDLINE N times each way, alternating, and prints
//                          "handle MS" (waited for on its process handle) and
//                          "poll MS" (through the installer's ShellAndWait);
//                          a run with a non-zero exit code prints "exit CODE"
#include "common/RuntimeError.h"
#include "shared/UniqueResource.h"
#include "common/modCommonShellUtils.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kChildTimeoutMs = 60000;
constexpr long kMinimizedNoFocus = 6;  // the installer's window style for the tool

struct HandleTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { ::CloseHandle(handle); }
};
using Handle = UniqueResource<HANDLE, HandleTraits>;

double NowMs() {
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The child waited for as directly as Windows allows; -1 when it can't be started
// or does not end within kChildTimeoutMs.
long RunWaitingOnHandle(const std::wstring& commandLine) {
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started))
        return -1;
    const Handle process(started.hProcess);
    const Handle thread(started.hThread);
    if (::WaitForSingleObject(process.get(), kChildTimeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD exitCode = 0;
    return ::GetExitCodeProcess(process.get(), &exitCode) ? static_cast<long>(exitCode) : -1;
}

void Report(const char* what, double ms, long exitCode) {
    std::printf("%s %.1f\n", what, ms);
    if (exitCode != 0) std::printf("exit %ld\n", exitCode);
}

int CompareWaits(int runs, const std::wstring& commandLine) {
    for (int i = 0; i < runs; ++i) {
        double start = NowMs();
        long exitCode = RunWaitingOnHandle(commandLine);
        Report("handle", NowMs() - start, exitCode);
        start = NowMs();
        try {
            exitCode = modCommonShellUtils::ShellAndWait(commandLine, kMinimizedNoFocus);
        } catch (const RuntimeError& error) {
            exitCode = -error.Number();
        }
        Report("poll", NowMs() - start, exitCode);
        std::fflush(stdout);
    }
    return 0;
}

// What loading the installer's other imports costs in a fresh process.
int LoadDlls() {
    const wchar_t* const names[] = {L"advapi32.dll", L"ole32.dll", L"shell32.dll", L"version.dll"};
    const double start = NowMs();
    for (const wchar_t* name : names) {
        if (!::LoadLibraryW(name)) {
            std::fprintf(stderr, "probe: cannot load %ls\n", name);
            return 1;
        }
    }
    std::printf("dlls %.1f\n", NowMs() - start);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 1) return 0;
    const std::wstring mode = argv[1];
    if (mode == L"dlls" && argc == 2) return LoadDlls();
    if (mode == L"wait" && argc == 4) return CompareWaits(std::wcstol(argv[2], nullptr, 10), argv[3]);
    std::fputs("usage: probe | probe dlls | probe wait N CMDLINE\n", stderr);
    return 2;
}
