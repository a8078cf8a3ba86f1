// Whatever the package starts as SYSTEM runs where no person sees it and ends
// as a whole. Windows Installer runs its elevated actions in the session of
// whoever started the installation, on that person's desktop: what we start
// gets a desktop on a window station of its own, which no one sees, and a job
// that ends every process in it, whatever the control's registration opens.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <string>

namespace Confinement {

// Who alone may open what is made for a run (its window station, desktop
// and temporary folder): SYSTEM and the Administrators, the DACL protected
// from what the parent would hand down.
inline constexpr wchar_t kSystemAndAdministratorsSddl[] = L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)";

// "TarvexActiveX-<process>-<ticks>-<count>": a name that no other run has,
// as two installations may run our actions at once.
std::wstring UniqueRunName();

// Security attributes with that descriptor, not inheritable; none (nullptr)
// where the descriptor can't be made, which error() says.
class SystemOnly {
public:
    SystemOnly();
    ~SystemOnly();
    SystemOnly(const SystemOnly&) = delete;
    SystemOnly& operator=(const SystemOnly&) = delete;

    SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }
    DWORD error() const { return error_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
    DWORD error_ = 0;
};

// A window station made for one run, without WSF_VISIBLE, and its one desktop,
// both for SYSTEM and the Administrators alone; the station only where its
// name is new (CWF_CREATE_ONLY from Vista on; on XP, which has no such flag,
// the name is one that no other run has). Making the desktop needs the
// station as this process's own for a moment: the process's station is
// restored at once, and a restore that fails is an error too, as the
// process would stay on ours.
class PrivateDesktop {
public:
    PrivateDesktop();
    ~PrivateDesktop();
    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

    // 0, or the system's error that kept it from being made.
    DWORD error() const { return error_; }
    // "station\desktop" for STARTUPINFO's lpDesktop; empty when there is none.
    const std::wstring& path() const { return path_; }

private:
    HWINSTA station_ = nullptr;
    HDESK desktop_ = nullptr;
    DWORD error_ = 0;
    std::wstring path_;
};

// A job that ends every process in it when its last handle is closed, so
// also when this process ends.
class KillingJob {
public:
    KillingJob();
    ~KillingJob();
    KillingJob(const KillingJob&) = delete;
    KillingJob& operator=(const KillingJob&) = delete;

    // Puts the process, and so whatever it starts, into the job. 0, or the
    // system's error: where the caller is in a job of its own that allows no
    // other (Windows 7 and earlier), the process stays outside.
    DWORD Assign(HANDLE process);
    bool Holds() const { return holds_; }
    // Ends every process in the job.
    void Terminate(UINT exitCode);

private:
    HANDLE job_ = nullptr;
    DWORD error_ = 0;
    bool holds_ = false;
};

// The error mode that a program started meanwhile inherits: a crash or a
// missing DLL ends it with its code instead of a box that no one answers.
// The error mode belongs to the whole process (Windows Installer's server,
// for our custom actions): the earlier one is back when this goes.
class QuietErrorMode {
public:
    QuietErrorMode();
    ~QuietErrorMode();
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    UINT earlier_;
};

// The Windows entry points this module calls; tests swap single entries.
struct Api {
    decltype(&::CreateWindowStationW) CreateWindowStationW;
    decltype(&::GetProcessWindowStation) GetProcessWindowStation;
    decltype(&::SetProcessWindowStation) SetProcessWindowStation;
    decltype(&::CreateDesktopW) CreateDesktopW;
    decltype(&::CloseDesktop) CloseDesktop;
    decltype(&::CloseWindowStation) CloseWindowStation;
    decltype(&::GetCurrentProcessId) GetCurrentProcessId;
    decltype(&::GetTickCount) GetTickCount;
    decltype(&::CreateJobObjectW) CreateJobObjectW;
    decltype(&::SetInformationJobObject) SetInformationJobObject;
    decltype(&::AssignProcessToJobObject) AssignProcessToJobObject;
    decltype(&::TerminateJobObject) TerminateJobObject;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::SetErrorMode) SetErrorMode;
    decltype(&::GetVersion) GetVersion;
    decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW) ConvertStringSecurityDescriptorToSecurityDescriptorW;
    decltype(&::LocalFree) LocalFree;
};
extern Api api;

}  // namespace Confinement
