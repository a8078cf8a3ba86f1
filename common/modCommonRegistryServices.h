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

void SetRegDefaults();
void DeleteRegValue(std::wstring subKey, std::wstring valueName);
bool QueryRegString(HKEY& rootKey, std::wstring keyPath, std::wstring valueName, std::wstring& value);
std::wstring GetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                          std::wstring& defaultValue);
void SetRegString(HKEY rootKey, std::wstring keyPath, std::wstring subKey, std::wstring valueName,
                  std::wstring value);

}  // namespace modCommonRegistryServices
