// The registration after a restart: the pending replacement of the control,
// the service that runs the starter (on a model of the Service Control
// Manager), and the starter itself.
#include "ApiOverride.h"
#include "TestFiles.h"
#include "DescriptorModel.h"
#include "packaging/restart/PendingRename.h"
#include "packaging/restart/RestartService.h"
#include "packaging/runner/ChildProcess.h"
#include "packaging/runner/FolderTrust.h"
#include "packaging/runner/ProgramRecords.h"
#include "packaging/starter/RestartStarter.h"

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

using ChildProcess::End;
using ChildProcess::Outcome;

TEST(PendingRename, OnlyARenameOntoThePathCountsWhateverItsPrefixOrCase) {
    const std::wstring dll = L"C:\\Windows\\SysWOW64\\TVex.DLL";
    using namespace std::string_literals;
    const std::pair<std::wstring, bool> cases[] = {
        {L"\\??\\C:\\Windows\\SysWOW64\\msi1A2B.tmp\0!\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        {L"\\??\\c:\\windows\\syswow64\\msi1A2B.tmp\0\\??\\c:\\windows\\syswow64\\tvex.dll\0\0"s, true},
        {L"C:\\Windows\\SysWOW64\\msi1A2B.tmp\0C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        // a delete before the rename: pairs are counted right past its empty target
        {L"\\??\\C:\\Temp\\a.tmp\0\0\\??\\C:\\Temp\\b.tmp\0!\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, true},
        {L"\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0\0"s, false},  // the DLL deleted, not replaced
        {L"\\??\\C:\\Windows\\SysWOW64\\TVex.DLL\0!\\??\\C:\\Windows\\SysWOW64\\TVex.old\0\0"s, false},
        {L"\\??\\C:\\Windows\\System32\\msi1.tmp\0!\\??\\C:\\Windows\\System32\\TVex.DLL\0\0"s, false},
        {L""s, false},
    };
    for (const auto& [data, pending] : cases) EXPECT_EQ(PendingRename::RenamesOnto(data, dll), pending) << data.size();
}

namespace {
// The Session Manager's values as the test sets them; growth is added to
// the first right after its size was asked for, as another setup would.
std::wstring renames, renames2, growth;
HKEY const kSessionManager = reinterpret_cast<HKEY>(0x5E55);
LONG WINAPI OpenSessionManager(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key) {
    *key = kSessionManager;
    return ERROR_SUCCESS;
}
LONG WINAPI QueryRenames(HKEY, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes) {
    const std::wstring& value = std::wstring(name) == L"PendingFileRenameOperations" ? renames : renames2;
    if (value.empty()) return ERROR_FILE_NOT_FOUND;
    *type = REG_MULTI_SZ;
    const DWORD needed = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!data && &value == &renames) renames += std::exchange(growth, std::wstring());
    if (data && *bytes < needed) {
        *bytes = needed;
        return ERROR_MORE_DATA;
    }
    if (data) std::memcpy(data, value.data(), needed);
    *bytes = needed;
    return ERROR_SUCCESS;
}
LONG WINAPI CloseSessionManager(HKEY) { return ERROR_SUCCESS; }
}  // namespace

TEST(PendingRename, EitherValueOfTheSessionManagerMayHoldTheReplacement) {
    ApiOverride<decltype(PendingRename::api.RegOpenKeyExW)> open(PendingRename::api.RegOpenKeyExW, OpenSessionManager);
    ApiOverride<decltype(PendingRename::api.RegQueryValueExW)> query(PendingRename::api.RegQueryValueExW, QueryRenames);
    ApiOverride<decltype(PendingRename::api.RegCloseKey)> close(PendingRename::api.RegCloseKey, CloseSessionManager);
    using namespace std::string_literals;
    const std::wstring onto = L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s;
    const std::wstring other = L"\\??\\C:\\W\\msi2.tmp\0!\\??\\C:\\W\\Other.dll\0"s;
    struct Case {
        std::wstring first, second, growth;
        bool pending;
    };
    const Case cases[] = {
        {L"", L"", L"", false},
        {L"", onto, L"", true},
        {onto, L"", L"", true},
        {other, L"", L"", false},
        {other, L"", onto, true},  // grown between the two reads of it
    };
    for (const Case& c : cases) {
        renames = c.first, renames2 = c.second, growth = c.growth;
        EXPECT_EQ(PendingRename::IsPendingReplacement(L"C:\\W\\TVex.DLL"), c.pending) << c.first.size() << " " << c.growth.size();
    }
}

namespace {
// The service control manager as the test keeps it: the services by name;
// one that someone holds open stays, marked for deletion, when deleted.
struct Service {
    std::wstring binary;
    DWORD type = 0, start = 0;
    bool accountNamed = false, heldOpen = false, marked = false;
};
struct ServiceRecord {
    std::map<std::wstring, Service> services;
    int created = 0;
    bool starterMissing = false;
};
ServiceRecord scm;
std::wstring opened;  // what the last OpenServiceW opened
SC_HANDLE const kManager = reinterpret_cast<SC_HANDLE>(0x5C1), kService = reinterpret_cast<SC_HANDLE>(0x5C2);
SC_HANDLE WINAPI OpenManager(LPCWSTR, LPCWSTR, DWORD) { return kManager; }
SC_HANDLE WINAPI Create(SC_HANDLE, LPCWSTR name, LPCWSTR, DWORD, DWORD type, DWORD start, DWORD, LPCWSTR binary, LPCWSTR,
                        LPDWORD, LPCWSTR, LPCWSTR account, LPCWSTR) {
    if (scm.services.count(name)) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    scm.services[name] = {binary, type, start, account != nullptr};
    ++scm.created;
    return kService;
}
SC_HANDLE WINAPI OpenOne(SC_HANDLE, LPCWSTR name, DWORD) {
    if (!scm.services.count(name)) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    opened = name;
    return kService;
}
std::vector<std::wstring> listed;
BOOL WINAPI Enumerate(SC_HANDLE, DWORD, DWORD, LPENUM_SERVICE_STATUSW services, DWORD, LPDWORD, LPDWORD returned, LPDWORD) {
    listed = {L"Spooler"};
    for (const auto& service : scm.services) listed.push_back(service.first);
    for (std::size_t i = 0; i < listed.size(); ++i) services[i] = {&listed[i][0], &listed[i][0], {}};
    *returned = static_cast<DWORD>(listed.size());
    return TRUE;
}
BOOL WINAPI Delete(SC_HANDLE) {
    Service& service = scm.services[opened];
    if (service.marked) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    if (service.heldOpen) service.marked = true;
    else scm.services.erase(opened);
    return TRUE;
}
BOOL WINAPI QueryConfig(SC_HANDLE, LPQUERY_SERVICE_CONFIGW config, DWORD size, LPDWORD needed) {
    const std::wstring& binary = scm.services[opened].binary;
    *needed = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + (binary.size() + 1) * sizeof(wchar_t));
    if (!config || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *config = {};
    config->lpBinaryPathName = reinterpret_cast<LPWSTR>(config + 1);
    binary.copy(config->lpBinaryPathName, binary.size());
    config->lpBinaryPathName[binary.size()] = L'\0';
    return TRUE;
}
BOOL WINAPI ChangeNothing(SC_HANDLE, DWORD, DWORD, DWORD, LPCWSTR, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) {
    if (!scm.services[opened].marked) return TRUE;
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
}
BOOL WINAPI CloseOne(SC_HANDLE) { return TRUE; }
DWORD WINAPI StarterAttributes(LPCWSTR) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return scm.starterMissing ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_NORMAL;
}
// The services that would start at the next restart: those not marked for deletion.
std::vector<Service> Arranged() {
    std::vector<Service> arranged;
    for (const auto& service : scm.services)
        if (!service.second.marked) arranged.push_back(service.second);
    return arranged;
}

class ServiceManagerModel : public ::testing::Test {
protected:
    void SetUp() override { scm = ServiceRecord(); }
    const std::wstring starter = L"C:\\Program Files (x86)\\Tarvex ActiveX\\TarvexRegisterAtRestart.exe";
    ApiOverride<decltype(RestartService::api.OpenSCManagerW)> manager_{RestartService::api.OpenSCManagerW, OpenManager};
    ApiOverride<decltype(RestartService::api.CreateServiceW)> create_{RestartService::api.CreateServiceW, Create};
    ApiOverride<decltype(RestartService::api.OpenServiceW)> open_{RestartService::api.OpenServiceW, OpenOne};
    ApiOverride<decltype(RestartService::api.EnumServicesStatusW)> list_{RestartService::api.EnumServicesStatusW,
                                                                          Enumerate};
    ApiOverride<decltype(RestartService::api.QueryServiceConfigW)> query_{RestartService::api.QueryServiceConfigW,
                                                                          QueryConfig};
    ApiOverride<decltype(RestartService::api.ChangeServiceConfigW)> change_{RestartService::api.ChangeServiceConfigW,
                                                                            ChangeNothing};
    ApiOverride<decltype(RestartService::api.DeleteService)> remove_{RestartService::api.DeleteService, Delete};
    ApiOverride<decltype(RestartService::api.CloseServiceHandle)> close_{RestartService::api.CloseServiceHandle,
                                                                         CloseOne};
    ApiOverride<decltype(RestartService::api.GetFileAttributesW)> file_{RestartService::api.GetFileAttributesW,
                                                                        StarterAttributes};
};
}  // namespace

// Each arrangement is a service made anew, with nothing an earlier one had:
// the earlier ones are deleted first, whatever their fields.
TEST_F(ServiceManagerModel, OneAutoStartLocalSystemServiceWhoseQuotedBinaryLiesWhereTheStarterIs) {
    const RestartService::Cancelled none = RestartService::Cancel();
    EXPECT_EQ(none.error, 0u) << "nothing arranged is nothing to take away";
    EXPECT_FALSE(none.wasArranged);
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    ASSERT_EQ(Arranged().size(), 1u);
    const Service first = Arranged()[0];
    EXPECT_EQ(first.binary, L"\"" + starter + L"\"") << "unquoted, C:\\Program.exe would run as SYSTEM";
    EXPECT_EQ(first.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(first.start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_FALSE(first.accountNamed) << "no account: LocalSystem";
    scm.services[RestartService::kServiceNamePrefix] = {L"\"C:\\Old\\starter.exe\""};  // an earlier release's
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    EXPECT_EQ(scm.created, 2) << "a second arrangement is a service made anew";
    ASSERT_EQ(Arranged().size(), 1u) << "... and the only one";
    EXPECT_EQ(Arranged()[0].binary, L"\"" + starter + L"\"");
    EXPECT_EQ(scm.services.begin()->first.rfind(std::wstring(RestartService::kServiceNamePrefix) + L"-", 0), 0u);
    const RestartService::Cancelled cancelled = RestartService::Cancel();
    EXPECT_EQ(cancelled.error, 0u);
    EXPECT_TRUE(cancelled.wasArranged);
    EXPECT_TRUE(scm.services.empty());
}

// Anyone may open a service for its status and hold it open, which keeps a
// deleted one marked for deletion: that one no longer starts, and can't
// keep the next arrangement from being made.
TEST_F(ServiceManagerModel, AnEarlierArrangementHeldOpenCantBlockTheNext) {
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    scm.services.begin()->second.heldOpen = true;
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u);
    EXPECT_EQ(Arranged().size(), 1u);
    EXPECT_EQ(scm.services.size(), 2u) << "the one held open is marked for deletion";
    EXPECT_EQ(RestartService::Arrange(starter).error, 0u) << "... and marked again is no error";
    EXPECT_EQ(RestartService::Cancel().error, 0u);
    EXPECT_TRUE(Arranged().empty());
}

// The rollbacks' rule, with no record of what came before: arranged exactly
// while a rename onto the control waits for the restart; one there for the
// starter stays (its file may be back only after the rollback, as Wine's
// rollback never brings it back), one marked for deletion is made anew.
TEST_F(ServiceManagerModel, RollbacksArrangeExactlyWhileARenameOntoTheControlWaits) {
    ApiOverride<decltype(PendingRename::api.RegOpenKeyExW)> openRenames(PendingRename::api.RegOpenKeyExW,
                                                                        OpenSessionManager);
    ApiOverride<decltype(PendingRename::api.RegQueryValueExW)> queryRenames(PendingRename::api.RegQueryValueExW,
                                                                            QueryRenames);
    ApiOverride<decltype(PendingRename::api.RegCloseKey)> closeRenames(PendingRename::api.RegCloseKey,
                                                                       CloseSessionManager);
    using namespace std::string_literals;
    const std::wstring control = L"C:\\W\\TVex.DLL";
    for (const bool pending : {true, false}) {
        for (const bool arrangedBefore : {true, false}) {
            scm = ServiceRecord();
            if (arrangedBefore) scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starter + L"\""};
            renames = pending ? L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s : L""s, renames2.clear(), growth.clear();
            const RestartService::Matched matched = RestartService::MatchPendingRename(control, starter);
            EXPECT_EQ(matched.error, 0u);
            EXPECT_EQ(matched.arranged, pending);
            EXPECT_EQ(Arranged().size(), pending ? 1u : 0u) << "pending " << pending << ", arranged before " << arrangedBefore;
            EXPECT_EQ(scm.created, pending && !arrangedBefore ? 1 : 0);
        }
    }
    scm = ServiceRecord();
    scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starter + L"\""};
    scm.services.begin()->second.heldOpen = scm.services.begin()->second.marked = true;
    renames = L"\\??\\C:\\W\\msi1.tmp\0!\\??\\C:\\W\\TVex.DLL\0"s;
    EXPECT_EQ(RestartService::MatchPendingRename(control, starter).error, 0u);
    EXPECT_EQ(Arranged().size(), 1u) << "one that will never run is no arrangement";
}

