// What the common library asks of the program that uses it. The library
// declares these call-backs; the program defines them.
#pragma once

#include <string>

namespace CommonCallbacks {

// Describes the run-time error being handled, beginning with ": ". Call it
// only inside a catch block.
std::wstring GetErrorText();
// The library's diagnostic hook: a message and a flag the program may use or drop.
void ReportDiagnostic(const std::wstring& message, bool flag);

}  // namespace CommonCallbacks
