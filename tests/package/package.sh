#!/usr/bin/env bash
# End-to-end suite of the installation package: test packages with this
# tree's program and stand-in controls (tests/package/suite.cmake says which),
# installed, updated, repaired, failed and removed by Wine's real msiexec,
# silently (/qn) as management tools run them, and at basic UI (/qb) as a
# person does. Run it under its own X server (xvfb-run); ctest does
# (tests/package/suite.cmake).
#
#   package.sh <the options of the end-to-end suite> --packages DIR
#
# Each scenario starts from a clean prefix (no product installed, no control,
# no marker, the class unregistered, no SharedDLLs count) and leaves it so.
# Every check looks at the effect (files, registry, the program's event, our
# custom actions' own lines in msiexec's log), never at msiexec's exit code
# alone: Wine's msiexec reports success for an action it could not run.
#
# What Wine can't show: it removes an earlier product at RemoveExistingProducts
# in a process of its own, committed at once (Windows: inside the
# transaction), and it restores no file it replaced or deleted; its rollback
# deletes the files before the rollback actions run, so an action that
# registers a restored control finds none. It has no client and server: what
# AppSearch finds at /qb is the server's too. It removes a file whose
# SharedDLLs count stays above zero (Windows keeps it). It never renames a
# file in use aside (.rbf), as Windows often does: a DLL held by a running
# program always waits for the restart. Every process runs as the same
# user, not as SYSTEM in session 0. A restart is the wineserver's end: the
# next Wine command runs the pending renames, then the auto-start services.
set -uo pipefail
# shellcheck source=tests/lib/runner.sh
source "$(dirname "$0")/../lib/runner.sh"
# shellcheck source=tests/lib/msilog.sh
source "$(dirname "$0")/../lib/msilog.sh"

