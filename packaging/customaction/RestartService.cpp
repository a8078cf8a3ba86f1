#include "RestartService.h"

#include "PendingRename.h"
#include "common/UniqueResource.h"

namespace RestartService {

Api api = {::OpenSCManagerW,     ::CreateServiceW, ::OpenServiceW,       ::ChangeServiceConfigW,
           ::DeleteService,      ::CloseServiceHandle, ::Sleep};

namespace {

constexpr wchar_t kDisplayName[] = L"Tarvex ActiveX control registration after restart";
// A service marked for deletion goes once its last handle is closed (the
// Services console may hold one): it is waited for this long.
constexpr DWORD kMarkedWaitMs = 5000;
constexpr DWORD kMarkedPollMs = 250;

struct ServiceTraits {
    static SC_HANDLE invalid() noexcept { return nullptr; }
    static void close(SC_HANDLE handle) noexcept { api.CloseServiceHandle(handle); }
};
using UniqueService = UniqueResource<SC_HANDLE, ServiceTraits>;

// One already there takes the new configuration in place of its own, every
// field of it: an earlier arrangement's account or dependencies must not stay.
DWORD Reconfigure(SC_HANDLE manager, const std::wstring& commandLine) {
    const UniqueService service(api.OpenServiceW(manager, kServiceName, SERVICE_CHANGE_CONFIG));
    if (!service) return GetLastError();
    // No load-order group, no dependencies (an empty list), LocalSystem with an empty password.
    if (!api.ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  commandLine.c_str(), L"", nullptr, L"\0", kLocalSystem, L"", kDisplayName))
        return GetLastError();
    return 0;
}

DWORD CreateOrReconfigure(SC_HANDLE manager, const std::wstring& commandLine) {
    // No account named: LocalSystem.
    const UniqueService created(api.CreateServiceW(manager, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                                   commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (created) return 0;
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_EXISTS ? Reconfigure(manager, commandLine) : error;
}

}  // namespace

std::wstring CommandLine(const std::wstring& starter) { return L"\"" + starter + L"\""; }

DWORD Arrange(const std::wstring& starter) {
    const UniqueService manager(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    const std::wstring commandLine = CommandLine(starter);
    DWORD error = CreateOrReconfigure(manager.get(), commandLine);
    for (DWORD waited = 0; error == ERROR_SERVICE_MARKED_FOR_DELETE && waited < kMarkedWaitMs; waited += kMarkedPollMs) {
        api.Sleep(kMarkedPollMs);
        error = CreateOrReconfigure(manager.get(), commandLine);
    }
    return error;
}

Cancelled Cancel() {
    const UniqueService manager(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return {false, GetLastError()};
    const UniqueService service(api.OpenServiceW(manager.get(), kServiceName, DELETE));
    if (!service) {
        const DWORD error = GetLastError();
        return {false, error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : error};
    }
    if (api.DeleteService(service.get())) return {true, 0};
    // One marked for deletion already goes once its last handle is closed.
    const DWORD error = GetLastError();
    return {false, error == ERROR_SERVICE_MARKED_FOR_DELETE ? 0 : error};
}

Matched MatchPendingRename(const std::wstring& control, const std::wstring& starter) {
    if (PendingRename::IsPendingReplacement(control)) return {true, Arrange(starter)};
    return {false, Cancel().error};
}

}  // namespace RestartService
