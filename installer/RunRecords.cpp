// The run's records on standard output, UTF-8.
#include "RunRecords.h"

#include "shared/NumberText.h"
#include "shared/RegistrationTool.h"
#include "shared/RunRecordKinds.h"
#include "shared/Utf8Text.h"

#include <string>

namespace RunRecords {

Api api = {::GetStartupInfoW, ::GetStdHandle, ::GetFileType, ::WriteFile};

namespace {

// Where the records go; nullptr while they go nowhere.
HANDLE output = nullptr;

void WriteRecord(const std::wstring& record) {
    if (!output) return;
    const std::string bytes = ToUtf8(record) + "\r\n";
    DWORD written = 0;
    api.WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

HANDLE RecordsOutput() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    api.GetStartupInfoW(&startup);
    if (!(startup.dwFlags & STARTF_USESTDHANDLES)) return nullptr;
    const HANDLE handle = api.GetStdHandle(STD_OUTPUT_HANDLE);
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD type = api.GetFileType(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK ? handle : nullptr;
}

}  // namespace

void Open() { output = RecordsOutput(); }

bool Writing() { return output != nullptr; }

void WriteLog(const std::wstring& entry) { WriteRecord(RunRecordKinds::kLog + entry); }

void WriteError(const std::wstring& text) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L'\n', start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (end != std::wstring::npos && !line.empty() && line.back() == L'\r') line.pop_back();
        WriteRecord(RunRecordKinds::kError + line);
        if (end == std::wstring::npos) return;
        start = end + 1;
    }
}

void WriteResult(long exitCode) {
    const std::wstring meaning = RegistrationTool::ExitCodeMeaning(exitCode);
    WriteRecord(RunRecordKinds::kResult + DecimalText(exitCode) + (meaning.empty() ? L"" : L" " + meaning));
}

}  // namespace RunRecords