// What runs as SYSTEM at the next start is arranged only for a starter that
// is there and that the trusted accounts alone may change.
TEST_F(ServiceManagerModel, AStarterThatIsMissingOrThatUsersCouldChangeIsNotArranged) {
    scm.starterMissing = true;
    RestartService::Arranged arranged = RestartService::Arrange(starter);
    EXPECT_NE(arranged.error, 0u);
    EXPECT_NE(arranged.refusal.find(L"no such file"), std::wstring::npos) << arranged.refusal;
    scm.starterMissing = false;
    ApiOverride<decltype(FolderTrust::api.GetNamedSecurityInfoW)> read(FolderTrust::api.GetNamedSecurityInfoW,
                                                                       DescriptorOf);
    descriptorText = L"O:BAD:(A;;FA;;;SY)(A;OICI;0x1301bf;;;BU)", descriptorError = 0;
    arranged = RestartService::Arrange(starter);
    EXPECT_NE(arranged.error, 0u);
    EXPECT_NE(arranged.refusal.find(L"Users"), std::wstring::npos) << arranged.refusal;
    EXPECT_TRUE(scm.services.empty());
}

namespace {
// The service control manager's side of the starter: how the service stopped and the events it wrote.
std::vector<DWORD> stopCodes;
std::vector<std::pair<WORD, std::wstring>> starterEvents;
std::wstring starterPath;
DWORD exitCodeGiven = 0;
BOOL WINAPI Dispatch(const SERVICE_TABLE_ENTRYW* services) {
    services[0].lpServiceProc(0, nullptr);
    return TRUE;
}
SERVICE_STATUS_HANDLE WINAPI RegisterHandler(LPCWSTR, LPHANDLER_FUNCTION) {
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x51);
}
BOOL WINAPI Status(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    if (status->dwCurrentState == SERVICE_STOPPED) stopCodes.push_back(status->dwWin32ExitCode);
    return TRUE;
}
DWORD WINAPI StarterFile(HMODULE, LPWSTR path, DWORD size) {
    return static_cast<DWORD>(starterPath.copy(path, size - 1));
}
HANDLE WINAPI EventSource(LPCWSTR, LPCWSTR) { return reinterpret_cast<HANDLE>(0xE5); }
BOOL WINAPI StarterEvent(HANDLE, WORD type, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR* strings, LPVOID) {
    starterEvents.emplace_back(type, strings[0]);
    return TRUE;
}
BOOL WINAPI NoEventSource(HANDLE) { return TRUE; }
BOOL WINAPI GivenExitCode(HANDLE, LPDWORD code) {
    *code = exitCodeGiven;
    return TRUE;
}
DWORD overdueTicks = 0;
DWORD WINAPI Overdue() { return overdueTicks += 11 * 60000; }
}  // namespace

