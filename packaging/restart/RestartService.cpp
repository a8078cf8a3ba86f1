#include "RestartService.h"

#include "packaging/runner/FolderTrust.h"
#include "PendingRename.h"
#include "shared/NumberText.h"
#include "shared/UniqueResource.h"

#include <vector>

namespace RestartService {

Api api = {::OpenSCManagerW,     ::CreateServiceW, ::OpenServiceW,       ::EnumServicesStatusW,
           ::QueryServiceConfigW, ::ChangeServiceConfigW, ::DeleteService, ::CloseServiceHandle,
           ::GetFileAttributesW, ::GetTickCount};

namespace {

constexpr wchar_t kDisplayName[] = L"Tarvex ActiveX control registration after restart";
// A new name is tried this many times where one is taken.
constexpr int kNameTries = 8;

struct ServiceTraits {
    static SC_HANDLE invalid() noexcept { return nullptr; }
    static void close(SC_HANDLE handle) noexcept { api.CloseServiceHandle(handle); }
};
using UniqueService = UniqueResource<SC_HANDLE, ServiceTraits>;

bool IsOurs(const wchar_t* name) {
    const std::size_t length = wcslen(kServiceNamePrefix);
    return _wcsnicmp(name, kServiceNamePrefix, length) == 0 && (name[length] == L'\0' || name[length] == L'-');
}

// The names of every arrangement there is (an earlier release's, named
// kServiceNamePrefix alone, among them); error says why the list can't be had.
std::vector<std::wstring> Arrangements(SC_HANDLE manager, DWORD* error) {
    std::vector<std::wstring> names;
    std::vector<char> buffer(16 * 1024);
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, returned = 0;
        const BOOL complete = api.EnumServicesStatusW(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                                                      reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.data()),
                                                      static_cast<DWORD>(buffer.size()), &needed, &returned, &resume);
        const DWORD failure = complete ? 0 : GetLastError();
        if (!complete && failure != ERROR_MORE_DATA) {
            *error = failure;
            return names;
        }
        const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUSW*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i)
            if (IsOurs(services[i].lpServiceName)) names.push_back(services[i].lpServiceName);
        if (complete) break;
        if (needed > buffer.size()) buffer.resize(needed);
    }
    *error = 0;
    return names;
}

// Deletes every arrangement; whether there was one. One marked for deletion
// already is going.
Cancelled DeleteAll(SC_HANDLE manager) {
    DWORD error = 0;
    Cancelled cancelled = {false, 0};
    for (const std::wstring& name : Arrangements(manager, &error)) {
        const UniqueService service(api.OpenServiceW(manager, name.c_str(), DELETE));
        DWORD failure = service ? 0 : GetLastError();
        if (service && !api.DeleteService(service.get())) failure = GetLastError();
        if (failure == 0) cancelled.wasArranged = true;
        else if (failure != ERROR_SERVICE_MARKED_FOR_DELETE && failure != ERROR_SERVICE_DOES_NOT_EXIST && !cancelled.error)
            cancelled.error = failure;
    }
    if (error && !cancelled.error) cancelled.error = error;
    return cancelled;
}

// Whether the service runs this command line, and will run it: a change
// that changes nothing fails for a service marked for deletion.
bool Runs(SC_HANDLE manager, const std::wstring& name, const std::wstring& commandLine) {
    const UniqueService service(api.OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
    if (!service) return false;
    DWORD needed = 0;
    api.QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<char> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!api.QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) return false;
    if (!config->lpBinaryPathName || _wcsicmp(config->lpBinaryPathName, commandLine.c_str()) != 0) return false;
    return api.ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
}

// Whether an arrangement that will run this starter is there.
bool IsArrangedFor(const std::wstring& starter) {
    const UniqueService manager(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return false;
    DWORD error = 0;
    for (const std::wstring& name : Arrangements(manager.get(), &error))
        if (Runs(manager.get(), name, CommandLine(starter))) return true;
    return false;
}

std::wstring NewName(int attempt) {
    return std::wstring(kServiceNamePrefix) + L"-" + HexText(api.GetTickCount() + static_cast<DWORD>(attempt));
}

// Why the starter must not become a service running as SYSTEM; empty when it may.
std::wstring StarterRefusal(const std::wstring& starter) {
    const DWORD attributes = api.GetFileAttributesW(starter.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return L"Refusing to arrange " + starter + L" as a service running as SYSTEM: there is no such file.";
    return FolderTrust::Refusal(starter);
}

}  // namespace

std::wstring CommandLine(const std::wstring& starter) { return L"\"" + starter + L"\""; }

Arranged Arrange(const std::wstring& starter) {
    const std::wstring refusal = StarterRefusal(starter);
    if (!refusal.empty()) return {ERROR_ACCESS_DENIED, refusal};
    const UniqueService manager(api.OpenSCManagerW(
        nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return {GetLastError(), {}};
    if (const DWORD error = DeleteAll(manager.get()).error) return {error, {}};
    const std::wstring commandLine = CommandLine(starter);
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        // No account named: LocalSystem; no group, no dependencies.
        const UniqueService created(api.CreateServiceW(manager.get(), NewName(attempt).c_str(), kDisplayName,
                                                       SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
                                                       nullptr, nullptr, nullptr, nullptr, nullptr));
        if (created) return {0, {}};
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_EXISTS && error != ERROR_DUPLICATE_SERVICE_NAME &&
            error != ERROR_SERVICE_MARKED_FOR_DELETE)
            return {error, {}};
    }
    return {ERROR_SERVICE_EXISTS, {}};
}

Cancelled Cancel() {
    const UniqueService manager(api.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return {false, GetLastError()};
    return DeleteAll(manager.get());
}

Matched MatchPendingRename(const std::wstring& control, const std::wstring& starter) {
    if (PendingRename::IsPendingReplacement(control)) {
        if (IsArrangedFor(starter)) return {true, 0, {}};
        const Arranged arranged = Arrange(starter);
        return {true, arranged.error, arranged.refusal};
    }
    return {false, Cancel().error, {}};
}

}  // namespace RestartService
