// Questions about the file system.
#pragma once

#include <string>

namespace modEnvironment {

// True when the path (its last component may hold * and ?) names at least one
// ordinary file: no directory, no hidden or system entry. Every failure is false.
bool FileExists(const std::wstring& path);

}  // namespace modEnvironment
