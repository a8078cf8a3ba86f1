#include "ProcessAccount.h"

#include "UniqueResource.h"

namespace ProcessAccount {

Api api = {::GetCurrentProcess, ::OpenProcessToken, ::GetTokenInformation, ::CloseHandle};

namespace {

struct TokenTraits {
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE token) noexcept { api.CloseHandle(token); }
};
using UniqueToken = UniqueResource<HANDLE, TokenTraits>;

}  // namespace

User::User() {
    UniqueToken token;
    DWORD needed = 0;
    if (api.OpenProcessToken(api.GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
        api.GetTokenInformation(token.get(), TokenUser, &info_, sizeof info_, &needed))
        sid_ = info_.user.User.Sid;
}

}  // namespace ProcessAccount
