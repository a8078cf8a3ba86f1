#include "RestartService.h"

#include "common/UniqueResource.h"

namespace RestartService {

Api api = {::OpenSCManagerW, ::CreateServiceW,     ::OpenServiceW,
           ::ChangeServiceConfigW, ::DeleteService, ::CloseServiceHandle};

namespace {

constexpr wchar_t kDisplayName[] = L"Tarvex ActiveX control registration after restart";

struct ServiceTraits {
    static SC_HANDLE invalid() noexcept { return nullptr; }
    static void close(SC_HANDLE handle) noexcept { api.CloseServiceHandle(handle); }
};
using UniqueService = UniqueResource<SC_HANDLE, ServiceTraits>;

// One already there takes the new configuration in place of its own.
DWORD Reconfigure(SC_HANDLE manager, const std::wstring& commandLine) {
    const UniqueService service(api.OpenServiceW(manager, kServiceName, SERVICE_CHANGE_CONFIG));
    if (!service) return GetLastError();
    if (!api.ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, kDisplayName))
        return GetLastError();
    return 0;
}

}  // namespace

std::wstring CommandLine(const std::wstring& starter) { return L"\"" + starter + L"\""; }

DWORD Arrange(const std::wstring& starter) {
    const UniqueService manager(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    const std::wstring commandLine = CommandLine(starter);
    // No account named: LocalSystem.
    const UniqueService created(api.CreateServiceW(manager.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                                   commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (created) return 0;
    const DWORD error = GetLastError();
    return error == ERROR_SERVICE_EXISTS ? Reconfigure(manager.get(), commandLine) : error;
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

}  // namespace RestartService
