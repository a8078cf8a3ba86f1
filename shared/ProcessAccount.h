// The account this process runs as: the user of its token. The program asks
// it whether it runs as a service account, the package's actions whom to
// trust beside the system's own accounts.
#pragma once

#include <windows.h>

namespace ProcessAccount {

// The token's user, in a buffer of its own; no SID where the token can't be read.
class User {
public:
    User();
    User(const User&) = delete;
    User& operator=(const User&) = delete;

    // The user's SID, valid as long as this lives; nullptr when unknown.
    PSID sid() const { return sid_; }

private:
    // TOKEN_USER and the SID it points to, which follows it.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info_ = {};
    PSID sid_ = nullptr;
};

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::GetCurrentProcess) GetCurrentProcess;
    decltype(&::OpenProcessToken) OpenProcessToken;
    decltype(&::GetTokenInformation) GetTokenInformation;
    decltype(&::CloseHandle) CloseHandle;
};
extern Api api;

}  // namespace ProcessAccount
