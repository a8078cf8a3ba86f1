// The DLL that the unloadable stand-in control imports. It is built for its
// import library alone and never put where the loader looks for it.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT TvexAbsentHelper() { return S_OK; }
