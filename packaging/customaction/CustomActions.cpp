// The package's custom actions, each a thin adapter between Windows
// Installer and the work done elsewhere: the installed program for the
// registration, the modules beside this file for the rest. Deferred and not
// impersonated, they run as SYSTEM; they read what they need from
// CustomActionData, log what they did, and fail the installation only where
// the installation must not stand. Whatever they start runs confined
// (ChildProcess): unseen, bounded, ended as a whole.
#include "MarkerRollback.h"
#include "MsiSession.h"
#include "PendingRename.h"
#include "ProgramRecords.h"
#include "RestartService.h"
#include "SharedCount.h"
#include "ToolRun.h"

#include <windows.h>
#include <msiquery.h>

#include <new>
#include <string>
#include <utility>

namespace {

using ProgramRecords::FileName;

void LogNotes(MSIHANDLE session, const ChildProcess::Outcome& outcome) {
    for (const std::wstring& note : outcome.notes) MsiSession::Log(session, note);
}

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
    if (!run.refusal.empty()) {
        MsiSession::Log(session, run.refusal);
        MsiSession::ShowError(session, run.refusal);
        return ERROR_INSTALL_FAILURE;
    }
    LogNotes(session, run.outcome);
    MsiSession::Log(session, ProgramRecords::OutcomeText(run.program, run.outcome));
    if (run.Succeeded()) return ERROR_SUCCESS;
    MsiSession::ShowError(session, run.Conclusion());
    return ERROR_INSTALL_FAILURE;
}

