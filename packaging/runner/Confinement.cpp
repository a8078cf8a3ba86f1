#include "Confinement.h"

#include "shared/NumberText.h"

namespace Confinement {

Api api = {
    ::CreateWindowStationW, ::GetProcessWindowStation, ::SetProcessWindowStation, ::CreateDesktopW,
    ::CloseDesktop,         ::CloseWindowStation,      ::GetCurrentProcessId,     ::GetTickCount,
    ::CreateJobObjectW,     ::SetInformationJobObject, ::AssignProcessToJobObject, ::TerminateJobObject,
    ::CloseHandle,          ::SetErrorMode,            ::GetVersion,
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW, ::LocalFree,
};

namespace {

constexpr wchar_t kDesktopName[] = L"Default";
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

// CWF_CREATE_ONLY from Vista (6.0) on; XP reserves the flag.
DWORD CreateOnlyFlag() { return LOBYTE(LOWORD(api.GetVersion())) >= 6 ? CWF_CREATE_ONLY : 0; }

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error ? error : fallback;
}

}  // namespace

std::wstring UniqueRunName() {
    static unsigned long runs = 0;
    return L"TarvexActiveX-" + DecimalText(static_cast<long>(api.GetCurrentProcessId())) + L"-" +
           HexText(api.GetTickCount()) + L"-" + DecimalText(static_cast<long>(++runs));
}

SystemOnly::SystemOnly() {
    if (!api.ConvertStringSecurityDescriptorToSecurityDescriptorW(kSystemAndAdministratorsSddl, SDDL_REVISION_1,
                                                                  &descriptor_, nullptr)) {
        error_ = LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
        descriptor_ = nullptr;
        return;
    }
    attributes_ = {sizeof attributes_, descriptor_, FALSE};
}

SystemOnly::~SystemOnly() {
    if (descriptor_) api.LocalFree(descriptor_);
}

PrivateDesktop::PrivateDesktop() {
    SystemOnly security;
    if (!security.get()) {
        error_ = security.error();
        return;
    }
    const std::wstring name = UniqueRunName();
    station_ = api.CreateWindowStationW(name.c_str(), CreateOnlyFlag(), WINSTA_ALL_ACCESS, security.get());
    if (!station_) {
        error_ = LastErrorOr(ERROR_ACCESS_DENIED);
        return;
    }
    const HWINSTA own = api.GetProcessWindowStation();
    if (!own || !api.SetProcessWindowStation(station_)) {
        error_ = LastErrorOr(ERROR_ACCESS_DENIED);
        return;
    }
    desktop_ = api.CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, security.get());
    error_ = desktop_ ? 0 : LastErrorOr(ERROR_ACCESS_DENIED);
    if (!api.SetProcessWindowStation(own)) error_ = LastErrorOr(ERROR_ACCESS_DENIED);
    if (!error_) path_ = name + L"\\" + kDesktopName;
}

// A program still running on them keeps them alive; only our handles go.
PrivateDesktop::~PrivateDesktop() {
    if (desktop_) api.CloseDesktop(desktop_);
    if (station_) api.CloseWindowStation(station_);
}

KillingJob::KillingJob() {
    job_ = api.CreateJobObjectW(nullptr, nullptr);
    if (!job_) {
        error_ = GetLastError();
        return;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!api.SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        error_ = GetLastError();
        api.CloseHandle(job_);
        job_ = nullptr;
    }
}

KillingJob::~KillingJob() {
    if (job_) api.CloseHandle(job_);
}

DWORD KillingJob::Assign(HANDLE process) {
    if (!job_) return error_ ? error_ : ERROR_INVALID_HANDLE;
    if (!api.AssignProcessToJobObject(job_, process)) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_ACCESS_DENIED;
    }
    holds_ = true;
    return 0;
}

void KillingJob::Terminate(UINT exitCode) {
    if (job_) api.TerminateJobObject(job_, exitCode);
}

QuietErrorMode::QuietErrorMode() : earlier_(api.SetErrorMode(kQuietErrorMode)) {}

QuietErrorMode::~QuietErrorMode() { api.SetErrorMode(earlier_); }

}  // namespace Confinement
