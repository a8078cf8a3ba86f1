// File-system paths of the shell's special folders.
#pragma once

#include <string>

namespace modCommonSpecialFolders {

// The folder's path without a trailing backslash; empty when it has none or the shell fails.
std::wstring GetSpecialFolder(long folder);

}  // namespace modCommonSpecialFolders
