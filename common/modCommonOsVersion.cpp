// Which Windows the program runs on, and whether that Windows is 64-bit.
// Trouble goes to the diagnostic hook only; callers see plain answers.
#include "common/modCommonOsVersion.h"

#include "common/CommonCallbacks.h"
#include "shared/EntryPoint.h"
#include "common/RuntimeError.h"

#include <iterator>
#include <optional>

namespace modCommonOsVersion {

Api api = {
    ::GetVersionExA, ::GetSystemInfo, ::GetCurrentProcess, ::GetModuleHandleW, ::GetProcAddress,
    CommonCallbacks::ReportDiagnostic,
};

bool OsVersionCached = false;
OsVersion OsVersionCode = Win32s;
OSVERSIONINFOA VersionInfo = {};
BOOL VersionInfoOk = FALSE;
OSVERSIONINFOEXA VersionInfoEx = {};
BOOL VersionInfoExOk = FALSE;
SYSTEM_INFO SysInfo = {};

namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148, "plain version record");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");

void LoadOsVersionInfo() {
    VersionInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    VersionInfoOk = api.GetVersionExA(&VersionInfo);
}

void LoadOsVersionInfoEx() {
    VersionInfoEx.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    VersionInfoExOk = api.GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&VersionInfoEx));
}

void LoadSystemInfo() { api.GetSystemInfo(&SysInfo); }

// The classification of the system. Rows are tried top to bottom; the first
// whose platform, major and minor version match and whose further test passes
// decides. A row ending in a fallback reports its message and is not cached,
// so the next call asks the system again; every other row caches its result.
constexpr DWORD kAny = 0xFFFFFFFF;
constexpr DWORD kPlatform32s = VER_PLATFORM_WIN32s;
constexpr DWORD kPlatform9x = VER_PLATFORM_WIN32_WINDOWS;
constexpr DWORD kPlatformNT = VER_PLATFORM_WIN32_NT;

// Leaves OsVersionCode as it is: systems without a code of their own keep
// whatever an earlier call stored, Win32s in a fresh run.
constexpr std::optional<OsVersion> kKeep = std::nullopt;

enum class Further { None, ExtendedQueryFailed, PersonalSuite, Workstation };

struct Ending {
    const wchar_t* fallbackMessage;  // null: the result is cached
};
constexpr Ending kCache{nullptr};
constexpr Ending Fallback(const wchar_t* message) { return Ending{message}; }

struct Row {
    DWORD platform;
    DWORD major;
    DWORD minor;
    Further further;
    std::optional<OsVersion> result;
    Ending ending;
};

constexpr Row kRows[] = {
    // platform    major minor further test                  result           ends with
    {kPlatform32s, kAny, kAny, Further::None,                Win32s,          kCache},

    {kPlatform9x,  kAny, 0,    Further::None,                Win95,           kCache},
    {kPlatform9x,  kAny, 10,   Further::None,                Win98,           kCache},
    {kPlatform9x,  kAny, 90,   Further::None,                WinMe,           kCache},
    {kPlatform9x,  kAny, kAny, Further::None,                kKeep,           kCache},

    {kPlatformNT,  3,    kAny, Further::None,                WinNT3,          kCache},
    {kPlatformNT,  4,    kAny, Further::None,                WinNT4,          kCache},
    {kPlatformNT,  5,    0,    Further::None,                Win2000,         kCache},
    {kPlatformNT,  5,    1,    Further::ExtendedQueryFailed, WinXP,           Fallback(L"Can't get XP suite (API error)")},
    {kPlatformNT,  5,    1,    Further::PersonalSuite,       WinXPHome,       kCache},
    {kPlatformNT,  5,    1,    Further::None,                WinXP,           kCache},
    {kPlatformNT,  5,    2,    Further::ExtendedQueryFailed, WinXP64,         Fallback(L"Can't differentiate OS 5.2")},
    {kPlatformNT,  5,    2,    Further::Workstation,         WinXP64,         kCache},
    {kPlatformNT,  5,    2,    Further::None,                WinServer2003,   kCache},
    {kPlatformNT,  5,    kAny, Further::None,                kKeep,           kCache},
    {kPlatformNT,  6,    0,    Further::ExtendedQueryFailed, WinVista,        Fallback(L"Can't differentiate OS 6.0")},
    {kPlatformNT,  6,    0,    Further::Workstation,         WinVista,        kCache},
    {kPlatformNT,  6,    0,    Further::None,                WinServer2008,   kCache},
    {kPlatformNT,  6,    1,    Further::ExtendedQueryFailed, Win7,            Fallback(L"Can't differentiate OS 6.1")},
    {kPlatformNT,  6,    1,    Further::Workstation,         Win7,            kCache},
    {kPlatformNT,  6,    1,    Further::None,                WinServer2008R2, kCache},
    {kPlatformNT,  6,    2,    Further::ExtendedQueryFailed, Win8,            Fallback(L"Can't differentiate OS 6.2")},
    {kPlatformNT,  6,    2,    Further::Workstation,         Win8,            kCache},
    {kPlatformNT,  6,    2,    Further::None,                WinServer2012,   kCache},
    {kPlatformNT,  6,    kAny, Further::None,                kKeep,           kCache},
    {kPlatformNT,  kAny, kAny, Further::None,                kKeep,           kCache},

    {kAny,         kAny, kAny, Further::None,                kKeep,           kCache},
};

