// One security descriptor for every path, as SDDL, in the place of
// GetNamedSecurityInfoW: Wine gives every path the running account's, so the
// rule for what may run as SYSTEM is shown on descriptors written here.
#pragma once

#include "shared/ProcessAccount.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

// The security descriptor that every path has, as SDDL; a read error instead where set.
inline std::wstring descriptorText;
inline DWORD descriptorError = 0;
inline DWORD WINAPI DescriptorOf(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*, PACL* dacl, PACL*,
                          PSECURITY_DESCRIPTOR* descriptor) {
    if (descriptorError) return descriptorError;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1, descriptor,
                                                                nullptr))
        return ::GetLastError();
    BOOL present = FALSE, defaulted = FALSE;
    ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    if (!present) *dacl = nullptr;  // a NULL DACL: all access to everyone
    return ERROR_SUCCESS;
}
// This process's own account as SDDL names it.
inline std::wstring OwnSid() {
    const ProcessAccount::User own;
    LPWSTR text = nullptr;
    if (own.sid()) ::ConvertSidToStringSidW(own.sid(), &text);
    const std::wstring sid = text ? text : L"";
    ::LocalFree(text);
    return sid;
}
