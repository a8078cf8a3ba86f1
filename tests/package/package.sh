#!/usr/bin/env bash
# End-to-end suite of the installation package: test packages with this
# tree's program and the good or the failing stand-in control, installed,
# repaired, failed and removed by Wine's real msiexec, silently (/qn), as
# management tools run them. Run it under its own X server (xvfb-run); ctest
# does (tests/package/suite.cmake).
#
#   package.sh <the options of the end-to-end suite> --package GOOD.msi --failing-package FAIL.msi
#
# Each scenario starts from a clean prefix (no product installed, no control,
# no marker, the class unregistered) and leaves it so. Every check looks at
# the effect (files, registry, the program's event), never at msiexec's exit
# code alone: Wine's msiexec reports success for an action it could not run.
set -uo pipefail
source "$(dirname "$0")/../e2e/lib.sh"

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

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
GOOD_WIN=$(windows_path "$PACKAGE") FAIL_WIN=$(windows_path "$FAILING_PACKAGE")
GOOD_CODE=$(product_code "$PACKAGE") FAIL_CODE=$(product_code "$FAILING_PACKAGE")
[ -n "$GOOD_CODE" ] && [ -n "$FAIL_CODE" ] || { echo "no product code in $PACKAGE or $FAILING_PACKAGE" >&2; exit 2; }

# msiexec_unseen EXPECTED ARG...: msiexec on a window station no one can see,
# as a management tool running as SYSTEM starts it; its log goes to msiexec.log.
msiexec_unseen() {
    local expected=$1
    shift
    run_on_station "$expected" "$MSI_TIMEOUT_MS" msiexec "$@" /qn /l*v "$(windows_path "$WORK/msiexec.log")" ||
        fail "msiexec's log ends:" "$(tail -n 5 "$WORK/msiexec.log" 2>/dev/null | tr -d '\r')"
}

# ---------------------------------------------------------------- checks

expect_installed() {
    cmp -s "$SYSDIR/TVex.DLL" "$STANDINS/good/TVex.DLL" || fail "the control is not in $SYSDIR_WIN" || return 1
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

# ---------------------------------------------------------------- the prefix

# Every product of this name, by its uninstall entry: the test packages of
# earlier builds have product codes of their own.
installed_products() {
    local code
    wine_call reg query "$UNINSTALL_KEY" /reg:32 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}$' |
        while read -r code; do
            [ "$(reg_text "$UNINSTALL_KEY\\$code" DisplayName)" = "$PRODUCT_NAME" ] && echo "$code"
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

run_suite "installation package suite" \
    installs_unseen failure_rolls_back_unseen failure_rolls_back_visible repairs_and_removes
