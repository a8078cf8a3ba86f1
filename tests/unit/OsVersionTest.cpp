#include "common/modCommonOsVersion.h"

#include "ApiOverride.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace modCommonOsVersion;

namespace {

using Diagnostic = std::pair<std::wstring, bool>;

// The system the module sees through its table, and what it asked of it.
struct FakeSystem {
    DWORD platform = VER_PLATFORM_WIN32_NT, major = 6, minor = 1;
    WORD suiteMask = 0;
    BYTE productType = VER_NT_WORKSTATION;
    BOOL plainOk = TRUE, extendedOk = TRUE;
    WORD architecture = PROCESSOR_ARCHITECTURE_INTEL;
    bool hasIsWow64Process = true;
    BOOL wow64Ok = TRUE, wow64 = FALSE;
    std::vector<std::string> calls;
    std::vector<Diagnostic> diagnostics;
};
FakeSystem fake;
const HANDLE kOwnProcess = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-7));

// Only the plain record carries the version numbers, so reading them from the
// extended one shows.
BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info) {
    const DWORD size = info->dwOSVersionInfoSize;
    fake.calls.push_back("GetVersionExA " + std::to_string(size));
    if (size == sizeof(OSVERSIONINFOEXA)) {
        if (!fake.extendedOk) return FALSE;
        auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
        ex->wSuiteMask = fake.suiteMask;
        ex->wProductType = fake.productType;
        return TRUE;
    }
    if (!fake.plainOk) return FALSE;
    info->dwPlatformId = fake.platform;
    info->dwMajorVersion = fake.major;
    info->dwMinorVersion = fake.minor;
    return TRUE;
}

void WINAPI FakeGetSystemInfo(SYSTEM_INFO* info) {
    fake.calls.push_back("GetSystemInfo");
    *info = SYSTEM_INFO{};
    info->wProcessorArchitecture = fake.architecture;
}

HANDLE WINAPI FakeGetCurrentProcess() { return kOwnProcess; }

// Leaves the out-value alone when it fails, as Windows does.
BOOL WINAPI FakeIsWow64Process(HANDLE process, BOOL* wow64) {
    fake.calls.push_back(process == kOwnProcess ? "IsWow64Process" : "IsWow64Process on another handle");
    if (fake.wow64Ok) *wow64 = fake.wow64;
    return fake.wow64Ok;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    if (module != ::GetModuleHandleW(L"kernel32.dll") || std::strcmp(name, "IsWow64Process") != 0) return nullptr;
    if (!fake.hasIsWow64Process) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeIsWow64Process));
}

void RecordDiagnostic(const std::wstring& message, bool flag) { fake.diagnostics.emplace_back(message, flag); }

void ResetModuleState() {
    OsVersionCached = false;
    OsVersionCode = Win32s;
    VersionInfo = {};
    VersionInfoOk = FALSE;
    VersionInfoEx = {};
    VersionInfoExOk = FALSE;
    SysInfo = {};
}

class OsVersionTest : public testing::Test {
protected:
    void SetUp() override {
        fake = FakeSystem{};
        ResetModuleState();
    }
    void TearDown() override { ResetModuleState(); }

    ApiOverride<decltype(Api::GetVersionExA)> version_{api.GetVersionExA, FakeGetVersionExA};
    ApiOverride<decltype(Api::GetSystemInfo)> systemInfo_{api.GetSystemInfo, FakeGetSystemInfo};
    ApiOverride<decltype(Api::GetCurrentProcess)> process_{api.GetCurrentProcess, FakeGetCurrentProcess};
    ApiOverride<decltype(Api::GetProcAddress)> procAddress_{api.GetProcAddress, FakeGetProcAddress};
    ApiOverride<decltype(Api::ReportDiagnostic)> diagnostic_{api.ReportDiagnostic, RecordDiagnostic};
};

const std::vector<std::string> kBothQueries = {"GetVersionExA 148", "GetVersionExA 156"};

// Stored before each case: the detection never yields it, so a row that keeps
// the stored code is told apart from one that assigns.
constexpr OsVersion kStored = WinServer2003R2;

struct Case {
    DWORD platform, major, minor;
    WORD suiteMask;
    BYTE productType;
    BOOL extendedOk;
    OsVersion expected;
    const wchar_t* fallbackMessage;
};

