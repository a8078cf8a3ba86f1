// station: runs a program as a deployment tool running as SYSTEM would, on a
// window station that no one can see (only WinSta0 is visible).
//
//   station flags                     print whether a new station and this
//                                     process's station have WSF_VISIBLE
//   station run MS PROGRAM [ARG...]   start PROGRAM on a new station's desktop,
//                                     wait at most MS for it, print its exit code
//   station here MS PROGRAM [ARG...]  the same on this process's own station
//                                     (the visible one), for the whole exit code
//                                     that Wine's own exit status cuts to a byte
//
// "--stdout FILE" before PROGRAM starts it with standard handles
// (STARTF_USESTDHANDLES), its output and error going to FILE, as a starter
// that collects a program's output does.
//
// Exit code: 0 when the program ended in time (its own code is printed), 2
// when it had to be stopped, 1 for any other failure (told on stderr).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kStationName[] = L"TarvexUnattended";
const wchar_t kDesktopName[] = L"Default";

int Fail(const wchar_t* what) {
    std::fwprintf(stderr, L"station: %ls failed (error %lu)\n", what, ::GetLastError());
    return 1;
}

bool IsVisible(HWINSTA station) {
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// A new station with one desktop; the desktop is made while the station is
// this process's own, as CreateDesktopW works on the process's station.
bool MakeStation(HWINSTA* station, HDESK* desktop) {
    *station = ::CreateWindowStationW(kStationName, 0, WINSTA_ALL_ACCESS, nullptr);
    if (!*station) return false;
    const HWINSTA own = ::GetProcessWindowStation();
    if (!::SetProcessWindowStation(*station)) return false;
    *desktop = ::CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ::SetProcessWindowStation(own);
    return *desktop != nullptr;
}

int Flags() {
    HWINSTA station = nullptr;
    HDESK desktop = nullptr;
    if (!MakeStation(&station, &desktop)) return Fail(L"making the station");
    std::wprintf(L"new station visible=%d\nown station visible=%d\n", IsVisible(station) ? 1 : 0,
                 IsVisible(::GetProcessWindowStation()) ? 1 : 0);
    return 0;
}

// Quotes each argument as process creation parses it back (no argument here holds a quote).
std::wstring CommandLine(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const std::wstring& arg : args) {
        if (!line.empty()) line += L' ';
        line += arg.find_first_of(L" \t") == std::wstring::npos ? arg : L"\"" + arg + L"\"";
    }
    return line;
}

// The file a program's output goes to, inheritable; nullptr when it can't be made.
HANDLE OutputFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int Run(bool ownStation, DWORD timeoutMs, std::vector<std::wstring> args) {
    HWINSTA station = nullptr;
    HDESK desktop = nullptr;
    if (!ownStation && !MakeStation(&station, &desktop)) return Fail(L"making the station");
    std::wstring desktopPath = std::wstring(kStationName) + L"\\" + kDesktopName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HANDLE output = nullptr;
    if (args.size() >= 3 && args[0] == L"--stdout") {
        output = OutputFile(args[1]);
        if (!output) return Fail(L"creating the output file");
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output;
        args.erase(args.begin(), args.begin() + 2);
    }
    std::wstring line = CommandLine(args);
    if (!ownStation) startup.lpDesktop = &desktopPath[0];
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup,
                          &started))
        return Fail(L"starting the program");
    if (output) ::CloseHandle(output);  // the program holds its own copy
    ::CloseHandle(started.hThread);
    const DWORD waited = ::WaitForSingleObject(started.hProcess, timeoutMs);
    if (waited != WAIT_OBJECT_0) {
        ::TerminateProcess(started.hProcess, 1);
        ::CloseHandle(started.hProcess);
        std::fwprintf(stderr, L"station: the program did not end within %lu ms\n", timeoutMs);
        return 2;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(started.hProcess, &code);
    ::CloseHandle(started.hProcess);
    std::wprintf(L"%lu\n", code);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"flags") return Flags();
    if (args.size() >= 3 && (args[0] == L"run" || args[0] == L"here"))
        return Run(args[0] == L"here", std::wcstoul(args[1].c_str(), nullptr, 10), {args.begin() + 2, args.end()});
    std::fputws(L"usage: station flags | station run|here MS [--stdout FILE] PROGRAM [ARG...]\n", stderr);
    return 1;
}
