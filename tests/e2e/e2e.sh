#!/usr/bin/env bash
# End-to-end suite: the real TarvexActiveXInstaller.exe on real Windows APIs in
# a Wine prefix, with the system's own registration tool and stand-in controls.
# Run it under its own X server (xvfb-run); ctest does (tests/e2e/suite.cmake).
#
#   e2e.sh --kind win64|win32 --bits 32|64 --prefix DIR --build DIR --exe FILE
#          --company NAME --clsid {GUID} [--screenshots DIR] [--only SCENARIO]
#
# --bits is the bitness of the program and of the helpers in the build tree;
# the scenarios are the same for both. Each scenario starts from a clean prefix
# (no control in the system folder, no marker, the control's class
# unregistered, the tool in place, an empty clipboard) and leaves it so; none
# depends on another. Where programs of that bitness can't run, the suite is
# skipped (exit 77) with the reason.
set -uo pipefail
# shellcheck source=tests/lib/runner.sh
source "$(dirname "$0")/../lib/runner.sh"

suite_init "$@"
SENTINEL="clipboard sentinel of the end-to-end suite"

# ---------------------------------------------------------------- checks

# expect_log_box FILE ENTRY...: the log box, its entries' texts in this order; sets LOG
expect_log_box() {
    local file=$1 head=$'Tarvex registration details:\r\n\r\n' tail=$'\r\n\rCopy info to clipboard ?'
    shift
    read_box "$file"
    # shellcheck disable=SC2053  # the description is matched against a pattern
    [[ $BOX_DESC == $LOG_BOX ]] || fail "log box expected, got: $BOX_DESC" "text: $(printf '%q' "$BOX_TEXT")" || return 1
    [[ $BOX_TEXT == "$head"*"$tail" ]] || fail "log box text malformed: $(printf '%q' "$BOX_TEXT")" || return 1
    LOG=${BOX_TEXT#"$head"} LOG=${LOG%"$tail"}
    split_log "$LOG" || return 1
    expect_lines "log entries" "$(printf '%s\n' "${LOG_TEXTS[@]}")" "$(printf '%s\n' "$@")"
}

# expect_clipboard TEXT [FORMAT...]: the clipboard's text in each format
# (unicode, the default, or ansi, which Windows derives from it) is TEXT.
expect_clipboard() {
    local expected=$1 format text
    shift
    for format in "${@:-unicode}"; do
        box getclip "$format" > "$WORK/clipboard.txt" || fail "no $format text on the clipboard" || return 1
        IFS= read -r -d '' text < "$WORK/clipboard.txt" || true
        expect_eq "clipboard ($format)" "$text" "$expected" || return 1
    done
}

# ---------------------------------------------------------------- the program

# start_installer ARG...: runs the program in the background.
start_installer() {
    timeout -k 5 $((RUN_TIMEOUT_S + BOX_TIMEOUT_MS / 1000 * 2)) "$WINE" "$EXE_WIN" "$@" >"$WORK/installer.out" 2>&1 &
    INSTALLER_PID=$!
}

# run_unattended EXPECTED ARG...: runs the program on a window station no one
# can see; it must end by itself within RUN_TIMEOUT_S (a box it waited on
# would hold it) with that exit code. Its events go to station.err.
run_unattended() {
    local expected=$1
    shift
    run_on_station "$expected" $((RUN_TIMEOUT_S * 1000)) "$EXE_WIN" "$@"
}

# await_installer EXPECTED: the program must end by itself within RUN_TIMEOUT_S
# with that exit code: 0 after a clean run, 1 after one that showed an error box
# (a crash of the program would end with its exception code instead).
await_installer() {
    local rc
    if ! wait_for_exit "$INSTALLER_PID"; then
        if box wait 500 > "$WORK/stuck.txt" 2>/dev/null; then
            read_box "$WORK/stuck.txt"
            printf '    a box is still open: %q\n' "$BOX_TEXT"
        fi
        fail "the program did not end within $RUN_TIMEOUT_S s"
    fi
    rc=0; wait "$INSTALLER_PID" || rc=$?
    INSTALLER_PID=
    [ $rc -eq "$1" ] || fail "exit code $rc, expected $1" "output: $(head -c 500 "$WORK/installer.out")"
}

# ---------------------------------------------------------------- scenarios

control_missing_entries() {
    run_head already
    printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" "$CONTROL_WIN not found"
}

# The usual install: no argument, no window at all, exit code 0.
scenario_silent_success() {
    place_control good
    start_installer
    await_installer 0
    expect_marker_new
    expect_class_registered
}

# With an argument the log box lists every step; Yes puts the log alone on the clipboard.
scenario_log_box_yes() {
    place_control good
    box setclip "$SENTINEL" || fail "cannot set the clipboard"
    start_installer /x
    answer yes "$WORK/box.txt"
    await_installer 0
    mapfile -t expected < <(success_entries 'not yet')
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_clipboard "$LOG" unicode ansi
    expect_marker_new
    expect_class_registered
}

# No leaves the clipboard as it was.
scenario_log_box_no() {
    place_control good
    box setclip "$SENTINEL" || fail "cannot set the clipboard"
    start_installer /x
    answer no "$WORK/box.txt"
    await_installer 0
    mapfile -t expected < <(success_entries 'not yet')
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_clipboard "$SENTINEL"
}

# A run over an earlier installation replaces the marker's date and time.
scenario_second_run() {
    put_marker
    place_control good
    start_installer /x
    answer no "$WORK/box.txt"
    await_installer 0
    mapfile -t expected < <(success_entries already)
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_marker_new
}

scenario_control_missing() {
    put_marker
    start_installer /x
    answer ok "$WORK/error.txt"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "Can't find Tarvex DLL !"$'\r\n\r\n'"Please contact $COMPANY: Installation package incomplete"$'\r\n\r\n'"System folder: $SYSDIR_WIN"$'\r\n'"Operating system: $OS_NAME"
    answer no "$WORK/box.txt"
    await_installer 1
    mapfile -t expected < <(control_missing_entries)
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_marker_untouched
}

scenario_tool_missing() {
    put_marker
    place_control good
    rm "$TOOL"
    start_installer /x
    answer ok "$WORK/error.txt"
    local message="Can't find registration program '$TOOL_WIN'"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "$message"
    answer no "$WORK/box.txt"
    await_installer 1
    mapfile -t expected < <(run_head already; printf '%s\n' "$message")
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_marker_untouched
    expect_class_unregistered
}

scenario_control_fails() {
    put_marker
    place_control fail
    start_installer /x
    answer ok "$WORK/error.txt"
    local message="Can't register Tarvex ActiveX control, result  5!"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "$message"
    answer no "$WORK/box.txt"
    await_installer 1
    mapfile -t expected < <(failure_entries " 5" already)
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_marker_untouched
    expect_class_unregistered
}

# Silent, as an installation package starts it: one error box, then the end.
scenario_control_crashes() {
    put_marker
    place_control crash
    start_installer
    answer ok "$WORK/error.txt"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "Can't register Tarvex ActiveX control, result -1073741819!"
    await_installer 1
    expect_marker_untouched
}

# A tool that is no program (error 193) is a run-time error of the start.
scenario_tool_cannot_start() {
    put_marker
    place_control good
    printf 'not a program\r\n' > "$TOOL"
    start_installer /x
    answer ok "$WORK/error.txt"
    local message="Can't register Tarvex DLL: Invalid procedure call or argument (\$5), Source $PROGRAM_TITLE"
    expect_box "$WORK/error.txt" "$ERROR_BOX" "$message"
    answer no "$WORK/box.txt"
    await_installer 1
    mapfile -t expected < <(run_head already; tool_entries; printf '%s\n' "$message")
    expect_log_box "$WORK/box.txt" "${expected[@]}"
    expect_marker_untouched
    expect_class_unregistered
}

# Unattended, on a window station no one sees: no box, the exit code and
# the marker as in any run, and the log in the event log.
scenario_unattended_success() {
    place_control good
    run_unattended 0
    expect_marker_new
    expect_class_registered
    mapfile -t expected < <(success_entries 'not yet')
    expect_event "$WORK/station.err" information "${expected[@]}"
}

# Started without standard handles, the program writes no records, even to
# the stdout that Wine hands down regardless: only the station's exit code is there.
scenario_unattended_control_fails() {
    put_marker
    place_control fail
    run_unattended 1 /x
    expect_marker_untouched
    expect_class_unregistered
    mapfile -t expected < <(failure_entries " 5" already)
    expect_event "$WORK/station.err" error "${expected[@]}"
    expect_eq "what the run wrote to its inherited stdout" "$(tr -d '\r' < "$WORK/station.out")" 1
}

# Started with standard handles (by the package's custom action, or a
# script's redirection to a file), the program writes its records there as
# it runs: each log entry, the tool's exit code in words, the error text. The
# run is the same: its exit code, its marker, its event.
scenario_records_to_a_file() {
    local records=$WORK/records.txt
    put_marker
    place_control fail
    rm -f "$records"
    run_on_station 1 $((RUN_TIMEOUT_S * 1000)) --stdout "$(windows_path "$records")" "$EXE_WIN"
    expect_marker_untouched
    mapfile -t entries < <(failure_entries " 5" already)
    expect_event "$WORK/station.err" error "${entries[@]}"
    local entry expected=()
    for entry in "${entries[@]}"; do
        expected+=("LOG $entry")
        [ "$entry" != "Result  5" ] || expected+=("RESULT 5 DllRegisterServer returned a failure")
        [[ $entry != "Can't register"* ]] || expected+=("ERROR $entry")
    done
    [ "$(grep -c $'\r$' "$records" || true)" -eq "$(wc -l < "$records")" ] ||
        fail "records without CR LF: $(od -c "$records" | sed -n '1,3p')" || return 1
    expect_lines "the records" "$(tr -d '\r' < "$records" | sed -E "s/^LOG ($DATETIME_RE): /LOG /")" \
        "$(printf '%s\n' "${expected[@]}")"
}

# With Wine's debugger left on, as it is by default: the tool's crash must
# neither hold the unseen run nor pass for success.
scenario_unattended_control_crashes() {
    [ "$BITS" = 32 ] || skip_scenario "Wine's debugger can't take a crash of a 64-bit tool in syswow64 (the" \
        "suite's stand-in for the 32-bit one): it leaves the tool hanging, which the program would end only after 5 minutes"
    put_marker
    place_control crash
    WINEDLLOVERRIDES="mscoree,mshtml=" run_unattended 1
    expect_marker_untouched
    expect_class_unregistered
    mapfile -t expected < <(failure_entries -1073741819 already)
    expect_event "$WORK/station.err" error "${expected[@]}"
}

scenario_unattended_control_missing() {
    put_marker
    run_unattended 1
    expect_marker_untouched
    mapfile -t expected < <(control_missing_entries)
    expect_event "$WORK/station.err" error "${expected[@]}"
}

# ---------------------------------------------------------------- planted DLLs

SETUP_DIR=$(dirname "$EXE")

# plant_canary NAME: a canary DLL of that name in the program's folder, where
# the loader looks first for a DLL that is no KnownDLL (Wine: under NAME=n,b).
plant_canary() { cp "$BUILD/tests/canaries/$1.dll" "$SETUP_DIR/$1.dll"; }

suite_reset() { rm -f "$(canary_hits)" "$SETUP_DIR"/*.dll; }

# Windows loads uxtheme.dll, no KnownDLL, for the first box: the one beside
# the program must not be the one it takes.
scenario_planted_dll_beside_the_program() {
    place_control good
    plant_canary uxtheme
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b" start_installer /x
    answer no "$WORK/box.txt"
    await_installer 0
    expect_no_canary
}

# Started from its own folder, as administrators start it, the program must
# not hand that folder to the tool as its current directory: a control's
# helper DLL loaded by bare name would be searched for there.
scenario_planted_dll_in_the_current_directory() {
    place_control dependent
    plant_canary tvexdep
    cd "$SETUP_DIR" || fail "no folder $SETUP_DIR" || return 1
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;tvexdep=n,b" start_installer
    await_installer 0
    expect_marker_new
    expect_class_registered
    expect_no_canary
}

# ---------------------------------------------------------------- screenshots

# shoot NAME BUTTON ARG...: runs the program on a virtual desktop, saves its
# first box as NAME.png and answers it.
shoot() {
    local name=$1 button=$2
    shift 2
    start_on_desktop $((RUN_TIMEOUT_S + BOX_TIMEOUT_MS / 1000)) "$EXE_WIN" "$@"
    shoot_box "$name" "$button"
    await_desktop
}

scenario_screenshots() {
    mkdir -p "$SCREENSHOTS"
    place_control good
    shoot log-box no /x
    reset_prefix
    place_control fail
    shoot error-box ok
    reset_prefix
    shoot package-incomplete-box ok
}

# ---------------------------------------------------------------- the run

scenarios=(silent_success log_box_yes log_box_no second_run control_missing tool_missing
           control_fails control_crashes tool_cannot_start
           unattended_success unattended_control_fails unattended_control_crashes unattended_control_missing
           records_to_a_file
           planted_dll_beside_the_program planted_dll_in_the_current_directory)
[ -n "$SCREENSHOTS" ] && scenarios+=(screenshots)
run_suite "end-to-end suite" "${scenarios[@]}"
