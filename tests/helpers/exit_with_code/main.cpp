// exit_with_code CODE [DELAY_MS]: waits DELAY_MS milliseconds, then ends with
// CODE, a signed or unsigned 32-bit number (-7, 259, 3221225477 all work).
// Without a number it ends with 1.
// exit_with_code grandchild DELAY_MS: starts itself as "0 DELAY_MS", writes
// "grandchild <its process id>" and a line break to its standard output, and
// then waits DELAY_MS too: a program that leaves a process of its own behind.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long long CodeFrom(const char* text, bool* isNumber) {
    char* end = nullptr;
    const long long code = std::strtoll(text, &end, 10);
    *isNumber = end != text && *end == '\0';
    return code;
}

int StartGrandchild(const char* delay) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" 0 " + delay;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return 2;
    char text[64];
    const int length = std::snprintf(text, sizeof text, "grandchild %lu\r\n", started.dwProcessId);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    ::Sleep(static_cast<DWORD>(std::strtoul(delay, nullptr, 10)));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "grandchild") return StartGrandchild(argv[2]);
    bool isNumber = false;
    long long code = argc > 1 ? CodeFrom(argv[1], &isNumber) : 0;
    if (!isNumber) {
        code = 1;
    } else if (argc > 2) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    }
    ExitProcess(static_cast<UINT>(code));
}
