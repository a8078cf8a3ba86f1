// String values in the registry through the ANSI registry functions, with a
// module-wide context (root key, key path, access mask) that the readers and
// writers set up and restore around each call.
#pragma once

#include <windows.h>

#include <string>

namespace modCommonRegistryServices {

// Module state, zero or empty at start.
extern REGSAM RegAccessMask;
extern HKEY RegRootKey;
extern std::wstring RegKeyPath;

// Access mask KEY_ALL_ACCESS, root key HKEY_LOCAL_MACHINE; run once before the first read.
void SetRegDefaults();
// Deletes the value below RegRootKey\RegKeyPath[\subKey]; every failure is silent.
void DeleteRegValue(std::wstring subKey, std::wstring valueName);
// True with the value's text (at most 1,024 bytes of data, one final NUL dropped)
// in `value`; false, with `value` untouched, when the key or value can't be read.
bool QueryRegString(HKEY& rootKey, std::wstring keyPath, std::wstring valueName, std::wstring& value);
// The value's text, or the default when it can't be read.
std::wstring GetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                          std::wstring& defaultValue);
// Writes the value as REG_SZ, creating the key; the empty text deletes the value
// instead and creates nothing. Failures are silent: read the value back to check.
void SetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                  std::wstring value);

// The Windows entry points this module calls; tests swap single entries.
// A 64-bit build must name the 32-bit registry view, where the 32-bit program
// keeps its values, and so creates keys with the call that takes an access mask.
struct Api {
    decltype(&::RegOpenKeyExA) RegOpenKeyExA;
    decltype(&::RegQueryValueExA) RegQueryValueExA;
#ifdef _WIN64
    decltype(&::RegCreateKeyExA) RegCreateKeyExA;
#else
    decltype(&::RegCreateKeyA) RegCreateKeyA;
#endif
    decltype(&::RegSetValueExA) RegSetValueExA;
    decltype(&::RegDeleteValueA) RegDeleteValueA;
    decltype(&::RegCloseKey) RegCloseKey;
};
extern Api api;

}  // namespace modCommonRegistryServices
