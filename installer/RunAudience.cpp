#include "RunAudience.h"

#include "common/modCommonOsVersion.h"
#include "shared/ProcessAccount.h"

namespace RunAudience {

Api api = {
    ::GetProcessWindowStation, ::GetUserObjectInformationW, ::GetCurrentProcessId, ::ProcessIdToSessionId,
    ::IsWellKnownSid,
};

bool RunIsSeen = true;

namespace {

// True unless the station is known to lack WSF_VISIBLE. The station's handle
// belongs to the process and is not closed.
bool StationIsVisible() {
    const HWINSTA station = api.GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!station || !api.GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Session 0 holds only services from Windows Vista on (NT 6), however visible
// its station says it is; on XP and Server 2003 it is the console user's own.
bool InIsolatedSessionZero() {
    DWORD session = 0;
    if (!api.ProcessIdToSessionId(api.GetCurrentProcessId(), &session) || session != 0) return false;
    return modCommonOsVersion::GetNtMajorVersion() >= 6;
}

// The process's user is one of the service accounts; false when the token
// can't be read.
bool RunsAsServiceAccount() {
    const ProcessAccount::User user;
    if (!user.sid()) return false;
    for (const WELL_KNOWN_SID_TYPE account : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid})
        if (api.IsWellKnownSid(user.sid(), account)) return true;
    return false;
}

}  // namespace

void DetectWhetherRunIsSeen() {
    RunIsSeen = StationIsVisible() && !InIsolatedSessionZero() && !RunsAsServiceAccount();
}

}  // namespace RunAudience
