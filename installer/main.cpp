// Entry point: the whole run, whose exit code tells the installation package
// how it went.
#include "Program.h"
#include "StackGuard.h"

#include <windows.h>

#include <exception>

#if defined(__GLIBCXX__)
// libstdc++'s own terminate handler names the escaped exception's type; it
// brings the demangler and formatted printing along, a quarter of the EXE.
// Defined here, ours takes its place: the program ends as a failed run.
namespace __gnu_cxx {
void __verbose_terminate_handler() { Program::EndAfterEscapedError(); }
}  // namespace __gnu_cxx
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Program::Run(); }

#if defined(__MINGW32__)
// The EXE's entry point (the linker's -e names it): the stack protector's
// guard gets its value before the C runtime's start-up runs anything of ours.
extern "C" int WinMainCRTStartup();
extern "C" __attribute__((no_stack_protector)) int TarvexEntry() {
    StackGuard::Seed();
    return WinMainCRTStartup();
}
#endif
