// Which Windows the program runs on, and whether that Windows is 64-bit.
// The version is detected once per run and kept; the bitness is asked anew each time.
#pragma once

#include <windows.h>

#include <string>

namespace modCommonOsVersion {

enum OsVersion : long {
    Win32s = 0, Win95 = 1, Win98 = 2, WinMe = 3, WinNT3 = 4, WinNT4 = 5, Win2000 = 6,
    WinXP = 7, WinXPHome = 8, WinXP64 = 9, WinServer2003 = 10, WinServer2003R2 = 11,
    WinVista = 12, WinServer2008 = 13, WinServer2008R2 = 14, Win7 = 15,
    WinServer2012 = 16, Win8 = 17,
};

bool IsWow64();
bool Is64BitProcessor();
OsVersion GetOsVersion();
std::wstring GetOsName();
// The NT major version as the version query reports it (6 for Vista to 8, and
// for later systems that the program's manifest does not name); 0 when the
// query fails or the system is no NT. Asks the system each time; keeps nothing.
DWORD GetNtMajorVersion();

// The Windows entry points the module calls, and the diagnostic hook it reports to.
// IsWow64Process is looked up at run time: old kernels lack it.
struct Api {
    decltype(&::GetVersionExA) GetVersionExA;
    decltype(&::GetSystemInfo) GetSystemInfo;
    decltype(&::GetCurrentProcess) GetCurrentProcess;
    decltype(&::GetModuleHandleW) GetModuleHandleW;
    decltype(&::GetProcAddress) GetProcAddress;
    void (*ReportDiagnostic)(const std::wstring& message, bool flag);
};
extern Api api;

// Module state, zero or false at start. Once OsVersionCached is set,
// GetOsVersion answers OsVersionCode without asking the system.
extern bool OsVersionCached;
extern OsVersion OsVersionCode;
extern OSVERSIONINFOA VersionInfo;
extern BOOL VersionInfoOk;
extern OSVERSIONINFOEXA VersionInfoEx;
extern BOOL VersionInfoExOk;
extern SYSTEM_INFO SysInfo;

}  // namespace modCommonOsVersion