suite_init "$@"
PRODUCT_NAME="Tarvex ActiveX Control"
# A failed installation: 1603 when our custom action fails it, as on Windows;
# Wine's msiexec says 1627 for an EXE action's failure (Windows: 1603).
MSI_FAILED=1603 MSI_FAILED_BY_EXE=1627
MSI_TIMEOUT_MS=120000
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
SHARED_DLLS_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
SESSION_MANAGER_KEY='HKLM\System\CurrentControlSet\Control\Session Manager'
INSTALLER_COMPONENTS_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components'
# Each arrangement for a restart is a service of its own: TarvexRegisterAtRestart-SUFFIX.
SERVICES_KEY='HKLM\System\CurrentControlSet\Services'
RESTART_SERVICE=TarvexRegisterAtRestart
RESTART_TIMEOUT_S=90
INSTALLER_TITLE="Windows Installer"
case $KIND in
win64) INSTALL_DIR_WIN='C:\Program Files (x86)\Tarvex ActiveX' ;;
win32) INSTALL_DIR_WIN='C:\Program Files\Tarvex ActiveX' ;;
esac
INSTALL_DIR=$WINEPREFIX/drive_c/${INSTALL_DIR_WIN#C:\\}
INSTALL_DIR=${INSTALL_DIR//\\//}

product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
# For each test package NAME: NAME_WIN, its path for msiexec, and NAME_CODE, its product code.
GOOD_PACKAGE=$PACKAGES/good.msi
for name in deployed good fail unloadable asks dependent later late_failure removal_failure; do
    file=$PACKAGES/$name.msi code=$(product_code "$file")
    [ -n "$code" ] || { echo "no product code in $file" >&2; exit 2; }
    printf -v "${name^^}_WIN" '%s' "$(windows_path "$file")"
    printf -v "${name^^}_CODE" '%s' "$code"
done

# msiexec_unseen EXPECTED ARG...: msiexec on a window station no one can see,
# as a management tool running as SYSTEM starts it; its log goes to msiexec.log.
msiexec_unseen() {
    local expected=$1
    shift
    run_on_station "$expected" "$MSI_TIMEOUT_MS" msiexec "$@" /qn /l*v "$(windows_path "$WORK/msiexec.log")" ||
        fail "msiexec's log ends:" "$(tail -n 5 "$WORK/msiexec.log" 2>/dev/null | tr -d '\r')"
}

# ---------------------------------------------------------------- checks

# expect_installed CODE [CONTROL]: that product, with that stand-in control (good by default).
expect_installed() {
    cmp -s "$SYSDIR/TVex.DLL" "$STANDINS/${2:-good}/TVex.DLL" ||
        fail "the ${2:-good} control is not in $SYSDIR_WIN (there: $(control_state))" || return 1
    [ -f "$INSTALL_DIR/$PROGRAM_TITLE.exe" ] || fail "the program is not in $INSTALL_DIR_WIN" || return 1
    expect_class_registered
    expect_marker_new
    reg_key_exists "$UNINSTALL_KEY\\$1" || fail "no uninstall entry $1"
}

# Nothing of the product left: no control, no program, no class, no uninstall entry.
expect_nothing_installed() {
    [ ! -e "$SYSDIR/TVex.DLL" ] || fail "the control is still in $SYSDIR_WIN" || return 1
    [ ! -e "$INSTALL_DIR/$PROGRAM_TITLE.exe" ] || fail "the program is still in $INSTALL_DIR_WIN" || return 1
    expect_class_unregistered
    ! reg_key_exists "$UNINSTALL_KEY\\$1" || fail "the uninstall entry $1 is still there"
}

# tool_run_line [/u]: our DLL's line that it runs the registration tool on the control.
tool_run_line() {
    printf '%s: running "%s\\regsvr32.exe" %s/s "%s\\TVex.DLL"' "$PROGRAM_TITLE" "$SYSDIR_WIN" "${1:+$1 }" "$SYSDIR_WIN"
}

# Neither the marker nor its key (the key alone would be left empty).
expect_no_marker() {
    ! reg_key_exists "$MARKER_KEY" || fail "$MARKER_KEY is there: $(reg_text "$MARKER_KEY" Registered)"
}

# expect_only_product CODE: one product of this name is installed, that one.
expect_only_product() {
    local products
    products=$(installed_products) || fail "the installed products can't be listed" || return 1
    expect_eq "the installed products" "$products" "$1"
}

# Which stand-in control the system folder holds, or that it holds none.
control_state() {
    local kind
    [ -e "$SYSDIR/TVex.DLL" ] || { echo "no TVex.DLL"; return; }
    for kind in good good2 fail; do
        cmp -s "$SYSDIR/TVex.DLL" "$STANDINS/$kind/TVex.DLL" && { echo "the $kind control"; return; }
    done
    echo "an unknown TVex.DLL"
}

# ---------------------------------------------------------------- the prefix

# Every product of this name, by its uninstall entry: the test packages of
# earlier builds have product codes of their own.
installed_products() {
    local code codes listing
    # A prefix where nothing was ever installed has no such key: no products.
    reg_key_exists "$UNINSTALL_KEY" || return 0
    # Once it is there, a query that fails says nothing about the products.
    listing=$(wine_call reg query "$UNINSTALL_KEY" /reg:32 2>&1) ||
        { echo "    reg query $UNINSTALL_KEY failed: $listing" >&2; return 1; }
    # No uninstall entry with a product code at all is an answer: none.
    codes=$(tr -d '\r' <<< "$listing" | grep -o '{[0-9A-Fa-f-]*}$') || true
    for code in $codes; do
        [ "$(reg_text "$UNINSTALL_KEY\\$code" DisplayName)" != "$PRODUCT_NAME" ] || echo "$code"
    done
}

# Called by reset_prefix: removes what a scenario installed, and the DLL's
# SharedDLLs count, which Wine leaves after a rollback.
suite_reset() {
    local code
    place_tool
    for code in $(installed_products); do
        timeout -k 5 $((MSI_TIMEOUT_MS / 1000)) "$WINE" msiexec /x "$code" /qn NO_FAILING_STEP=1 >/dev/null 2>&1 ||
            echo "    could not remove $code" >&2
    done
    wine_call reg delete "$SHARED_DLLS_KEY" /v "$SYSDIR_WIN\\TVex.DLL" /f /reg:32 >/dev/null 2>&1 || true
    forget_half_removed_products
    forget_restart
    restore_machine_path
}

# ---------------------------------------------------------------- the machine's PATH

ENVIRONMENT_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
TOOLS_DIR_WIN='C:\Tools'
TOOLS_DIR=$WINEPREFIX/drive_c/Tools
MACHINE_PATH_KEPT=$SUITE_WORK/machine-path.kept

machine_path() {
    wine_call reg query "$ENVIRONMENT_KEY" /v PATH 2>/dev/null | tr -d '\r' | sed -n 's/^ *PATH *REG_[A-Z_]*SZ *//p'
}

# put_on_machine_path: a tools folder that users may write (as one made
# under C:\ is), first on the machine's PATH, which every process started
# afterwards takes; the PATH before is kept for restore_machine_path.
put_on_machine_path() {
    local before
    before=$(machine_path) && [ -n "$before" ] || fail "the machine's PATH can't be read" || return 1
    printf '%s' "$before" > "$MACHINE_PATH_KEPT"
    mkdir -p "$TOOLS_DIR"
    wine_call reg add "$ENVIRONMENT_KEY" /v PATH /t REG_EXPAND_SZ /d "$TOOLS_DIR_WIN;$before" /f >/dev/null ||
        fail "the machine's PATH can't be set"
}

restore_machine_path() {
    rm -rf "$TOOLS_DIR" "$(canary_hits)"
    [ -e "$MACHINE_PATH_KEPT" ] || return 0
    wine_call reg add "$ENVIRONMENT_KEY" /v PATH /t REG_EXPAND_SZ /d "$(cat "$MACHINE_PATH_KEPT")" /f >/dev/null ||
        echo "    reset: the machine's PATH could not be restored" >&2
    rm -f "$MACHINE_PATH_KEPT"
}

# squish GUID: the GUID as Windows Installer names its registry keys (each
# group reversed, the last two a byte at a time).
squish() {
    local g=${1//[\{\}-]/} out='' i
    for i in 7 6 5 4 3 2 1 0 11 10 9 8 15 14 13 12 17 16 19 18 21 20 23 22 25 24 27 26 29 28 31 30; do
        out+=${g:i:1}
    done
    echo "$out"
}

# Wine's rollback of a failed removal leaves the product's components
# registered for it, without the product (no uninstall entry to remove it
# by): the next removal of ours would keep the files for it. Once no product
# of ours is left, our components have no client.
forget_half_removed_products() {
    local component
    for component in $(msiinfo export "$GOOD_PACKAGE" Component | tr -d '\r' | tail -n +4 | cut -f2); do
        reg_delete_key "$INSTALLER_COMPONENTS_KEY\\$(squish "$component")" /reg:64
    done
}

# What a scenario left for the next restart: no rename is pending (the next
# wineserver, another suite's, would run it), no registration arranged.
forget_restart() {
    local value
    for value in PendingFileRenameOperations PendingFileRenameOperations2; do
        wine_call reg delete "$SESSION_MANAGER_KEY" /v "$value" /f >/dev/null 2>&1 || true
    done
    rm -f "$SYSDIR"/msi*.tmp
    local service
    for service in $(restart_services); do wine_call sc delete "$service" >/dev/null 2>&1 || true; done
}

# hold_control: a program of ours keeps the system folder's TVex.DLL loaded,
# as a user's program that uses the control does; HOLDER_PID is its run.
hold_control() {
    timeout -k 5 300 "$WINE" "$BUILD/tests/holder.exe" "$SYSDIR_WIN\\TVex.DLL" 290000 > "$WORK/holder.out" 2>&1 &
    HOLDER_PID=$!
    local tenths
    for ((tenths = 0; tenths < 300; tenths++)); do
        ! grep -q loaded "$WORK/holder.out" || return 0
        kill -0 "$HOLDER_PID" 2>/dev/null || break
        sleep 0.1
    done
    fail "the holder did not load TVex.DLL within 30 s: $(head -c 300 "$WORK/holder.out")"
}

# release_control: the holder ends; the rename that waits for the restart
# stays in the registry. (Wine can't roll back the copy of a file still in
# use, and stops its rollback there; Windows can.)
release_control() {
    kill "$HOLDER_PID" 2>/dev/null || true
    wait "$HOLDER_PID" 2>/dev/null || true
    HOLDER_PID=''
}

# restart_services: the names of the services arranged for the next restart, one a line.
restart_services() {
    local listing
    listing=$(wine_call reg query "$SERVICES_KEY" /reg:64 2>/dev/null) || return 0
    tr -d '\r' <<< "$listing" | sed -n "s/^.*\\\\\($RESTART_SERVICE\(-[0-9A-Fa-f]*\)\?\)\$/\1/p"
}

expect_arranged() {
    local services image
    services=$(restart_services)
    [ -n "$services" ] || fail "no registration is arranged for the next restart" || return 1
    [ "$(wc -w <<< "$services")" -eq 1 ] || fail "more than one registration is arranged: $services" || return 1
    image=$(wine_call reg query "$SERVICES_KEY\\$services" /v ImagePath /reg:64 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *ImagePath *REG_[A-Z_]*SZ *//p')
    expect_eq "the arranged service's binary" "$image" "\"$INSTALL_DIR_WIN\\TarvexRegisterAtRestart.exe\""
}
expect_not_arranged() {
    local services
    services=$(restart_services)
    [ -z "$services" ] || fail "a registration is arranged for the next restart: $services"
}

# The system folder's TVex.DLL waits for the restart: a pending rename onto it.
expect_pending_replacement() {
    local renames
    renames=$(wine_call reg query "$SESSION_MANAGER_KEY" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r') ||
        fail "no rename is pending" || return 1
    grep -qiF ".tmp\\0\\??\\$SYSDIR_WIN\\TVex.DLL" <<< "$renames" ||
        fail "no rename onto TVex.DLL is pending: $renames"
}

# simulate_restart: the wineserver ends, with every program; the next Wine
# command, as a restart does, runs the pending renames, then the auto-start
# services, whose event-log lines go to restart.err. Then waits until the
# one-shot service has run and deleted itself.
simulate_restart() {
    box release 10000 >/dev/null 2>&1 || true
    wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w || fail "the wineserver did not end within 60 s" || return 1
    HOLDER_PID=''
    WINEDEBUG=-all,+eventlog wine_call cmd /c exit 0 >/dev/null 2> "$WORK/restart.err" ||
        fail "Wine did not start again after the restart" || return 1
    start_keepalive
    local seconds
    for ((seconds = 0; seconds < RESTART_TIMEOUT_S; seconds++)); do
        [ -n "$(restart_services)" ] || return 0
        sleep 1
    done
    fail "the registration arranged for the restart had not run $RESTART_TIMEOUT_S s after it"
}

# expect_restart_events: the starter's event says how the program's run after
# the restart ended, and holds that run's log, from its first entry. (On
# Windows the program, unseen in session 0, writes its own event too; under
# Wine a service's child has no standard error, where the event would show.)
expect_restart_events() {
    local event started="$INSTALL_DIR_WIN\\$PROGRAM_TITLE started"
    event=$(grep -F ':trace:eventlog:ReportEventW L"Registration after the restart: ' "$WORK/restart.err") ||
        fail "no event of the starter's:" "$(grep eventlog "$WORK/restart.err" | cut -c1-200)" || return 1
    # Wine's debug string writes CR LF as \r\n and doubles each backslash.
    grep -qF 'ended with exit code 0.\r\n\r\n' <<< "$event" && grep -qF "${started//\\/\\\\}" <<< "$event" ||
        fail "the starter's event does not say the program registered:" "${event:0:400}"
}

# shared_count N: the SharedDLLs count of the system folder's TVex.DLL, as setups keep it.
shared_count() {
    reg32 add "$SHARED_DLLS_KEY" /v "$SYSDIR_WIN\\TVex.DLL" /t REG_DWORD /d "$1" /f >/dev/null
}


# ---------------------------------------------------------------- scenarios

# As management tools run it: where no one sees, the program registers the
# control and writes the marker; its log goes to the event log, and, through
# our custom action, into msiexec's log.
scenario_installs_unseen() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    expect_installed "$GOOD_CODE"
    mapfile -t expected < <(success_entries 'not yet' "$INSTALL_DIR_WIN")
    expect_event "$WORK/station.err" information "${expected[@]}"
    expect_msi_log_entries "${expected[@]}"
    expect_msi_log "$PROGRAM_TITLE: running $INSTALL_DIR_WIN\\$PROGRAM_TITLE.exe" \
        "$PROGRAM_TITLE: $PROGRAM_TITLE.exe ended with exit code 0."
}

# A control that fails to register fails the installation, which is rolled
# back; a marker from before stays as it was, and so does another value in
# its key. msiexec's log says why, in the program's words.
scenario_failure_rolls_back_unseen() {
    put_marker
    reg32 add "$MARKER_KEY" /v Other /t REG_SZ /d "not the marker's" /f >/dev/null
    msiexec_unseen "$MSI_FAILED" /i "$FAIL_WIN"
    expect_nothing_installed "$FAIL_CODE"
    expect_marker_untouched
    expect_eq "the key's other value" "$(reg_text "$MARKER_KEY" Other)" "not the marker's"
    mapfile -t expected < <(failure_entries " 5" already "$INSTALL_DIR_WIN")
    expect_event "$WORK/station.err" error "${expected[@]}"
    expect_msi_log "$PROGRAM_TITLE: RESULT 5 DllRegisterServer returned a failure" \
        "Can't register Tarvex ActiveX control, result  5!"
}

# The registration tool ends with 3, as the control can't be loaded (it
# imports a DLL that is absent): the installer's error, in msiexec's log,
# says what 3 means; the first installation's rollback undoes the
# registration and the marker as before. (Not by another program in the
# tool's place: in a 32-bit prefix Wine's msiexec runs its own regsvr32
# whatever the system folder holds.)
scenario_tool_exit_code_explained() {
    msiexec_unseen "$MSI_FAILED" /i "$UNLOADABLE_WIN"
    expect_nothing_installed "$UNLOADABLE_CODE"
    expect_msi_log "Can't register Tarvex ActiveX control, result  3!" \
        "Exit code 3 of the registration tool: TVex.DLL or a DLL it needs could not be loaded (often a missing runtime)."
    expect_rolled_back RollbackMarker RollbackRegistration
    expect_msi_log "$(tool_run_line /u)"
}

# msiexec on the visible desktop, as a person starts an installation from
# their own session (Windows then runs our actions as SYSTEM on that very
# desktop): the registration fails, and no box of the program's or the
# tool's shows there; msiexec ends by itself, rolled back, and its log holds
# the program's reason once, as the installer's error.
scenario_failure_unseen_on_the_visible_desktop() {
    watch_boxes "$MSI_TIMEOUT_MS"
    start_visible "$MSI_TIMEOUT_MS" msiexec /i "$FAIL_WIN" /qn /l*v "$(windows_path "$WORK/msiexec.log")"
    await_visible "$MSI_FAILED"
    expect_no_box_seen
    expect_nothing_installed "$FAIL_CODE"
    expect_no_marker
    expect_msi_log_once "Can't register Tarvex ActiveX control, result  5!"
}

# A control whose registration asks in a box of its own: the box shows on no
# desktop that anyone sees, the program ends the tool after its 5 minutes
# where no one sees, and the installation ends by itself, rolled back, with
# the reason in msiexec's log; no tool is left running. (It waits the 5
# minutes out: not in the suite's run, but once per machine, on its own
# with --only, in a prefix of its own; tests/package/suite.cmake.)
scenario_control_that_asks_is_ended() {
    local ms=$((7 * 60000))
    watch_boxes "$ms"
    start_visible "$ms" msiexec /i "$ASKS_WIN" /qn /l*v "$(windows_path "$WORK/msiexec.log")"
    await_visible "$MSI_FAILED"
    expect_no_box_seen
    expect_nothing_installed "$ASKS_CODE"
    expect_msi_log "Can't register Tarvex ActiveX control, result  1460!" \
        "Exit code 1460 of the registration tool: the registration tool did not end within 5 minutes and was ended."
    [ -z "$(windows_processes regsvr32.exe)" ] || fail "a registration tool is left running:" \
        "$(windows_processes regsvr32.exe | xargs -r ps -o pid=,args= -p)"
}

# At basic UI a person sees the installer's own error box, with the program's
# reason and what the tool's exit code means, and no box of the program's.
# With --screenshots, the box is taken on a virtual desktop.
scenario_installer_error_at_basic_ui() {
    local text="Can't register Tarvex ActiveX control, result  5!"$'\r\n\r\n'"Exit code 5 of the registration tool: DllRegisterServer returned a failure."
    local desktop=()
    if [ -n "$SCREENSHOTS" ]; then
        mkdir -p "$SCREENSHOTS"
        desktop=(--desktop "$SHOT_DESKTOP")
        start_on_desktop $((MSI_TIMEOUT_MS / 1000)) msiexec /i "$FAIL_WIN" /qb
    else
        start_visible "$MSI_TIMEOUT_MS" msiexec /i "$FAIL_WIN" /qb
    fi
    box "${desktop[@]}" --title "$INSTALLER_TITLE" wait "$BOX_TIMEOUT_MS" > "$WORK/installer.txt" ||
        fail "no box of the installer's came" || return 1
    expect_box "$WORK/installer.txt" "$ERROR_BOX" "$text"
    if [ -n "$SCREENSHOTS" ]; then
        shoot_box installer-error-box ok "$INSTALLER_TITLE"
        await_desktop
    else
        box --title "$INSTALLER_TITLE" answer ok "$BOX_TIMEOUT_MS" >/dev/null || fail "cannot answer the installer's box"
        await_visible "$MSI_FAILED"
    fi
    expect_nothing_installed "$FAIL_CODE"
}

# A repair registers the control again and renews the marker; removal leaves
# nothing of the control behind.
scenario_repairs_and_removes() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    put_marker
    rm "$SYSDIR/TVex.DLL"
    # What msiexec /fomus does: Wine's msiexec repairs nothing given a product code.
    msiexec_unseen 0 /i "$GOOD_WIN" REINSTALL=ALL REINSTALLMODE=omus
    expect_installed "$GOOD_CODE"
    # Wine counts a repair as one more user of the DLL; Windows does not.
    shared_count 1
    msiexec_unseen 0 /x "$GOOD_CODE"
    expect_nothing_installed "$GOOD_CODE"
    expect_no_marker
    expect_msi_log "$(tool_run_line /u)" "$PROGRAM_TITLE: regsvr32.exe ended with exit code 0."
}

# failed_update_keeps EARLIER_WIN EARLIER_CODE: installs the earlier package,
# then the failing one over it: the earlier stays, registered, its marker as it was.
failed_update_keeps() {
    local marker
    msiexec_unseen 0 /i "$1"
    marker=$(reg_text "$MARKER_KEY" Registered) || fail "the earlier package wrote no marker" || return 1
    msiexec_unseen "$MSI_FAILED" /i "$FAIL_WIN"
    expect_only_product "$2"
    expect_class_registered
    expect_eq "the marker" "$(reg_text "$MARKER_KEY" Registered)" "$marker"
    expect_rolled_back RestoreRegistration
    expect_msi_log "$(tool_run_line)"
    # Windows restores the earlier control from its backup; Wine restores no file.
    echo "    after the failed update the system folder holds $(control_state) (Wine restores no replaced file)"
}

# e. The package as deployed (1.2.0.7) stays where its update fails.
scenario_failed_update_from_deployed_keeps_it() { failed_update_keeps "$DEPLOYED_WIN" "$DEPLOYED_CODE"; }

# f. So does an earlier build of this package.
scenario_failed_update_from_earlier_build_keeps_it() { failed_update_keeps "$GOOD_WIN" "$GOOD_CODE"; }

# g, h. A later release replaces the deployed one: one product, this
# build's program (the deployed one poses as 1.2.0.7, with other bytes), the
# new control, registered, the marker renewed, nothing left for a restart. Its removal by feature (the
# deployed package's conditions took only REMOVE=ALL for one) leaves nothing.
# (Not a second update after it: Wine's nested removal of the earlier
# product deletes the UpgradeCodes entry of the new one too, so that a next
# FindRelatedProducts finds nothing; Windows removes the earlier one's alone.)
scenario_update_from_deployed_then_removal() {
    msiexec_unseen 0 /i "$DEPLOYED_WIN"
    put_marker
    msiexec_unseen 0 /i "$LATER_WIN"
    expect_only_product "$LATER_CODE"
    cmp -s "$INSTALL_DIR/$PROGRAM_TITLE.exe" "$PROGRAM_EXE" ||
        fail "the update kept the deployed program in $INSTALL_DIR_WIN" || return 1
    expect_installed "$LATER_CODE" good2
    expect_not_arranged
    expect_msi_log "$PROGRAM_TITLE: TVex.DLL is in place; nothing to arrange for the next restart"
    msiexec_unseen 0 /i "$LATER_WIN" REMOVE=Complete
    expect_nothing_installed "$LATER_CODE"
    expect_no_marker
}

# i. A step after the program's success fails: the first installation leaves
# nothing, the marker the program wrote included, but another value in its
# key stays, and with it the key; the rollback ran its unregistration. (Wine
# deletes the control before the rollback actions run, so it can't show the
# class unregistered; Windows runs them first.)
scenario_late_failure_leaves_nothing() {
    reg32 add "$MARKER_KEY" /v Other /t REG_SZ /d "not the marker's" /f >/dev/null
    msiexec_unseen "$MSI_FAILED_BY_EXE" /i "$LATE_FAILURE_WIN"
    [ ! -e "$SYSDIR/TVex.DLL" ] || fail "the control is still in $SYSDIR_WIN" || return 1
    ! reg_key_exists "$UNINSTALL_KEY\\$LATE_FAILURE_CODE" || fail "the uninstall entry is still there" || return 1
    ! reg_text "$MARKER_KEY" Registered >/dev/null || fail "the marker the program wrote is still there" || return 1
    expect_eq "the key's other value" "$(reg_text "$MARKER_KEY" Other)" "not the marker's"
    expect_rolled_back RollbackMarker RollbackRegistration
    expect_msi_log "$PROGRAM_TITLE: rollback: marker removed; its key holds other values and stays (HKLM\\Software\\$COMPANY\\Tarvex_cl_V4)"
}

# expect_not_unregistered: the removal in msiexec's log did not unregister the control.
expect_not_unregistered() {
    local log
    log=$(msi_log) || return 1
    ! grep -q '^Action start .*: UnregisterControl\.' <<< "$log" ||
        fail "the removal unregistered the control that another setup still counts" || return 1
    echo "    after the removal the system folder holds $(control_state) (Wine removes a file still counted)"
}

# Another setup counts TVex.DLL as its own too (SharedDLLs): our removal
# leaves its control registered. (Windows also leaves the file, whose count
# stays above zero; Wine removes it all the same.)
scenario_removal_leaves_a_control_others_count() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    shared_count 2
    msiexec_unseen 0 /x "$GOOD_CODE"
    expect_class_registered
    expect_not_unregistered
}

# Another setup put an earlier TVex.DLL there and registered it before our
# first installation, and kept no count: ours replaces the file and counts
# that setup's reference too, so that our removal leaves the control
# registered and its count at 1.
scenario_removal_leaves_an_earlier_setups_control() {
    place_control good
    wine_call "$SYSDIR_WIN\\regsvr32.exe" /s "$CONTROL_WIN" || fail "the other setup could not register its control"
    expect_class_registered
    msiexec_unseen 0 /i "$LATER_WIN"
    msiexec_unseen 0 /x "$LATER_CODE"
    expect_class_registered
    expect_not_unregistered
    expect_eq "the SharedDLLs count after our removal" "$(reg_dword "$SHARED_DLLS_KEY" "$CONTROL_WIN")" 0x1
}

# The programs run as SYSTEM from their folder under Program Files: a first
# installation into another one (INSTALLDIR on the command line) is refused
# before anything is written, with the reason in msiexec's log.
scenario_moved_program_folder_refused() {
    msiexec_unseen "$MSI_FAILED" /i "$GOOD_WIN" 'INSTALLDIR=C:\Tarvex'
    expect_nothing_installed "$GOOD_CODE"
    [ ! -e "$WINEPREFIX/drive_c/Tarvex" ] || fail "C:\Tarvex was made" || return 1
    expect_no_marker
    # Wine shows a type 19 error at a user interface alone and logs it nowhere;
    # Windows logs it. The text, formatted, stands among the properties.
    expect_ran RefuseMovedProgramFolder
    expect_msi_log "Property(S): MovedProgramFolderRefusal = $PRODUCT_NAME is installed into $INSTALL_DIR_WIN\\ alone, which only administrators can write: its programs run as SYSTEM. Another folder (C:\\Tarvex\\) is refused; install without INSTALLDIR."
}

# A control that loads a helper DLL by bare name, which lies only in a folder
# on the machine's PATH that users may write: the installation registers the
# control, and that DLL never loads, as what runs as SYSTEM has the Windows
# folders alone on its PATH. (Wine searches for it as Windows does under
# tvexdep=n,b.)
scenario_dll_on_the_machine_path_never_loads() {
    put_on_machine_path
    cp "$BUILD/tests/canaries/tvexdep.dll" "$TOOLS_DIR/tvexdep.dll"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;tvexdep=n,b" msiexec_unseen 0 /i "$DEPENDENT_WIN"
    expect_installed "$DEPENDENT_CODE" dependent
    expect_no_canary
}

# Per machine only: a per-user installation is refused with its reason. (At
# /qn, Windows logs the message; Wine shows it only at a user interface.)
scenario_per_user_refused() {
    start_visible "$MSI_TIMEOUT_MS" msiexec /i "$GOOD_WIN" 'ALLUSERS=""' /qb
    box --title "Install Failed" answer ok "$BOX_TIMEOUT_MS" > "$WORK/refusal.txt" ||
        fail "no box of the installer's came" || return 1
    expect_box "$WORK/refusal.txt" 'buttons=ok *' "$PRODUCT_NAME is installed for all users of this computer only: do not set ALLUSERS or MSIINSTALLPERUSER on the command line."
    await_visible "$MSI_FAILED"
    expect_nothing_installed "$GOOD_CODE"
}

# ---------------------------------------------------------------- files in use

# An update while a program holds TVex.DLL: msiexec says 3010, the old file
# stays until the restart, which then puts the new one in place and runs the
# program once as a service: the new control registered (with the class that
# only it has), the marker renewed, both events written, the service gone.
scenario_update_in_use_registered_after_restart() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    hold_control
    msiexec_unseen 3010 /i "$LATER_WIN"
    cmp -s "$SYSDIR/TVex.DLL" "$STANDINS/good/TVex.DLL" || fail "before the restart the system folder holds $(control_state)" ||
        return 1
    expect_pending_replacement
    expect_arranged
    expect_msi_log "$PROGRAM_TITLE: TVex.DLL is replaced at the next restart; the control is registered again then"
    put_marker
    simulate_restart
    cmp -s "$SYSDIR/TVex.DLL" "$STANDINS/good2/TVex.DLL" || fail "after the restart the system folder holds $(control_state)" ||
        return 1
    expect_class_registered
    expect_class_registered "$CLSID2"
    expect_marker_new
    expect_restart_events
}

# The product removed while the registration after a restart is arranged:
# the arrangement goes with it.
scenario_removal_takes_the_arrangement_away() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    hold_control
    msiexec_unseen 3010 /i "$LATER_WIN"
    expect_arranged
    msiexec_unseen 0 /x "$LATER_CODE"
    expect_not_arranged
}

