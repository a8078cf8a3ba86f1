// Microsoft documents none of RegSvr32's exit codes; the meanings below are
// what the reports of them agree on (Wine's own regsvr32 numbers 1, 3, 4 and
// 5 the same way).
#include "RegistrationTool.h"

#include "NumberText.h"

namespace RegistrationTool {

std::wstring ExitCodeMeaning(long exitCode) {
    switch (exitCode) {
    case 1: return L"bad arguments";
    case 2: return L"OleInitialize failed";
    case 3: return L"TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)";
    case 4: return L"TVex.DLL has no DllRegisterServer (it is no COM DLL)";
    case 5: return L"DllRegisterServer returned a failure";
    case kExitCodeTimedOut:
        return L"the registration tool did not end within " + DecimalText(kUnseenLimitMinutes) +
               L" minutes and was ended";
    case kExitCodeUnknown: return L"the registration tool's exit code could not be read";
    default: break;
    }
    if (exitCode < 0)
        return L"the registration tool crashed (exception 0x" + HexText(static_cast<unsigned long>(exitCode), 8) + L")";
    return {};
}

}  // namespace RegistrationTool