bool Matches(DWORD pattern, DWORD value) { return pattern == kAny || pattern == value; }

bool Passes(Further test) {
    switch (test) {
    case Further::None: return true;
    case Further::ExtendedQueryFailed: return !VersionInfoExOk;
    case Further::PersonalSuite: return (VersionInfoEx.wSuiteMask & VER_SUITE_PERSONAL) == VER_SUITE_PERSONAL;
    case Further::Workstation: return VersionInfoEx.wProductType == VER_NT_WORKSTATION;
    }
    return false;
}

// The first row that fits the loaded records; the last row fits every system.
const Row& MatchingRow() {
    for (const Row& row : kRows) {
        if (Matches(row.platform, VersionInfo.dwPlatformId) && Matches(row.major, VersionInfo.dwMajorVersion) &&
            Matches(row.minor, VersionInfo.dwMinorVersion) && Passes(row.further)) {
            return row;
        }
    }
    return kRows[std::size(kRows) - 1];
}

constexpr const wchar_t* kDisplayNames[] = {
    L"32s", L"95", L"98", L"ME", L"NT 3", L"NT 4", L"2000", L"XP", L"XP Home Edition", L"XP64",
    L"Server 2003", L"Server 2003 R2", L"Vista", L"Server 2008", L"Server 2008 R2", L"7",
    L"Server 2012", L"8",
};
static_assert(std::size(kDisplayNames) == Win8 + 1, "one display name per code");

// What GetOsName puts after "Windows "; "?" for a value without a member.
const wchar_t* DisplayName(OsVersion code) {
    if (code < 0 || code >= static_cast<long>(std::size(kDisplayNames))) return L"?";
    return kDisplayNames[code];
}

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

// Raises error 453 when kernel32 does not offer IsWow64Process.
IsWow64ProcessFn FindIsWow64Process() {
    const FARPROC entry = api.GetProcAddress(api.GetModuleHandleW(L"kernel32.dll"), "IsWow64Process");
    if (!entry) RaiseError(kErrDllEntryNotFound);
    return EntryPointAs<IsWow64ProcessFn>(entry);
}

}  // namespace

bool IsWow64() {
    try {
        const HANDLE process = api.GetCurrentProcess();
        BOOL wow64 = FALSE;
        // The call's own result is not examined: a failure leaves wow64 false.
        FindIsWow64Process()(process, &wow64);
        return wow64 != FALSE;
    } catch (const RuntimeError&) {
        api.ReportDiagnostic(L"Can't check for 64 bit OS" + CommonCallbacks::GetErrorText(), false);
        return false;
    }
}

bool Is64BitProcessor() {
    LoadSystemInfo();
    return SysInfo.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
           SysInfo.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

OsVersion GetOsVersion() {
    if (OsVersionCached) return OsVersionCode;

    LoadOsVersionInfo();
    if (!VersionInfoOk) {
        api.ReportDiagnostic(L"Can't get OS version (API error)", true);
        OsVersionCode = Win32s;
        return OsVersionCode;
    }
    LoadOsVersionInfoEx();

    const Row& row = MatchingRow();
    if (row.result) OsVersionCode = *row.result;
    if (row.ending.fallbackMessage) {
        api.ReportDiagnostic(row.ending.fallbackMessage, true);
        return OsVersionCode;
    }
    OsVersionCached = true;
    return OsVersionCode;
}

DWORD GetNtMajorVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!api.GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
    return info.dwMajorVersion;
}

std::wstring GetOsName() {
    std::wstring name = DisplayName(GetOsVersion());
    // Both tests always run, the processor first.
    const bool is64BitProcessor = Is64BitProcessor();
    const bool isWow64 = IsWow64();
    if (is64BitProcessor || isWow64) name += L" (64bit)";
    return L"Windows " + name;
}

}  // namespace modCommonOsVersion
