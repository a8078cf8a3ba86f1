// A canary DLL: planted where only the program's folder or its current
// directory would lead the loader to it. Loaded, it appends one line naming
// itself and the process that loaded it to C:\canary-hits.txt, so that a test
// can tell that it ran. It exports nothing a caller could use: a canary that
// is loaded has already shown what it is for.
#include <windows.h>

namespace {

// A DLL's own path, and the EXE's, as one line.
void RecordLoad(HINSTANCE self) {
    wchar_t dll[MAX_PATH] = {}, exe[MAX_PATH] = {};
    ::GetModuleFileNameW(self, dll, MAX_PATH);
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    char line[3 * MAX_PATH] = {};
    const int length = ::wsprintfA(line, "%ls loaded by %ls\r\n", dll, exe);
    const HANDLE file = ::CreateFileW(L"C:\\canary-hits.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) RecordLoad(instance);
    return TRUE;
}
