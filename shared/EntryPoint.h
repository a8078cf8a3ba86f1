// An entry point that GetProcAddress found, as the function type it has. The
// detour through void* keeps GCC's warning about casts between unrelated
// function types quiet; FARPROC says nothing of the real signature.
#pragma once

#include <windows.h>

template <class Fn>
Fn EntryPointAs(FARPROC entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}
