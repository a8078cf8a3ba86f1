// The run's records on standard output. Microsoft documents none of
// RegSvr32's exit codes; the meanings below are what the reports of them
// agree on (Wine's own regsvr32 numbers 1, 3, 4 and 5 the same way).
#include "RunRecords.h"

#include "frmMain.h"
#include "common/NumberText.h"
#include "common/modCommonShellUtils.h"

#include <string>

namespace RunRecords {

Api api = {::GetStartupInfoW, ::GetStdHandle, ::GetFileType, ::WriteFile};

bool Writing = false;

namespace {

HANDLE output = nullptr;

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string bytes(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, &bytes[0], needed, nullptr, nullptr);
    return bytes;
}

void WriteRecord(const std::wstring& record) {
    if (!Writing) return;
    const std::string bytes = ToUtf8(record) + "\r\n";
    DWORD written = 0;
    api.WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void Open() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    api.GetStartupInfoW(&startup);
    Writing = false;
    if (!(startup.dwFlags & STARTF_USESTDHANDLES)) return;
    output = api.GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE) return;
    const DWORD type = api.GetFileType(output);
    Writing = type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

void WriteLog(const std::wstring& entry) { WriteRecord(L"LOG " + entry); }

void WriteError(const std::wstring& text) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L"\r\n", start);
        WriteRecord(L"ERROR " + text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) return;
        start = end + 2;
    }
}

void WriteResult(long exitCode) {
    const std::wstring meaning = ExitCodeMeaning(exitCode);
    WriteRecord(L"RESULT " + DecimalText(exitCode) + (meaning.empty() ? L"" : L" " + meaning));
}

std::wstring ExitCodeMeaning(long exitCode) {
    switch (exitCode) {
    case 1: return L"bad arguments";
    case 2: return L"OleInitialize failed";
    case 3: return L"TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)";
    case 4: return L"TVex.DLL has no DllRegisterServer (it is no COM DLL)";
    case 5: return L"DllRegisterServer returned a failure";
    case modCommonShellUtils::kExitCodeTimedOut:
        return L"the registration tool did not end within " + DecimalText(frmMain::kUnseenToolLimitMinutes) +
               L" minutes and was ended";
    case modCommonShellUtils::kExitCodeUnknown: return L"the registration tool's exit code could not be read";
    default: break;
    }
    if (exitCode < 0)
        return L"the registration tool crashed (exception 0x" + HexText(static_cast<unsigned long>(exitCode), 8) + L")";
    return {};
}

}  // namespace RunRecords