// Runs the system's registration tool on the control, where the program
// can't serve: the removal's unregistration and the rollbacks'
// registrations. CustomActionData: the system folder. Their results are
// ignored by the package (a control that can no longer be unregistered must
// not hold a removal); the exit code and its meaning are logged.
UINT RunTool(MSIHANDLE session, ToolRun::Mode mode) {
    const std::wstring folder = MsiSession::CustomActionData(session);
    if (folder.empty()) {
        MsiSession::Log(session, L"the package names no system folder (CustomActionData is empty)");
        return ERROR_INSTALL_FAILURE;
    }
    MsiSession::Log(session, L"running " + ToolRun::CommandLine(folder, mode));
    const ChildProcess::Outcome outcome = ToolRun::Run(folder, mode);
    LogNotes(session, outcome);
    MsiSession::Log(session, ToolRun::OutcomeText(outcome));
    return outcome.end == ChildProcess::End::Exited && outcome.code == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
UINT Register(MSIHANDLE session) { return RunTool(session, ToolRun::Mode::Register); }
UINT Unregister(MSIHANDLE session) { return RunTool(session, ToolRun::Mode::Unregister); }

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

// A TVex.DLL that another setup put into the system folder before our first
// installation, and counted nowhere: that setup's reference is counted
// (SharedDLLs), so that our removal neither unregisters nor deletes its
// control; the rollback takes it away again. CustomActionData: the control's
// path.
UINT CountSharedReference(MSIHANDLE session, long delta) {
    const std::wstring control = MsiSession::CustomActionData(session);
    DWORD error = 0;
    const long count = SharedCount::Add(control, delta, &error);
    if (count < 0) {
        MsiSession::Log(session, L"the SharedDLLs count of " + control + L" could not be changed (error " +
                                     std::to_wstring(error) + L")");
        return ERROR_INSTALL_FAILURE;
    }
    const std::wstring said = delta > 0 ? L"the setup that put " + control + L" there before us is counted"
                                        : L"rollback: the setup that put " + control + L" there before us counts no more";
    MsiSession::Log(session, said + L" (SharedDLLs count " + std::to_wstring(count) + L")");
    return ERROR_SUCCESS;
}
UINT CountEarlier(MSIHANDLE session) { return CountSharedReference(session, +1); }
UINT UncountEarlier(MSIHANDLE session) { return CountSharedReference(session, -1); }

// The two parts of the arrangement's CustomActionData: the control's path, "|", the starter's.
std::pair<std::wstring, std::wstring> ControlAndStarter(MSIHANDLE session) {
    const std::wstring data = MsiSession::CustomActionData(session);
    const std::size_t bar = data.find(L'|');
    return {data.substr(0, bar), bar == std::wstring::npos ? std::wstring() : data.substr(bar + 1)};
}

std::wstring ArrangementFailure(const std::wstring& control, DWORD error) {
    // A service marked for deletion can't be set up anew until its last handle is closed.
    if (error == ERROR_SERVICE_MARKED_FOR_DELETE)
        return L"The service " + std::wstring(RestartService::kServiceName) +
               L" is marked for deletion; close the Services console and run the installation again.";
    return FileName(control) + L" is replaced at the next restart, but the registration after it could not be "
                               L"arranged (service " + RestartService::kServiceName + L", error " +
           std::to_wstring(error) + L").";
}

// When the installation leaves TVex.DLL to be replaced at the next restart
// (in use, it could not be replaced now), the program would register the old
// file: the starter is arranged to run the program once at that restart, as
// SYSTEM, before anyone logs on. CustomActionData: the control's path, "|",
// the starter's path. Nothing pending, nothing is arranged.
UINT ArrangeAtRestart(MSIHANDLE session) {
    const auto [control, starter] = ControlAndStarter(session);
    if (!PendingRename::IsPendingReplacement(control)) {
        MsiSession::Log(session, FileName(control) + L" is in place; nothing to arrange for the next restart");
        return ERROR_SUCCESS;
    }
    if (const DWORD error = RestartService::Arrange(starter)) {
        MsiSession::ShowError(session, ArrangementFailure(control, error));
        return ERROR_INSTALL_FAILURE;
    }
    MsiSession::Log(session, FileName(control) + L" is replaced at the next restart; the control is registered again then");
    return ERROR_SUCCESS;
}

// The rollbacks of the arrangement and of its cancellation: a registration
// is arranged exactly while a rename onto TVex.DLL still waits for the
// restart (an earlier update's, which a failed later one must not take
// away), and taken away otherwise. CustomActionData as the arrangement's.
// Its result changes nothing.
UINT MatchAtRestart(MSIHANDLE session) {
    const auto [control, starter] = ControlAndStarter(session);
    const RestartService::Matched matched = RestartService::MatchPendingRename(control, starter);
    if (matched.error)
        MsiSession::Log(session, L"rollback: " + ArrangementFailure(control, matched.error));
    else
        MsiSession::Log(session, matched.arranged
                                     ? L"rollback: " + FileName(control) + L" waits for the restart; its registration then stays arranged"
                                     : L"rollback: nothing waits for the restart; no registration stays arranged");
    return ERROR_SUCCESS;
}

// Takes away a registration arranged for the next restart, at the product's
// removal. Its result changes nothing.
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

// Nothing may escape into Windows Installer: out of memory fails the action,
// and says so where it can. (What the action had started is ended by then.)
template <class Action>
UINT Guarded(MSIHANDLE session, Action action) noexcept {
    try {
        return action(session);
    } catch (...) {
        try {
            MsiSession::Log(session, L"the action stopped: out of memory");
        } catch (...) {
        }
        return ERROR_INSTALL_FAILURE;
    }
}

}  // namespace

extern "C" UINT __stdcall RunInstalledProgram(MSIHANDLE session) { return Guarded(session, RunProgram); }
extern "C" UINT __stdcall RollbackMarker(MSIHANDLE session) { return Guarded(session, RemoveMarker); }
extern "C" UINT __stdcall ArrangeRegistrationAtRestart(MSIHANDLE session) { return Guarded(session, ArrangeAtRestart); }
extern "C" UINT __stdcall CancelRegistrationAtRestart(MSIHANDLE session) { return Guarded(session, CancelAtRestart); }
extern "C" UINT __stdcall MatchRegistrationAtRestart(MSIHANDLE session) { return Guarded(session, MatchAtRestart); }
extern "C" UINT __stdcall CountEarlierSetup(MSIHANDLE session) { return Guarded(session, CountEarlier); }
extern "C" UINT __stdcall UncountEarlierSetup(MSIHANDLE session) { return Guarded(session, UncountEarlier); }
extern "C" UINT __stdcall RegisterWithTool(MSIHANDLE session) { return Guarded(session, Register); }
extern "C" UINT __stdcall UnregisterWithTool(MSIHANDLE session) { return Guarded(session, Unregister); }