# An update of a control in use, not yet restarted, then a later update
# that fails: rolled back, the first update's arrangement stays, as its
# rename still waits for the restart. (Windows takes the failed update's
# own rename away with its files; that only a rename of its own waited, and
# so nothing stays arranged, shows in the unit tests.)
scenario_failed_update_keeps_an_earlier_arrangement() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    hold_control
    msiexec_unseen 3010 /i "$LATER_WIN"
    expect_arranged
    release_control
    msiexec_unseen "$MSI_FAILED_BY_EXE" /i "$LATE_FAILURE_WIN"
    expect_arranged
    expect_rolled_back RollbackRegistrationAtRestart
    expect_msi_log "$PROGRAM_TITLE: rollback: TVex.DLL waits for the restart; its registration then stays arranged"
}

# The same, with another folder on the removal's command line (INSTALLDIR is
# public): the service arranged again runs the starter from the product's
# own folder, never from one that users could write.
scenario_failed_removal_elsewhere_arranges_only_the_products_starter() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    hold_control
    msiexec_unseen 3010 /i "$REMOVAL_FAILURE_WIN"
    expect_arranged
    msiexec_unseen "$MSI_FAILED_BY_EXE" /x "$REMOVAL_FAILURE_CODE" 'INSTALLDIR=C:\Users\Public\x\'
    expect_rolled_back RearrangeRegistrationAtRestart
    expect_arranged
}

