// Starting a program and waiting for it to end.
#pragma once

#include <string>

namespace modCommonShellUtils {

// Starts the command line with the given window style code and returns the
// process's exit code. A program that can't be started raises a run-time error.
long ShellAndWait(const std::wstring& commandLine, long windowStyle);

}  // namespace modCommonShellUtils
