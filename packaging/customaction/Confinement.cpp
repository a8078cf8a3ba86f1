#include "Confinement.h"

#include "common/NumberText.h"

namespace Confinement {

Api api = {
    ::CreateWindowStationW, ::GetProcessWindowStation, ::SetProcessWindowStation, ::CreateDesktopW,
    ::CloseDesktop,         ::CloseWindowStation,      ::GetCurrentProcessId,     ::GetTickCount,
    ::CreateJobObjectW,     ::SetInformationJobObject, ::AssignProcessToJobObject, ::TerminateJobObject,
    ::CloseHandle,          ::SetErrorMode,
};

namespace {

constexpr wchar_t kDesktopName[] = L"Default";
constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;

// A name no other run has: two installations may run our actions at once.
std::wstring UniqueStationName() {
    static unsigned long runs = 0;
    return L"TarvexActiveX-" + DecimalText(static_cast<long>(api.GetCurrentProcessId())) + L"-" +
           HexText(api.GetTickCount()) + L"-" + DecimalText(static_cast<long>(++runs));
}

}  // namespace

PrivateDesktop::PrivateDesktop() {
    const std::wstring name = UniqueStationName();
    station_ = api.CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station_) {
        error_ = GetLastError();
        return;
    }
    const HWINSTA own = api.GetProcessWindowStation();
    if (!own || !api.SetProcessWindowStation(station_)) {
        error_ = GetLastError();
        return;
    }
    desktop_ = api.CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    error_ = desktop_ ? 0 : GetLastError();
    api.SetProcessWindowStation(own);
    if (desktop_) path_ = name + L"\\" + kDesktopName;
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
