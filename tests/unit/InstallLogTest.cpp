#include "ApiOverride.h"
#include "UiRecorder.h"
#include "common/RuntimeError.h"
#include "installer/modInstallLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <new>
#include <stdexcept>
#include <string>

using namespace modInstallLog;

namespace {

const SYSTEMTIME kFixedTime = {2026, 12, 1, 7, 11, 22, 33, 0};

void WINAPI FixedLocalTime(LPSYSTEMTIME time) { *time = kFixedTime; }

std::wstring UserDate(const SYSTEMTIME& time) {
    wchar_t text[128];
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, 128);
    return text;
}

std::wstring UserTime(const SYSTEMTIME& time) {
    wchar_t text[128];
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, text, 128);
    return text;
}

template <class Exception>
std::wstring ErrorTextOf(const Exception& exception) {
    try {
        throw exception;
    } catch (...) {
        return GetErrorText();
    }
}

class InstallLog : public ::testing::Test {
protected:
    void SetUp() override {
        modInstallLog::InstallLog.clear();
        MessageBoxes::ErrorBoxShown = false;
    }
    void TearDown() override { modInstallLog::InstallLog.clear(); }
};

}  // namespace

TEST_F(InstallLog, EntriesAreUserDateSpaceLongTimeColonTextCrLfAppendedInOrder) {
    ApiOverride<decltype(api.GetLocalTime)> clock(api.GetLocalTime, FixedLocalTime);
    const std::wstring stamp = UserDate(kFixedTime) + L" " + UserTime(kFixedTime);
    ASSERT_NE(stamp.find(L"2026"), std::wstring::npos);
    ASSERT_NE(stamp.find(L"22"), std::wstring::npos);

    AddToLog(L"User is admin");
    AddToLog(L"");

    EXPECT_EQ(NowAsText(), stamp);
    EXPECT_EQ(modInstallLog::InstallLog, stamp + L": User is admin\r\n" + stamp + L": \r\n");
}

TEST_F(InstallLog, ErrorTextUsesTheStandardMessageUpperHexAndTheErrorsSource) {
    EXPECT_EQ(ErrorTextOf(RuntimeError(53, kProgramTitle, L"File not found")),
              L": File not found ($35), Source TarvexActiveXInstaller");
    EXPECT_EQ(ErrorTextOf(RuntimeError(453, L"Elsewhere", L"a description of its own")),
              L": Specified DLL function not found ($1C5), Source Elsewhere");
    EXPECT_EQ(ErrorTextOf(RuntimeError(1234, kProgramTitle, L"")),
              L": Application-defined or object-defined error ($4D2), Source TarvexActiveXInstaller");
    EXPECT_EQ(ErrorTextOf(RuntimeError(-1, kProgramTitle, L"")),
              L": Application-defined or object-defined error ($FFFFFFFF), Source TarvexActiveXInstaller");
}

TEST_F(InstallLog, ErrorTextClassifiesExceptionsThatAreNoRunTimeErrors) {
    EXPECT_EQ(ErrorTextOf(std::bad_alloc()), L": Out of memory ($7), Source TarvexActiveXInstaller");
    EXPECT_EQ(ErrorTextOf(std::logic_error("x")),
              L": Invalid procedure call or argument ($5), Source TarvexActiveXInstaller");
    try {
        throw 42;
    } catch (...) {
        EXPECT_EQ(GetErrorText(), L": Invalid procedure call or argument ($5), Source TarvexActiveXInstaller");
    }
}

TEST_F(InstallLog, ShowErrorLogsTheTextThenShowsACriticalBoxWithTheProgramTitle) {
    UiRecorder ui;
    ShowError(L"Something failed");

    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, L"Something failed");
    EXPECT_EQ(ui.boxes[0].title, L"TarvexActiveXInstaller");
    EXPECT_EQ(ui.boxes[0].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_TRUE(MessageBoxes::ErrorBoxShown);
    const std::wstring suffix = L": Something failed\r\n";
    ASSERT_GE(modInstallLog::InstallLog.size(), suffix.size());
    EXPECT_EQ(modInstallLog::InstallLog.substr(modInstallLog::InstallLog.size() - suffix.size()), suffix);
}

TEST_F(InstallLog, DiagnosticsLeaveNoTrace) {
    UiRecorder ui;
    ReportDiagnostic(L"GetVersionEx failed", true);
    EXPECT_TRUE(modInstallLog::InstallLog.empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(MessageBoxes::ErrorBoxShown);
}
