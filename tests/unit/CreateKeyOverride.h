// The registry services create keys with RegCreateKeyA, or, built for 64-bit
// Windows, with RegCreateKeyExA (which can name the registry view). This puts
// a replacement of RegCreateKeyA's shape into whichever slot the build has,
// for the life of a scope.
#pragma once

#include "ApiOverride.h"
#include "common/modCommonRegistryServices.h"

#include <windows.h>

class CreateKeyOverride {
public:
    using CreateKeyFn = LONG(WINAPI*)(HKEY root, LPCSTR path, PHKEY key);

    explicit CreateKeyOverride(CreateKeyFn replacement) : saved_(std::exchange(replacement_(), replacement)) {}
    ~CreateKeyOverride() { replacement_() = saved_; }
    CreateKeyOverride(const CreateKeyOverride&) = delete;
    CreateKeyOverride& operator=(const CreateKeyOverride&) = delete;

private:
    static CreateKeyFn& replacement_() {
        static CreateKeyFn replacement = nullptr;
        return replacement;
    }
    CreateKeyFn saved_;
#ifdef _WIN64
    static LONG WINAPI Adapter(HKEY root, LPCSTR path, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY key,
                               LPDWORD) {
        return replacement_()(root, path, key);
    }
    ApiOverride<decltype(modCommonRegistryServices::api.RegCreateKeyExA)> slot_{
        modCommonRegistryServices::api.RegCreateKeyExA, &CreateKeyOverride::Adapter};
#else
    ApiOverride<decltype(modCommonRegistryServices::api.RegCreateKeyA)> slot_{
        modCommonRegistryServices::api.RegCreateKeyA, replacement_()};
#endif
};
