#!/usr/bin/env bash
# End-to-end suite of the installation package: test packages with this
# tree's program and stand-in controls (tests/package/suite.cmake says which),
# installed, updated, repaired, failed and removed by Wine's real msiexec,
# silently (/qn), as management tools run them. Run it under its own X server
# (xvfb-run); ctest does (tests/package/suite.cmake).
#
#   package.sh <the options of the end-to-end suite> --packages DIR
#
# Each scenario starts from a clean prefix (no product installed, no control,
# no marker, the class unregistered) and leaves it so. Every check looks at
# the effect (files, registry, the program's event), never at msiexec's exit
# code alone: Wine's msiexec reports success for an action it could not run.
#
# What Wine can't show: it removes an earlier product at RemoveExistingProducts
# in a process of its own, committed at once (Windows: inside the
# transaction), and it restores no file it replaced or deleted; its rollback
# deletes the files before the rollback actions run.
set -uo pipefail
# shellcheck source=tests/lib/runner.sh
source "$(dirname "$0")/../lib/runner.sh"

suite_init "$@"
PRODUCT_NAME="Tarvex ActiveX Control"
# Wine's msiexec ends a failed installation with 1627 where Windows documents 1603.
MSI_FAILED=1627
MSI_TIMEOUT_MS=120000
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
case $KIND in
win64) INSTALL_DIR_WIN='C:\Program Files (x86)\Tarvex ActiveX' ;;
win32) INSTALL_DIR_WIN='C:\Program Files\Tarvex ActiveX' ;;
esac
INSTALL_DIR=$WINEPREFIX/drive_c/${INSTALL_DIR_WIN#C:\\}
INSTALL_DIR=${INSTALL_DIR//\\//}

product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
# For each test package NAME: NAME_WIN, its path for msiexec, and NAME_CODE, its product code.
for name in deployed good fail later late_failure; do
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

# Neither the marker nor its key (the key alone would be left empty).
expect_no_marker() {
    ! reg_key_exists "$MARKER_KEY" || fail "$MARKER_KEY is there: $(reg_text "$MARKER_KEY" Registered)"
}

# expect_only_product CODE: one product of this name is installed, that one.
expect_only_product() {
    local products
    products=$(installed_products)
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

# expect_rolled_back ACTION...: msiexec's log shows each action run after the
# installation failed, as part of its rollback.
expect_rolled_back() {
    local action rollback
    rollback=$(tr -d '\r' < "$WORK/msiexec.log" | sed -n '/^Action ended .*: INSTALL\. Return value 0\./,$p') ||
        fail "no msiexec log in $WORK" || return 1
    for action in "$@"; do
        grep -q "^Action start .*: $action\.$" <<< "$rollback" || fail "the rollback did not run $action" || return 1
    done
}

# ---------------------------------------------------------------- the prefix

# Every product of this name, by its uninstall entry: the test packages of
# earlier builds have product codes of their own.
installed_products() {
    local code codes
    # No uninstall entry with a product code at all is an answer: none.
    codes=$(wine_call reg query "$UNINSTALL_KEY" /reg:32 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}$') || true
    for code in $codes; do
        [ "$(reg_text "$UNINSTALL_KEY\\$code" DisplayName)" != "$PRODUCT_NAME" ] || echo "$code"
    done
}

# Called by reset_prefix: removes what a scenario installed.
suite_reset() {
    local code
    place_tool
    for code in $(installed_products); do
        timeout -k 5 $((MSI_TIMEOUT_MS / 1000)) "$WINE" msiexec /x "$code" /qn >/dev/null 2>&1 ||
            echo "    could not remove $code" >&2
    done
}

# ---------------------------------------------------------------- scenarios

# As management tools run it: where no one sees, the program registers the
# control and writes the marker; its log goes to the event log.
scenario_installs_unseen() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    expect_installed "$GOOD_CODE"
    mapfile -t expected < <(success_entries 'not yet' "$INSTALL_DIR_WIN")
    expect_event "$WORK/station.err" information "${expected[@]}"
}

# A control that fails to register fails the installation, which is rolled
# back; a marker from before stays as it was.
scenario_failure_rolls_back_unseen() {
    put_marker
    msiexec_unseen "$MSI_FAILED" /i "$FAIL_WIN"
    expect_nothing_installed "$FAIL_CODE"
    expect_marker_untouched
    mapfile -t expected < <(failure_entries " 5" already "$INSTALL_DIR_WIN")
    expect_event "$WORK/station.err" error "${expected[@]}"
}

# msiexec on the visible desktop: the program's error box shows and waits
# for an answer, then the installation is rolled back as where no one sees.
scenario_failure_rolls_back_visible() {
    start_visible "$MSI_TIMEOUT_MS" msiexec /i "$FAIL_WIN" /qn
    answer ok "$WORK/error.txt"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "Can't register Tarvex ActiveX control, result  5!"
    await_visible "$MSI_FAILED"
    expect_nothing_installed "$FAIL_CODE"
    expect_no_marker
}

# A repair registers the control again and renews the marker; removal leaves
# nothing of the control behind.
scenario_repairs_and_removes() {
    msiexec_unseen 0 /i "$GOOD_WIN"
    put_marker
    rm "$SYSDIR/TVex.DLL"
    # What msiexec /fa does: Wine's msiexec repairs nothing given a product code.
    msiexec_unseen 0 /i "$GOOD_WIN" REINSTALL=ALL REINSTALLMODE=amus
    expect_installed "$GOOD_CODE"
    msiexec_unseen 0 /x "$GOOD_CODE"
    expect_nothing_installed "$GOOD_CODE"
    expect_no_marker
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
    # Windows restores the earlier control from its backup; Wine restores no file.
    echo "    after the failed update the system folder holds $(control_state) (Wine restores no replaced file)"
}

# e. The package as deployed (1.2.0.7) stays where its update fails.
scenario_failed_update_from_deployed_keeps_it() { failed_update_keeps "$DEPLOYED_WIN" "$DEPLOYED_CODE"; }

# f. So does an earlier build of this package.
scenario_failed_update_from_earlier_build_keeps_it() { failed_update_keeps "$GOOD_WIN" "$GOOD_CODE"; }

# g, h. A later version replaces the deployed one: one product, the new
# control, registered, the marker renewed. Its removal by feature (the
# deployed package's conditions took only REMOVE=ALL for one) leaves nothing.
scenario_update_from_deployed_then_removal() {
    msiexec_unseen 0 /i "$DEPLOYED_WIN"
    put_marker
    msiexec_unseen 0 /i "$LATER_WIN"
    expect_only_product "$LATER_CODE"
    expect_installed "$LATER_CODE" good2
    msiexec_unseen 0 /i "$LATER_WIN" REMOVE=Complete
    expect_nothing_installed "$LATER_CODE"
    expect_no_marker
}

# i. A step after the program's success fails: the first installation leaves
# nothing, the marker the program wrote included, and the rollback ran its
# unregistration. (Wine deletes the control before the rollback actions run,
# so it can't show the class unregistered; Windows runs them first.)
scenario_late_failure_leaves_nothing() {
    msiexec_unseen "$MSI_FAILED" /i "$LATE_FAILURE_WIN"
    [ ! -e "$SYSDIR/TVex.DLL" ] || fail "the control is still in $SYSDIR_WIN" || return 1
    ! reg_key_exists "$UNINSTALL_KEY\\$LATE_FAILURE_CODE" || fail "the uninstall entry is still there" || return 1
    expect_no_marker
    expect_rolled_back RollbackMarker RollbackRegistration
}

run_suite "installation package suite" \
    installs_unseen failure_rolls_back_unseen failure_rolls_back_visible repairs_and_removes \
    failed_update_from_deployed_keeps_it failed_update_from_earlier_build_keeps_it \
    update_from_deployed_then_removal late_failure_leaves_nothing
