// Prints one line: GetOsName()|GetOsVersion()|IsWow64()|Is64BitProcessor(),
// for example "Windows 7 (64bit)|15|true|false".
#include "common/AnsiText.h"
#include "common/modCommonOsVersion.h"

#include <cstdio>

namespace {
const char* YesNo(bool value) { return value ? "true" : "false"; }
}  // namespace

int main() {
    using namespace modCommonOsVersion;
    const std::string name = ToAnsi(GetOsName());
    std::printf("%s|%ld|%s|%s\n", name.c_str(), static_cast<long>(GetOsVersion()), YesNo(IsWow64()),
                YesNo(Is64BitProcessor()));
    return 0;
}
