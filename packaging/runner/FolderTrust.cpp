// Only the DACL's allow entries can give a right; deny entries take rights
// away, and entries that apply only to what is created below (inherit-only)
// give none on the file or folder itself.
#include "FolderTrust.h"

#include "shared/NumberText.h"
#include "shared/ProcessAccount.h"
#include "shared/UniqueResource.h"

namespace FolderTrust {

Api api = {
    ::GetNamedSecurityInfoW, ::LocalFree, ::GetAce, ::IsWellKnownSid, ::EqualSid, ::LookupAccountSidW,
    ::ConvertSidToStringSidW,
};

namespace {

struct LocalTraits {
    static HLOCAL invalid() noexcept { return nullptr; }
    static void close(HLOCAL memory) noexcept { api.LocalFree(memory); }
};
using UniqueLocal = UniqueResource<HLOCAL, LocalTraits>;

// The rights that let their holder change what runs: write or append data (a
// folder: add a file or a subfolder), delete it or what is in it, change
// its DACL or its owner, and the generic rights that hold these.
const struct {
    ACCESS_MASK bits;
    const wchar_t* name;
} kChangingRights[] = {
    {FILE_WRITE_DATA, L"FILE_WRITE_DATA"}, {FILE_APPEND_DATA, L"FILE_APPEND_DATA"},
    {FILE_DELETE_CHILD, L"FILE_DELETE_CHILD"}, {DELETE, L"DELETE"},
    {WRITE_DAC, L"WRITE_DAC"}, {WRITE_OWNER, L"WRITE_OWNER"},
    {GENERIC_WRITE, L"GENERIC_WRITE"}, {GENERIC_ALL, L"GENERIC_ALL"},
};

// TrustedInstaller's service SID: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
struct TrustedInstallerSid {
    SID sid;
    DWORD more[5];
};
TrustedInstallerSid trustedInstaller = {
    {SID_REVISION, 6, SECURITY_NT_AUTHORITY, {SECURITY_SERVICE_ID_BASE_RID}},
    {956008885, 3418522649, 1831038044, 1853292631, 2271478464},
};

bool IsTrusted(PSID sid, const ProcessAccount::User& own) {
    return api.IsWellKnownSid(sid, WinLocalSystemSid) || api.IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           api.EqualSid(sid, &trustedInstaller.sid) || (own.sid() && api.EqualSid(sid, own.sid()));
}

// "DOMAIN\name", or the SID as text where it names no account here.
std::wstring AccountName(PSID sid) {
    wchar_t name[256] = {}, domain[256] = {};
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (api.LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return domain[0] ? std::wstring(domain) + L"\\" + name : std::wstring(name);
    LPWSTR text = nullptr;
    if (!api.ConvertSidToStringSidW(sid, &text)) return L"an account";
    const UniqueLocal owned(text);
    return text;
}

std::wstring RightNames(ACCESS_MASK mask) {
    std::wstring names;
    for (const auto& right : kChangingRights)
        if (mask & right.bits) names += (names.empty() ? L"" : L", ") + std::wstring(right.name);
    return names;
}

// Why the DACL lets an account not trusted change the object; empty when none may.
std::wstring DaclRefusal(PACL dacl, const ProcessAccount::User& own) {
    if (!dacl) return L"has no DACL: anyone may change it";
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!api.GetAce(dacl, i, reinterpret_cast<void**>(&header))) return L"has a DACL that can't be read";
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
            // Deny entries take rights away; an allow entry we can't read might give any.
            if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE)
                continue;
            return L"has an entry of type " + DecimalText(header->AceType) + L" that can't be judged";
        }
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        const std::wstring rights = RightNames(ace->Mask);
        PSID sid = const_cast<DWORD*>(&ace->SidStart);
        if (!rights.empty() && !IsTrusted(sid, own)) return L"lets " + AccountName(sid) + L" change it (" + rights + L")";
    }
    return {};
}

// Why the file or folder at that path can't be trusted; empty when it can.
std::wstring PathRefusal(const std::wstring& path, const ProcessAccount::User& own) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        api.GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  &owner, nullptr, &dacl, nullptr, &descriptor);
    // What is not there can't have been changed: starting it fails, and says why.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    if (error != ERROR_SUCCESS) return L"can't be checked: its security can't be read (error " + DecimalText(error) + L")";
    const UniqueLocal owned(descriptor);
    if (!owner || !IsTrusted(owner, own)) return L"is owned by " + (owner ? AccountName(owner) : L"no one");
    return DaclRefusal(dacl, own);
}

std::wstring Folder(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring Refusal(const std::wstring& program) {
    const ProcessAccount::User own;
    const std::wstring folder = Folder(program);
    for (const std::wstring& path : {folder, program}) {
        if (path.empty()) continue;
        const std::wstring why = PathRefusal(path, own);
        if (!why.empty())
            return L"Refusing to run " + program + L" as SYSTEM: " + (path == folder ? L"its folder " : L"the file ") +
                   path + L" " + why + L". Only SYSTEM, Administrators and TrustedInstaller may change what runs as "
                   L"SYSTEM; install the product into its own folder under Program Files.";
    }
    return {};
}

}  // namespace FolderTrust
