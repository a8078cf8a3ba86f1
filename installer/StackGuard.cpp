// A smashed stack ends the process at once, as Windows' own /GS check does:
// nothing that the overwritten frame held is trusted, no box is shown.
#include "StackGuard.h"

#include <cstdint>

// MSVC's /GS brings its own cookie; this is GCC's -fstack-protector.
#if defined(__GNUC__)

// The compiler's protected functions compare their frames' copy with this.
// Until the entry point seeds it (and in the tests, which never do) it holds
// a fixed value, which still catches a plain overrun.
extern "C" {
void* __stack_chk_guard = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x2B992DDFA232ull));
[[noreturn]] void __stack_chk_fail();
}

namespace StackGuard {

Api api = {::GetSystemTimeAsFileTime, ::QueryPerformanceCounter, ::GetTickCount, ::GetCurrentProcessId,
           ::GetCurrentThreadId, ::GetCurrentProcess, ::TerminateProcess};

namespace {

constexpr UINT kStackBufferOverrun = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN

}  // namespace

// Unprotected itself: its own frame would be checked against a guard it changed.
__attribute__((no_stack_protector)) void Seed() noexcept {
    FILETIME now = {};
    api.GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter = {};
    api.QueryPerformanceCounter(&counter);
    std::uintptr_t value = (static_cast<std::uintptr_t>(now.dwHighDateTime) << 16) ^ now.dwLowDateTime;
    value ^= static_cast<std::uintptr_t>(counter.QuadPart) ^ static_cast<std::uintptr_t>(counter.QuadPart >> 32);
    value ^= static_cast<std::uintptr_t>(api.GetCurrentProcessId()) << 8;
    value ^= static_cast<std::uintptr_t>(api.GetCurrentThreadId()) << 20;
    value ^= api.GetTickCount();
    value ^= reinterpret_cast<std::uintptr_t>(&value);  // the stack's place, random with ASLR
    if (value != 0) __stack_chk_guard = reinterpret_cast<void*>(value);
}

}  // namespace StackGuard

extern "C" void __stack_chk_fail() {
    for (;;) StackGuard::api.TerminateProcess(StackGuard::api.GetCurrentProcess(), StackGuard::kStackBufferOverrun);
}

#endif  // __GNUC__