// The starter stops with an exit code that the Service Control Manager logs
// (event 7023 with the code's text): the program's failure, its time-out,
// or why it could not start; its event says the same, and the service goes.
TEST_F(ServiceManagerModel, TheStarterStopsWithTheRunsOwnErrorAndGoes) {
    ApiOverride<decltype(RestartStarter::api.StartServiceCtrlDispatcherW)> dispatch(
        RestartStarter::api.StartServiceCtrlDispatcherW, Dispatch);
    ApiOverride<decltype(RestartStarter::api.RegisterServiceCtrlHandlerW)> handler(
        RestartStarter::api.RegisterServiceCtrlHandlerW, RegisterHandler);
    ApiOverride<decltype(RestartStarter::api.SetServiceStatus)> status(RestartStarter::api.SetServiceStatus, Status);
    ApiOverride<decltype(RestartStarter::api.GetModuleFileNameW)> file(RestartStarter::api.GetModuleFileNameW,
                                                                       StarterFile);
    ApiOverride<decltype(RestartStarter::api.RegisterEventSourceW)> source(RestartStarter::api.RegisterEventSourceW,
                                                                           EventSource);
    ApiOverride<decltype(RestartStarter::api.ReportEventW)> report(RestartStarter::api.ReportEventW, StarterEvent);
    ApiOverride<decltype(RestartStarter::api.DeregisterEventSource)> release(
        RestartStarter::api.DeregisterEventSource, NoEventSource);
    ApiOverride<decltype(ChildProcess::api.GetExitCodeProcess)> code(ChildProcess::api.GetExitCodeProcess,
                                                                     GivenExitCode);
    // A folder of this run's own, in its prefix's temporary folder: the suites of
    // both prefixes run side by side from one build folder.
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring folder =
        temp + (L"tvx_starter_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount()));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr)) << "error " << ::GetLastError();
    starterPath = folder + L"\\TarvexRegisterAtRestart.exe";
    const std::wstring program = folder + L"\\TarvexActiveXInstaller.exe";
    ::DeleteFileW(program.c_str());
    const struct {
        bool present;
        DWORD exitCode;
        bool overdue;
        DWORD stopCode;
    } cases[] = {{false, 0, false, ERROR_FILE_NOT_FOUND},
                 {true, 0, false, NO_ERROR},
                 {true, 1, false, ERROR_INSTALL_FAILURE},
                 {true, 0, true, ERROR_TIMEOUT}};
    for (const auto& c : cases) {
        if (c.present) ::CopyFileW((TestProgramFolder() + L"exit_with_code.exe").c_str(), program.c_str(), FALSE);
        stopCodes.clear(), starterEvents.clear(), exitCodeGiven = c.exitCode, overdueTicks = 0;
        scm.services[L"TarvexRegisterAtRestart-1"] = {L"\"" + starterPath + L"\""};
        {
            ApiOverride<decltype(ChildProcess::api.GetTickCount)> ticks(
                ChildProcess::api.GetTickCount, c.overdue ? Overdue : ChildProcess::api.GetTickCount);
            EXPECT_EQ(RestartStarter::RunAsService(), 0);
        }
        EXPECT_EQ(stopCodes, std::vector<DWORD>{c.stopCode}) << "exit code " << c.exitCode;
        ASSERT_EQ(starterEvents.size(), 1u);
        EXPECT_EQ(starterEvents[0].first, c.stopCode ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE)
            << starterEvents[0].second;
        EXPECT_TRUE(scm.services.empty()) << "the service goes, whatever came of the run";
    }
    ::DeleteFileW(program.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST(RestartStarter, ALongEventKeepsTheOutcomeAndTheLogsEndAndSaysItWasCut) {
    const std::wstring outcome = L"Registration after the restart: TarvexActiveXInstaller.exe ended with exit code 1.";
    std::wstring log;
    for (int i = 0; log.size() < 40000; ++i) log += L"10.12.2026 11:22:33: entry " + std::to_wstring(i) + L"\r\n";
    const std::wstring text = RestartStarter::EventText(outcome, log);
    EXPECT_EQ(text.size(), RestartStarter::kEventTextLimit);
    EXPECT_EQ(text.rfind(outcome, 0), 0u);
    EXPECT_NE(text.find(L"cut"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 200), log.substr(log.size() - 200)) << "the log's end, where it failed";
    EXPECT_EQ(RestartStarter::EventText(outcome, L"short\r\n"), outcome + L"\r\nshort\r\n");
}