// One case per row of the classification, in its order.
const Case kCases[] = {
    {0, 7, 3, 0, 0, FALSE, Win32s, nullptr},
    {1, 9, 0, 0, 0, FALSE, Win95, nullptr},
    {1, 4, 10, 0, 0, TRUE, Win98, nullptr},
    {1, 4, 90, 0, 0, TRUE, WinMe, nullptr},
    {1, 4, 3, 0, 0, TRUE, kStored, nullptr},
    {2, 3, 51, 0, 0, TRUE, WinNT3, nullptr},
    {2, 4, 0, 0, 0, FALSE, WinNT4, nullptr},
    {2, 5, 0, 0, 0, FALSE, Win2000, nullptr},
    {2, 5, 1, 0x0200, 1, FALSE, WinXP, L"Can't get XP suite (API error)"},
    {2, 5, 1, 0x0300, 1, TRUE, WinXPHome, nullptr},
    {2, 5, 1, 0x0100, 1, TRUE, WinXP, nullptr},
    {2, 5, 2, 0, 3, FALSE, WinXP64, L"Can't differentiate OS 5.2"},
    {2, 5, 2, 0, 1, TRUE, WinXP64, nullptr},
    {2, 5, 2, 0, 2, TRUE, WinServer2003, nullptr},
    {2, 5, 3, 0, 1, TRUE, kStored, nullptr},
    {2, 6, 0, 0, 3, FALSE, WinVista, L"Can't differentiate OS 6.0"},
    {2, 6, 0, 0, 1, TRUE, WinVista, nullptr},
    {2, 6, 0, 0, 3, TRUE, WinServer2008, nullptr},
    {2, 6, 1, 0, 3, FALSE, Win7, L"Can't differentiate OS 6.1"},
    {2, 6, 1, 0, 1, TRUE, Win7, nullptr},
    {2, 6, 1, 0, 3, TRUE, WinServer2008R2, nullptr},
    {2, 6, 2, 0, 3, FALSE, Win8, L"Can't differentiate OS 6.2"},
    {2, 6, 2, 0, 1, TRUE, Win8, nullptr},
    {2, 6, 2, 0, 2, TRUE, WinServer2012, nullptr},
    {2, 6, 3, 0, 1, TRUE, kStored, nullptr},
    {2, 10, 0, 0, 1, TRUE, kStored, nullptr},
    {3, 6, 1, 0, 1, TRUE, kStored, nullptr},
};

}  // namespace

TEST_F(OsVersionTest, ClassifiesEveryRowAndCachesAllButTheFallbacks) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.platform << ", " << c.major << "." << c.minor
                                        << ", suite " << c.suiteMask << ", product " << int(c.productType)
                                        << ", extended query " << (c.extendedOk ? "ok" : "failed"));
        SetUp();
        OsVersionCode = kStored;
        fake.platform = c.platform, fake.major = c.major, fake.minor = c.minor;
        fake.suiteMask = c.suiteMask, fake.productType = c.productType, fake.extendedOk = c.extendedOk;

        EXPECT_EQ(GetOsVersion(), c.expected);
        EXPECT_EQ(OsVersionCode, c.expected);
        EXPECT_EQ(OsVersionCached, c.fallbackMessage == nullptr);
        EXPECT_EQ(fake.calls, kBothQueries);
        const std::vector<Diagnostic> expected =
            c.fallbackMessage ? std::vector<Diagnostic>{{c.fallbackMessage, true}} : std::vector<Diagnostic>{};
        EXPECT_EQ(fake.diagnostics, expected);
    }
}

