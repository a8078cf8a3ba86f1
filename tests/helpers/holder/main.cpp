// holder DLL MS: loads DLL, as a program that uses the control does, says
// "loaded" on stdout, and keeps it loaded for MS milliseconds, or until it
// is ended. While it runs, Windows (and Wine) can't replace the file.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputws(L"usage: holder DLL MS\n", stderr);
        return 2;
    }
    const HMODULE control = ::LoadLibraryW(argv[1]);
    if (!control) {
        std::fwprintf(stderr, L"holder: can't load %ls (error %lu)\n", argv[1], ::GetLastError());
        return 1;
    }
    std::fputws(L"loaded\n", stdout);
    std::fflush(stdout);
    ::Sleep(std::wcstoul(argv[2], nullptr, 10));
    ::FreeLibrary(control);
    return 0;
}
