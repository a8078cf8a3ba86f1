// The package's custom actions, each a thin adapter between Windows
// Installer and the work done elsewhere: the installed program for the
// registration, the modules beside this file for the rest. Deferred and not
// impersonated, they run as SYSTEM; they read what they need from
// CustomActionData, log what they did, and fail the installation only where
// the installation must not stand. Whatever they start runs confined
// (ChildProcess): unseen, bounded, ended as a whole.
#include "packaging/registry/MarkerRollback.h"
#include "MsiSession.h"
#include "packaging/restart/PendingRename.h"
#include "packaging/runner/ProgramRecords.h"
#include "packaging/restart/RestartService.h"
#include "packaging/registry/SharedCount.h"
#include "packaging/runner/ToolRun.h"

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

// Whether the person cancelled, asked while a run goes on; a rollback can't
// be cancelled, and is never asked.
ChildProcess::CancelQuery CancelQuery(MSIHANDLE session) {
    if (MsiSession::InRollback(session)) return nullptr;
    return [session] { return MsiSession::CancelRequested(session); };
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
    const ProgramRecords::ProgramRun run = ProgramRecords::RunProgram(
        exe, [&](const std::wstring& line) { MsiSession::Log(session, line); }, CancelQuery(session));
    if (!run.refusal.empty()) {
        MsiSession::Log(session, run.refusal);
        MsiSession::ShowError(session, run.refusal);
        return ERROR_INSTALL_FAILURE;
    }
    LogNotes(session, run.outcome);
    MsiSession::Log(session, ProgramRecords::OutcomeText(run.program, run.outcome));
    if (run.Succeeded()) return ERROR_SUCCESS;
    if (run.outcome.end == ChildProcess::End::Cancelled) return ERROR_INSTALL_USEREXIT;
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
    const ChildProcess::Outcome outcome = ToolRun::Run(folder, mode, CancelQuery(session));
    LogNotes(session, outcome);
    MsiSession::Log(session, ToolRun::OutcomeText(outcome));
    if (outcome.end == ChildProcess::End::Cancelled) return ERROR_INSTALL_USEREXIT;
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
// control. By then the count holds what Windows Installer wrote for ours
// (and, on Windows, often one for that setup): it is raised to what both
// need, never past it. CustomActionData: the control's path.
UINT CountEarlier(MSIHANDLE session) {
    const std::wstring control = MsiSession::CustomActionData(session);
    DWORD error = 0;
    const long count = SharedCount::RaiseTo(control, SharedCount::kEarlierSetupAndOurs, &error);
    if (count < 0) {
        MsiSession::Log(session, L"the SharedDLLs count of " + control + L" could not be changed (error " +
                                     std::to_wstring(error) + L")");
        return ERROR_INSTALL_FAILURE;
    }
    MsiSession::Log(session, L"the setup that put " + control + L" there before us is counted (SharedDLLs count " +
                                 std::to_wstring(count) + L")");
    return ERROR_SUCCESS;
}

// Its rollback, which sees nothing of what the count was: it runs after
// Windows Installer's own rollback of the components, and leaves the count
// as it was before the installation, which the actions' condition knows:
// none (CONTROL_SHARED_COUNT was empty). CustomActionData as the count's.
UINT UncountEarlier(MSIHANDLE session) {
    const std::wstring control = MsiSession::CustomActionData(session);
    const DWORD error = SharedCount::Remove(control);
    MsiSession::Log(session, error ? L"rollback: the SharedDLLs count of " + control + L" could not be removed (error " +
                                         std::to_wstring(error) + L")"
                                   : L"rollback: " + control + L" has no SharedDLLs count, as before the installation");
    return ERROR_SUCCESS;
}

// The two parts of the arrangement's CustomActionData: the control's path, "|", the starter's.
std::pair<std::wstring, std::wstring> ControlAndStarter(MSIHANDLE session) {
    const std::wstring data = MsiSession::CustomActionData(session);
    const std::size_t bar = data.find(L'|');
    return {data.substr(0, bar), bar == std::wstring::npos ? std::wstring() : data.substr(bar + 1)};
}

// A refusal of the starter says why; any other failure names the system's error.
std::wstring ArrangementFailure(const std::wstring& control, DWORD error, const std::wstring& refusal) {
    return FileName(control) + L" is replaced at the next restart, but the registration after it could not be "
                               L"arranged" +
           (refusal.empty() ? L" (service " + std::wstring(RestartService::kServiceNamePrefix) + L", error " +
                                  std::to_wstring(error) + L")."
                            : L": " + refusal);
}

// When the installation leaves TVex.DLL to be replaced at the next restart
// (in use, it could not be replaced now), the program would register the old
// file: the starter is arranged to run the program once at that restart, as
// SYSTEM, before anyone logs on. CustomActionData: the control's path, "|",
// the starter's path in the product's own folder, which no command line
// moves. Nothing pending, nothing is arranged.
UINT ArrangeAtRestart(MSIHANDLE session) {
    const auto [control, starter] = ControlAndStarter(session);
    if (!PendingRename::IsPendingReplacement(control)) {
        MsiSession::Log(session, FileName(control) + L" is in place; nothing to arrange for the next restart");
        return ERROR_SUCCESS;
    }
    const RestartService::Arranged arranged = RestartService::Arrange(starter);
    if (arranged.error) {
        MsiSession::ShowError(session, ArrangementFailure(control, arranged.error, arranged.refusal));
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
        MsiSession::Log(session, L"rollback: " + ArrangementFailure(control, matched.error, matched.refusal));
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
