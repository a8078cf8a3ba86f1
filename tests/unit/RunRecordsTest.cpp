#include "RecordsOutput.h"
#include "common/RegistrationTool.h"
#include "installer/RunRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(RunRecords, WrittenOnlyWhenStartedWithStandardHandlesToAPipeOrAFile) {
    struct Case {
        DWORD flags;
        DWORD type;
        bool writes;
    };
    const Case cases[] = {
        {STARTF_USESTDHANDLES, FILE_TYPE_PIPE, true},
        {STARTF_USESTDHANDLES, FILE_TYPE_DISK, true},
        {STARTF_USESTDHANDLES, FILE_TYPE_CHAR, false},  // a console
        {STARTF_USESTDHANDLES, FILE_TYPE_UNKNOWN, false},
        {0, FILE_TYPE_PIPE, false},                     // under Wine: the Unix stdout, inherited without the flag
        {STARTF_USESHOWWINDOW, FILE_TYPE_DISK, false},
    };
    for (const Case& c : cases) {
        RecordsOutput output(c.flags, c.type);
        RunRecords::WriteLog(L"entry");
        EXPECT_EQ(!output.bytes.empty(), c.writes) << "flags " << c.flags << ", file type " << c.type;
    }
}

TEST(RunRecords, RecordsAreUtf8LinesAndAnErrorTextIsOneRecordALine) {
    RecordsOutput output;
    RunRecords::WriteLog(L"07.12.2026 11:22:33: Using C:\\Windows\\Sys\u00dfWOW64\\\u65e5\u672c\\TVex.DLL");
    RunRecords::WriteError(L"Can't find Tarvex DLL !\r\n\r\nPlease contact X");
    RunRecords::WriteError(L"a lone\nline feed\r\nends a line too");
    RunRecords::WriteResult(0);
    const std::vector<std::string> expected = {
        "LOG 07.12.2026 11:22:33: Using C:\\Windows\\Sys\xc3\x9fWOW64\\\xe6\x97\xa5\xe6\x9c\xac\\TVex.DLL",
        "ERROR Can't find Tarvex DLL !", "ERROR ", "ERROR Please contact X",
        "ERROR a lone", "ERROR line feed", "ERROR ends a line too", "RESULT 0"};
    EXPECT_EQ(output.Records(), expected);
}

TEST(RegistrationTool, ExitCodesInWords) {
    const std::pair<long, std::wstring> meanings[] = {
        {0, L""},
        {1, L"bad arguments"},
        {2, L"OleInitialize failed"},
        {3, L"TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)"},
        {4, L"TVex.DLL has no DllRegisterServer (it is no COM DLL)"},
        {5, L"DllRegisterServer returned a failure"},
        {6, L""},
        {1460, L"the registration tool did not end within 5 minutes and was ended"},
        {-1073741819, L"the registration tool crashed (exception 0xC0000005)"},
        {-1, L"the registration tool's exit code could not be read"},
        {259, L""},
    };
    for (const auto& [code, meaning] : meanings) EXPECT_EQ(RegistrationTool::ExitCodeMeaning(code), meaning) << code;
}
