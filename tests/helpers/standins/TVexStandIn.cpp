// A stand-in for the Tarvex ActiveX control, TVex.DLL, so that the real
// registration tool has something to register. The build makes several of
// them from this file; TVEX_STANDIN picks how DllRegisterServer behaves, and
// TVEX_STANDIN_CLSID2, where defined, names a second class that it registers:
//   TVEX_STANDIN_GOOD       registers the control's CLSID and returns S_OK
//   TVEX_STANDIN_FAIL       changes nothing and returns a failure
//   TVEX_STANDIN_CRASH      dies of an access violation
//   TVEX_STANDIN_DEPENDENT  loads tvexdep.dll by bare name, as controls with
//                           helper DLLs do, then registers as GOOD does; a
//                           missing helper is no failure
//   TVEX_STANDIN_ASKS       asks in a box of its own, as controls with a
//                           licence dialog do, and registers as GOOD does on
//                           Yes; where no one sees the box, it waits for ever
//   TVEX_STANDIN_UNLOADABLE imports tvexabsent.dll, which is nowhere the
//                           loader looks: the DLL can't be loaded at all, as a
//                           control whose runtime is missing, and the
//                           registration tool ends with 3
#include <windows.h>
#include <olectl.h>

#include <string>

#include "shared/UniqueResource.h"

#define TVEX_STANDIN_GOOD 1
#define TVEX_STANDIN_FAIL 2
#define TVEX_STANDIN_CRASH 3
#define TVEX_STANDIN_DEPENDENT 4
#define TVEX_STANDIN_UNLOADABLE 5
#define TVEX_STANDIN_ASKS 6

#if TVEX_STANDIN == TVEX_STANDIN_UNLOADABLE
extern "C" __declspec(dllimport) HRESULT TvexAbsentHelper();
#endif

#ifndef TVEX_STANDIN
#error "TVEX_STANDIN must name the stand-in's behaviour"
#endif
#ifndef TVEX_STANDIN_CLSID
#error "TVEX_STANDIN_CLSID must hold the control's CLSID in braces"
#endif

namespace {

#define TVEX_WIDEN2(text) L##text
#define TVEX_WIDEN(text) TVEX_WIDEN2(text)
const std::wstring kClassKeys[] = {
    std::wstring(L"CLSID\\") + TVEX_WIDEN(TVEX_STANDIN_CLSID),
#ifdef TVEX_STANDIN_CLSID2
    std::wstring(L"CLSID\\") + TVEX_WIDEN(TVEX_STANDIN_CLSID2),
#endif
};

HMODULE thisModule = nullptr;

struct KeyTraits {
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { ::RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

bool SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            bytes) == ERROR_SUCCESS;
}

UniqueKey CreateKey(HKEY parent, const std::wstring& path) {
    UniqueKey key;
    if (::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(thisModule, path, MAX_PATH);
    return std::wstring(path, length);
}

// The entries a real in-process control writes for itself, for each of its classes.
HRESULT RegisterClass() {
    for (const std::wstring& key : kClassKeys) {
        UniqueKey classKey = CreateKey(HKEY_CLASSES_ROOT, key);
        if (!classKey || !SetText(classKey.get(), nullptr, L"Tarvex ActiveX control (stand-in)"))
            return SELFREG_E_CLASS;
        UniqueKey serverKey = CreateKey(classKey.get(), L"InprocServer32");
        if (!serverKey || !SetText(serverKey.get(), nullptr, ModulePath()) ||
            !SetText(serverKey.get(), L"ThreadingModel", L"Apartment"))
            return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT UnregisterClass() {
    HRESULT outcome = S_OK;
    for (const std::wstring& key : kClassKeys) {
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        const LONG result = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) outcome = SELFREG_E_CLASS;
    }
    return outcome;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) thisModule = instance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
#if TVEX_STANDIN == TVEX_STANDIN_GOOD
    return RegisterClass();
#elif TVEX_STANDIN == TVEX_STANDIN_DEPENDENT
    if (const HMODULE helper = ::LoadLibraryW(L"tvexdep.dll")) ::FreeLibrary(helper);
    return RegisterClass();
#elif TVEX_STANDIN == TVEX_STANDIN_FAIL
    return SELFREG_E_CLASS;
#elif TVEX_STANDIN == TVEX_STANDIN_UNLOADABLE
    return TvexAbsentHelper();
#elif TVEX_STANDIN == TVEX_STANDIN_ASKS
    if (::MessageBoxW(nullptr, L"Register the Tarvex ActiveX control (stand-in)?", L"Tarvex stand-in asks",
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
        return SELFREG_E_CLASS;
    return RegisterClass();
#elif TVEX_STANDIN == TVEX_STANDIN_CRASH
    // volatile, so that the compiler keeps the store it could prove undefined.
    int* volatile nowhere = nullptr;
    *nowhere = 1;
    return E_UNEXPECTED;
#endif
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return UnregisterClass();
}
