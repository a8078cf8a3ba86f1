// The adapters that Windows Installer calls: the messages to it.
#include "ApiOverride.h"
#include "packaging/customaction/MsiSession.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {
std::vector<std::pair<INSTALLMESSAGE, std::wstring>> sent;
std::wstring recordText;
UINT WINAPI RecordingSetString(MSIHANDLE, UINT field, LPCWSTR text) {
    if (field == 0) recordText = text;
    return ERROR_SUCCESS;
}
int WINAPI RecordingMessage(MSIHANDLE, INSTALLMESSAGE kind, MSIHANDLE) {
    sent.emplace_back(kind, recordText);
    return IDOK;
}
MSIHANDLE WINAPI FakeRecord(UINT) { return 0x77; }
UINT WINAPI FakeClose(MSIHANDLE) { return ERROR_SUCCESS; }
}  // namespace

TEST(MsiSession, LinesAndErrorsGoAsTemplatesThatShowTheTextAsWritten) {
    ApiOverride<decltype(MsiSession::api.MsiCreateRecord)> record(MsiSession::api.MsiCreateRecord, FakeRecord);
    ApiOverride<decltype(MsiSession::api.MsiRecordSetStringW)> set(MsiSession::api.MsiRecordSetStringW,
                                                                   RecordingSetString);
    ApiOverride<decltype(MsiSession::api.MsiProcessMessage)> message(MsiSession::api.MsiProcessMessage,
                                                                     RecordingMessage);
    ApiOverride<decltype(MsiSession::api.MsiCloseHandle)> close(MsiSession::api.MsiCloseHandle, FakeClose);
    sent.clear();
    MsiSession::Log(0, L"LOG [1] {x} 42");
    MsiSession::ShowError(0, L"Can't [x]");
    const std::vector<std::pair<INSTALLMESSAGE, std::wstring>> expected = {
        {INSTALLMESSAGE_INFO, L"TarvexActiveXInstaller: LOG [\\[]1[\\]] [\\{]x[\\}] 42"},
        {INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), L"Can't [\\[]x[\\]]"}};
    EXPECT_EQ(sent, expected);
}
