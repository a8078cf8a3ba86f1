// Messages to Windows Installer go as records whose field 0 is the text:
// the installer formats it as a template, and our escapes keep it as written.
#include "MsiSession.h"

#include "shared/UniqueResource.h"

#include <vector>

namespace MsiSession {

Api api = {::MsiGetPropertyW,   ::MsiCreateRecord, ::MsiRecordSetStringW, ::MsiRecordSetInteger,
           ::MsiProcessMessage, ::MsiCloseHandle,   ::MsiGetMode};

namespace {

struct RecordTraits {
    static MSIHANDLE invalid() noexcept { return 0; }
    static void close(MSIHANDLE record) noexcept { api.MsiCloseHandle(record); }
};
using UniqueRecord = UniqueResource<MSIHANDLE, RecordTraits>;

int Send(MSIHANDLE session, INSTALLMESSAGE kind, const std::wstring& text) {
    const UniqueRecord record(api.MsiCreateRecord(0));
    if (!record) return 0;
    api.MsiRecordSetStringW(record.get(), 0, AsTemplate(text).c_str());
    return api.MsiProcessMessage(session, kind, record.get());
}

}  // namespace

std::wstring CustomActionData(MSIHANDLE session) {
    DWORD size = 0;
    wchar_t none[1] = {};
    if (api.MsiGetPropertyW(session, L"CustomActionData", none, &size) != ERROR_MORE_DATA) return {};
    std::vector<wchar_t> value(size + 1);
    size = static_cast<DWORD>(value.size());
    if (api.MsiGetPropertyW(session, L"CustomActionData", value.data(), &size) != ERROR_SUCCESS) return {};
    return std::wstring(value.data(), size);
}

void Log(MSIHANDLE session, const std::wstring& line) { Send(session, INSTALLMESSAGE_INFO, kLogPrefix + line); }

void ShowError(MSIHANDLE session, const std::wstring& text) {
    Send(session, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}

bool CancelRequested(MSIHANDLE session) {
    const UniqueRecord record(api.MsiCreateRecord(2));
    if (!record) return false;
    api.MsiRecordSetInteger(record.get(), 1, 2);  // move the progress bar on
    api.MsiRecordSetInteger(record.get(), 2, 0);  // by nothing
    return api.MsiProcessMessage(session, INSTALLMESSAGE_PROGRESS, record.get()) == IDCANCEL;
}

bool InRollback(MSIHANDLE session) { return api.MsiGetMode(session, MSIRUNMODE_ROLLBACK) != FALSE; }

std::wstring AsTemplate(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        if (c == L'[' || c == L']' || c == L'{' || c == L'}') {
            escaped += L"[\\";
            escaped += c;
            escaped += L']';
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace MsiSession
