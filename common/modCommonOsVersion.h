// Which Windows the program runs on, and whether that Windows is 64-bit.
#pragma once

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

}  // namespace modCommonOsVersion