# A removal that fails after it took the arrangement for a restart away:
# rolled back, the arrangement is back, as the update's rename still waits.
scenario_failed_removal_keeps_the_arrangement() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    hold_control
    msiexec_unseen 3010 /i "$REMOVAL_FAILURE_WIN"
    expect_arranged
    msiexec_unseen "$MSI_FAILED_BY_EXE" /x "$REMOVAL_FAILURE_CODE"
    expect_ran CancelRegistrationAtRestart
    expect_arranged
    expect_rolled_back RearrangeRegistrationAtRestart
}

run_suite "installation package suite" \
    installs_unseen failure_rolls_back_unseen tool_exit_code_explained failure_unseen_on_the_visible_desktop \
    installer_error_at_basic_ui repairs_and_removes \
    failed_update_from_deployed_keeps_it failed_update_from_earlier_build_keeps_it \
    update_from_deployed_then_removal late_failure_leaves_nothing \
    removal_leaves_a_control_others_count removal_leaves_an_earlier_setups_control \
    moved_program_folder_refused per_user_refused \
    update_in_use_registered_after_restart removal_takes_the_arrangement_away \
    failed_update_keeps_an_earlier_arrangement failed_removal_keeps_the_arrangement \
    failed_removal_elsewhere_arranges_only_the_products_starter dll_on_the_machine_path_never_loads
