// Whether a program may be run as SYSTEM from where it lies: only when
// neither its file nor its folder lets anyone but the trusted accounts
// (SYSTEM, Administrators, TrustedInstaller, the account that asks) write
// to it, delete from it, add to it, or change its DACL or owner, and one of
// them owns each. A folder where users may write lets them replace the
// program, or plant a DLL beside it, between the installation and its run.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

namespace FolderTrust {

// Why the program at that path must not run as SYSTEM ("... lets BUILTIN\Users
// write data (FILE_WRITE_DATA)"); empty when it may.
std::wstring Refusal(const std::wstring& program);

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetNamedSecurityInfoW) GetNamedSecurityInfoW;
    decltype(&::LocalFree) LocalFree;
    decltype(&::GetAce) GetAce;
    decltype(&::IsWellKnownSid) IsWellKnownSid;
    decltype(&::EqualSid) EqualSid;
    decltype(&::LookupAccountSidW) LookupAccountSidW;
    decltype(&::ConvertSidToStringSidW) ConvertSidToStringSidW;
};
extern Api api;

}  // namespace FolderTrust