TEST_F(OsVersionTest, FailuresAreReportedAndAskedAgainUntilADetectionCompletes) {
    OsVersionCode = Win7;
    fake.plainOk = FALSE;
    EXPECT_EQ(GetOsVersion(), Win32s);
    EXPECT_EQ(OsVersionCode, Win32s);
    EXPECT_EQ(GetOsVersion(), Win32s);

    fake.plainOk = TRUE, fake.extendedOk = FALSE;
    EXPECT_EQ(GetOsVersion(), Win7);
    EXPECT_EQ(GetOsVersion(), Win7);

    fake.extendedOk = TRUE, fake.productType = VER_NT_SERVER;
    EXPECT_EQ(GetOsVersion(), WinServer2008R2);
    fake.productType = VER_NT_WORKSTATION;
    EXPECT_EQ(GetOsVersion(), WinServer2008R2);
    EXPECT_TRUE(OsVersionCached);

    const std::vector<std::string> calls = {"GetVersionExA 148", "GetVersionExA 148", "GetVersionExA 148",
                                            "GetVersionExA 156", "GetVersionExA 148", "GetVersionExA 156",
                                            "GetVersionExA 148", "GetVersionExA 156"};
    EXPECT_EQ(fake.calls, calls);
    const std::vector<Diagnostic> diagnostics = {{L"Can't get OS version (API error)", true},
                                                 {L"Can't get OS version (API error)", true},
                                                 {L"Can't differentiate OS 6.1", true},
                                                 {L"Can't differentiate OS 6.1", true}};
    EXPECT_EQ(fake.diagnostics, diagnostics);
}

TEST_F(OsVersionTest, IsWow64AsksForTheOwnProcessAndTurnsTroubleIntoFalse) {
    fake.wow64 = TRUE;
    EXPECT_TRUE(IsWow64());
    fake.wow64Ok = FALSE;
    EXPECT_FALSE(IsWow64());
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"IsWow64Process", "IsWow64Process"}));
    EXPECT_TRUE(fake.diagnostics.empty());

    fake.hasIsWow64Process = false;
    EXPECT_FALSE(IsWow64());
    const std::vector<Diagnostic> diagnostics = {
        {L"Can't check for 64 bit OS: Specified DLL function not found ($1C5), Source TarvexActiveXInstaller", false}};
    EXPECT_EQ(fake.diagnostics, diagnostics);
}

TEST_F(OsVersionTest, OnlyIa64AndAmd64AreSixtyFourBitProcessorsAskedEveryTime) {
    const std::pair<WORD, bool> cases[] = {{PROCESSOR_ARCHITECTURE_INTEL, false},
                                           {PROCESSOR_ARCHITECTURE_IA64, true},
                                           {PROCESSOR_ARCHITECTURE_AMD64, true},
                                           {12 /* ARM64 */, false}};
    for (const auto& [architecture, expected] : cases) {
        fake.architecture = architecture;
        EXPECT_EQ(Is64BitProcessor(), expected) << "architecture " << architecture;
    }
    EXPECT_EQ(fake.calls.size(), std::size(cases));
}

TEST_F(OsVersionTest, NameIsTheCodesDisplayNameWithTheBitnessOfEitherTest) {
    fake.architecture = PROCESSOR_ARCHITECTURE_AMD64, fake.wow64 = TRUE;
    EXPECT_EQ(GetOsName(), L"Windows 7 (64bit)");
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"GetVersionExA 148", "GetVersionExA 156", "GetSystemInfo",
                                                    "IsWow64Process"}));

    const struct {
        long code;
        WORD architecture;
        BOOL wow64;
        const wchar_t* name;
    } cases[] = {
        {Win32s, PROCESSOR_ARCHITECTURE_INTEL, FALSE, L"Windows 32s"},
        {WinXPHome, PROCESSOR_ARCHITECTURE_INTEL, FALSE, L"Windows XP Home Edition"},
        {WinServer2003R2, PROCESSOR_ARCHITECTURE_IA64, FALSE, L"Windows Server 2003 R2 (64bit)"},
        {WinServer2008R2, PROCESSOR_ARCHITECTURE_INTEL, TRUE, L"Windows Server 2008 R2 (64bit)"},
        {18, PROCESSOR_ARCHITECTURE_INTEL, FALSE, L"Windows ?"},
        {-1, PROCESSOR_ARCHITECTURE_AMD64, FALSE, L"Windows ? (64bit)"},
    };
    for (const auto& c : cases) {
        fake.calls.clear();
        OsVersionCode = static_cast<OsVersion>(c.code);
        fake.architecture = c.architecture, fake.wow64 = c.wow64;
        EXPECT_EQ(GetOsName(), c.name);
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"GetSystemInfo", "IsWow64Process"})) << "code " << c.code;
    }
}
