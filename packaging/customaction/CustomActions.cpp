// The package's custom actions, each a thin adapter between Windows
// Installer and the work done elsewhere: the installed program for the
// registration, the modules beside this file for the rest. Deferred and not
// impersonated, they run as SYSTEM; they read what they need from
// CustomActionData, log what they did, and fail the installation only where
// the installation must not stand.
#include "MarkerRollback.h"
#include "MsiSession.h"
#include "PendingRename.h"
#include "ProgramRecords.h"
#include "RestartService.h"

#include <windows.h>
#include <msiquery.h>

#include <new>
#include <string>

namespace {

using ProgramRecords::FileName;

// Runs the EXE that CustomActionData names, without arguments; its records go
// into msiexec's log as they come. Any end but exit code 0 fails the
// installation, with the program's own reason as the installer's error.
UINT RunProgram(MSIHANDLE session) {
    const std::wstring exe = MsiSession::CustomActionData(session);
    if (exe.empty()) {
        MsiSession::ShowError(session, L"The package names no program to run (CustomActionData is empty).");
        return ERROR_INSTALL_FAILURE;
    }
    MsiSession::Log(session, L"running " + exe);
    const ProgramRecords::ProgramRun run =
        ProgramRecords::RunProgram(exe, [&](const std::wstring& line) { MsiSession::Log(session, line); });
    MsiSession::Log(session, ProgramRecords::OutcomeText(run.program, run.outcome));
    if (run.Succeeded()) return ERROR_SUCCESS;
    MsiSession::ShowError(session, run.Conclusion());
    return ERROR_INSTALL_FAILURE;
}

// Rollback of a first installation: the marker that the program wrote, and
// its key if nothing else is in it. CustomActionData: the key's path under
// HKLM. A rollback action's result changes nothing; it is logged.
UINT RemoveMarker(MSIHANDLE session) {
    const std::wstring keyPath = MsiSession::CustomActionData(session);
    const wchar_t* said = L"the marker could not be removed";
    switch (MarkerRollback::RemoveMarker(keyPath)) {
    case MarkerRollback::Outcome::NoKey:
    case MarkerRollback::Outcome::NoMarker: said = L"no marker to remove"; break;
    case MarkerRollback::Outcome::ValueRemovedKeyKept: said = L"marker removed; its key holds other values and stays"; break;
    case MarkerRollback::Outcome::KeyRemoved: said = L"marker and its key removed"; break;
    case MarkerRollback::Outcome::Failed: break;
    }
    MsiSession::Log(session, L"rollback: " + std::wstring(said) + L" (HKLM\\" + keyPath + L")");
    return ERROR_SUCCESS;
}

// When the installation leaves TVex.DLL to be replaced at the next restart
// (in use, it could not be replaced now), the program would register the old
// file: the starter is arranged to run the program once at that restart, as
// SYSTEM, before anyone logs on. CustomActionData: the control's path, "|",
// the starter's path. Nothing pending, nothing is arranged.
UINT ArrangeAtRestart(MSIHANDLE session) {
    const std::wstring data = MsiSession::CustomActionData(session);
    const std::size_t bar = data.find(L'|');
    const std::wstring control = data.substr(0, bar);
    const std::wstring starter = bar == std::wstring::npos ? std::wstring() : data.substr(bar + 1);
    if (!PendingRename::IsPendingReplacement(control)) {
        MsiSession::Log(session, FileName(control) + L" is in place; nothing to arrange for the next restart");
        return ERROR_SUCCESS;
    }
    if (const DWORD error = RestartService::Arrange(starter)) {
        MsiSession::ShowError(session, FileName(control) + L" is replaced at the next restart, but the registration "
                                       L"after it could not be arranged (service " + RestartService::kServiceName +
                                       L", error " + std::to_wstring(error) + L").");
        return ERROR_INSTALL_FAILURE;
    }
    MsiSession::Log(session, FileName(control) + L" is replaced at the next restart; the control is registered again then");
    return ERROR_SUCCESS;
}

// Takes away a registration arranged for the next restart: the rollback of
// the arrangement, and the product's removal. Its result changes nothing.
UINT CancelAtRestart(MSIHANDLE session) {
    const RestartService::Cancelled cancelled = RestartService::Cancel();
    if (cancelled.error)
        MsiSession::Log(session, L"the registration at the next restart could not be taken away (error " +
                                     std::to_wstring(cancelled.error) + L")");
    else if (cancelled.wasArranged)
        MsiSession::Log(session, L"the registration arranged for the next restart is taken away");
    else
        MsiSession::Log(session, L"no registration is arranged for the next restart");
    return ERROR_SUCCESS;
}

// Nothing may escape into Windows Installer: out of memory fails the action.
template <class Action>
UINT Guarded(MSIHANDLE session, Action action) noexcept {
    try {
        return action(session);
    } catch (...) {
        return ERROR_INSTALL_FAILURE;
    }
}

}  // namespace

extern "C" UINT __stdcall RunInstalledProgram(MSIHANDLE session) { return Guarded(session, RunProgram); }
extern "C" UINT __stdcall RollbackMarker(MSIHANDLE session) { return Guarded(session, RemoveMarker); }
extern "C" UINT __stdcall ArrangeRegistrationAtRestart(MSIHANDLE session) { return Guarded(session, ArrangeAtRestart); }
extern "C" UINT __stdcall CancelRegistrationAtRestart(MSIHANDLE session) { return Guarded(session, CancelAtRestart); }
