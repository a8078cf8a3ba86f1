// The run records at both ends: the program that writes them, and the
// package's runner that reads them into msiexec's log and the installer's error.
#include "RecordsOutput.h"
#include "installer/RunRecords.h"
#include "packaging/runner/ProgramRecords.h"
#include "shared/RegistrationTool.h"
#include "shared/Utf8Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ChildProcess::End;
using ChildProcess::Outcome;

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

TEST(ProgramRecords, TheInstallersErrorIsTheProgramsOwnMessageThenTheExitCodesMeaning) {
    const Outcome failed{End::Exited, 1};
    struct Case {
        std::vector<std::wstring> lines;
        Outcome outcome;
        std::wstring message;
    };
    const Case cases[] = {
        {{L"LOG a: Result  3", L"RESULT 3 TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)",
          L"ERROR Can't register Tarvex ActiveX control, result  3!", L"LOG a: Registration finished"},
         failed,
         L"Can't register Tarvex ActiveX control, result  3!\r\n\r\nExit code 3 of the registration tool: TVex.DLL or "
         L"a DLL it needs could not be loaded (often a missing runtime)."},
        {{L"ERROR Can't find Tarvex DLL !", L"ERROR ", L"ERROR Please contact X", L"LOG b"},
         failed,
         L"Can't find Tarvex DLL !\r\n\r\nPlease contact X"},
        {{L"RESULT 7", L"ERROR Can't register Tarvex ActiveX control, result  7!"},
         failed,
         L"Can't register Tarvex ActiveX control, result  7!"},
        {{L"LOG only"}, failed, L"X.exe ended with exit code 1."},
        {{}, {End::TimedOut, ERROR_TIMEOUT}, L"X.exe did not end within 10 minutes and was ended."},
        {{}, {End::CodeUnknown, 0}, L"X.exe ended, but its exit code could not be read."},
    };
    for (const Case& c : cases) {
        ProgramRecords::Collector records;
        for (const std::wstring& line : c.lines) records.Add(line);
        EXPECT_EQ(records.FailureMessage(L"X.exe", c.outcome), c.message);
    }
    ProgramRecords::Collector records;
    for (const std::wstring& line : cases[0].lines) records.Add(line);
    EXPECT_EQ(records.Log(), L"a: Result  3\r\na: Registration finished\r\n") << "the log, as its entries came";
    const std::wstring notStarted = ProgramRecords::OutcomeText(L"X.exe", {End::NotStarted, ERROR_BAD_EXE_FORMAT});
    EXPECT_EQ(notStarted.rfind(L"X.exe could not be started: ", 0), 0u) << notStarted;
    EXPECT_NE(notStarted.find(L"(error 193)."), std::wstring::npos) << notStarted;
}

// What the program writes is what the runner reads: a failed run's error and
// log, an error text with blank and lone-LF lines, a meaning beyond ASCII.
TEST(RunRecords, WhatTheProgramWritesTheRunnerReads) {
    RecordsOutput output;
    RunRecords::WriteLog(L"07.12.2026 11:22:33: Using C:\\Windows\\Sys\u00dfWOW64\\TVex.DLL");
    RunRecords::WriteResult(3);
    RunRecords::WriteError(L"Can't register Tarvex ActiveX control, result  3!\r\n\r\nPlease contact\nX");
    RunRecords::WriteLog(L"07.12.2026 11:22:34: Registration finished");
    ProgramRecords::Collector records;
    for (const std::string& record : output.Records()) records.Add(FromUtf8(record));
    EXPECT_EQ(records.FailureMessage(L"X.exe", {End::Exited, 1}),
              L"Can't register Tarvex ActiveX control, result  3!\r\n\r\nPlease contact\r\nX\r\n\r\n"
              L"Exit code 3 of the registration tool: " + RegistrationTool::ExitCodeMeaning(3) + L".");
    EXPECT_EQ(records.Log(), L"07.12.2026 11:22:33: Using C:\\Windows\\Sys\u00dfWOW64\\TVex.DLL\r\n"
                             L"07.12.2026 11:22:34: Registration finished\r\n");
}
