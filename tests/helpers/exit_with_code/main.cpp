// exit_with_code CODE [DELAY_MS]: waits DELAY_MS milliseconds, then ends with
// CODE, a signed or unsigned 32-bit number (-7, 259, 3221225477 all work).
#include <windows.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc < 2) return 1;
    const long long code = std::strtoll(argv[1], nullptr, 10);
    if (argc > 2) Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    ExitProcess(static_cast<UINT>(code));
}
