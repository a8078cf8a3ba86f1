// exit_with_code CODE [DELAY_MS]: waits DELAY_MS milliseconds, then ends with
// CODE, a signed or unsigned 32-bit number (-7, 259, 3221225477 all work).
// Without a number it ends with 1.
#include <windows.h>

#include <cstdlib>

namespace {

long long CodeFrom(const char* text, bool* isNumber) {
    char* end = nullptr;
    const long long code = std::strtoll(text, &end, 10);
    *isNumber = end != text && *end == '\0';
    return code;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool isNumber = false;
    long long code = argc > 1 ? CodeFrom(argv[1], &isNumber) : 0;
    if (!isNumber) {
        code = 1;
    } else if (argc > 2) {
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    }
    ExitProcess(static_cast<UINT>(code));
}
