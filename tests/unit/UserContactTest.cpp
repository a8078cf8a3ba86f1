// How the program meets the user: whether anyone sees the run, its boxes,
// the event of an unseen run, the clipboard.
#include "ApiOverride.h"
#include "UiRecorder.h"
#include "common/RuntimeError.h"
#include "common/modCommonOsVersion.h"
#include "installer/Clipboard.h"
#include "installer/MessageBoxes.h"
#include "installer/RunAudience.h"
#include "installer/RunEvent.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using Station = UiRecorder::Station;

namespace {

DWORD ntMajor = 0;  // 0: the version query fails
BOOL WINAPI NtVersion(OSVERSIONINFOA* info) {
    if (ntMajor == 0) return FALSE;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->dwMajorVersion = ntMajor;
    info->dwMinorVersion = ntMajor == 5 ? 1 : 0;
    return TRUE;
}

}  // namespace

// Unseen: a station known to be invisible, or session 0 from Vista (NT 6) on.
// Any question without an answer counts as seen.
TEST(RunAudience, RunIsUnseenOnAnInvisibleStationOrInSessionZeroFromVistaOn) {
    ApiOverride<decltype(modCommonOsVersion::api.GetVersionExA)> version(modCommonOsVersion::api.GetVersionExA,
                                                                         NtVersion);
    const struct {
        Station station;
        long session;  // negative: no answer
        DWORD ntMajor;
        bool seen;
    } cases[] = {{Station::Visible, 1, 10, true},    {Station::Invisible, 1, 10, false},
                 {Station::QueryFails, 1, 10, true}, {Station::Visible, 0, 6, false},
                 {Station::Visible, 0, 10, false},   {Station::Visible, 0, 5, true},
                 {Station::Visible, -1, 10, true},   {Station::Visible, 0, 0, true},
                 {Station::Invisible, 0, 5, false}};
    for (const auto& c : cases) {
        UiRecorder ui;
        ui.station = c.station;
        ui.session = c.session;
        ntMajor = c.ntMajor;
        RunAudience::DetectWhetherRunIsSeen();
        EXPECT_EQ(RunAudience::RunIsSeen, c.seen)
            << "station " << static_cast<int>(c.station) << ", session " << c.session << ", NT " << c.ntMajor;
    }
}

// As a service account the run is unseen wherever its station is: Windows
// Installer runs its elevated actions as SYSTEM on the desktop of whoever
// started the installation.
TEST(RunAudience, RunAsAServiceAccountIsUnseenOnAVisibleStationToo) {
    using Account = UiRecorder::Account;
    const std::pair<Account, bool> cases[] = {
        {Account::Own, true},             // the test's own account, an administrator
        {Account::LocalSystem, false},    {Account::LocalService, false},
        {Account::NetworkService, false}, {Account::Unreadable, true},
    };
    for (const auto& [account, seen] : cases) {
        UiRecorder ui;
        ui.account = account;
        RunAudience::DetectWhetherRunIsSeen();
        EXPECT_EQ(RunAudience::RunIsSeen, seen) << "account " << static_cast<int>(account);
    }
}

TEST(MessageBoxes, UnseenBoxesAreAnsweredNoToTheQuestionOkOtherwiseAndNeverShown) {
    UiRecorder ui;
    ui.station = Station::Invisible;
    RunAudience::DetectWhetherRunIsSeen();

    EXPECT_EQ(MessageBoxes::ShowMessage(L"Copy info to clipboard ?", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxes::ShowMessage(L"note", MB_OK), IDOK);
    EXPECT_FALSE(MessageBoxes::ErrorBoxShown);
    MessageBoxes::ShowErrorBox(L"Something failed");
    EXPECT_TRUE(MessageBoxes::ErrorBoxShown) << "an unseen error box still makes the run a failed one";
    EXPECT_TRUE(ui.boxes.empty());
}

TEST(RunEvent, EventCarriesTheWholeTextAsItsOneStringWithTheRunsType) {
    const std::wstring log = L"7.12.2026 11:22:33: first\r\n7.12.2026 11:22:34: second\r\n";
    for (const bool failed : {false, true}) {
        UiRecorder ui;
        RunEvent::ReportToEventLog(log, failed);
        ASSERT_EQ(ui.events.size(), 1u);
        EXPECT_EQ(ui.events[0].source, L"TarvexActiveXInstaller");
        EXPECT_EQ(ui.events[0].type, failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE);
        EXPECT_EQ(ui.events[0].strings, std::vector<std::wstring>{log});
        EXPECT_EQ(ui.openEventSources, 0) << "the event source is closed again";
    }
    UiRecorder refused;
    refused.refuseEventSource = true;
    RunEvent::ReportToEventLog(log, true);
    EXPECT_TRUE(refused.events.empty());
}

TEST(Clipboard, ClipboardIsOpenedForAMessageOnlyWindowThatIsGoneAfterwards) {
    UiRecorder ui;
    Clipboard::SetClipboardText(L"the log");

    EXPECT_EQ(ui.clipboard, std::vector<std::wstring>{L"the log"});
    ASSERT_EQ(ui.clipboardOwners.size(), 1u);
    const HWND owner = ui.clipboardOwners[0];
    EXPECT_NE(owner, nullptr);
    EXPECT_EQ(ui.ownerWasMessageOnly, std::vector<bool>{true});
    EXPECT_FALSE(::IsWindow(owner)) << "the owner window is destroyed after use";
    EXPECT_FALSE(ui.clipboardOpen);
}

TEST(Clipboard, ClipboardThatStaysLockedRaises521AndLeavesNoWindow) {
    UiRecorder ui;
    ui.refuseClipboard = true;
    HWND before = ::FindWindowExW(HWND_MESSAGE, nullptr, L"STATIC", nullptr);
    try {
        Clipboard::SetClipboardText(L"the log");
        ADD_FAILURE() << "no run-time error";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), kErrCantOpenClipboard);
    }
    EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, L"STATIC", nullptr), before);
    EXPECT_TRUE(ui.clipboard.empty());
}
