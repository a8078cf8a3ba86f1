#!/usr/bin/env bash
# End-to-end suite: the real TarvexActiveXInstaller.exe on real Windows APIs in
# a Wine prefix, with the system's own registration tool and stand-in controls.
# Run it under its own X server (xvfb-run); ctest does (tests/e2e/suite.cmake).
#
#   e2e.sh --kind win64|win32 --bits 32|64 --prefix DIR --build DIR --exe FILE
#          --company NAME --clsid {GUID} [--screenshots DIR]
#
# --bits is the bitness of the program and of the helpers in the build tree;
# the scenarios are the same for both. Each scenario starts from a clean prefix
# (no control in the system folder, no marker, the control's class
# unregistered, the tool in place, an empty clipboard) and leaves it so; none
# depends on another. Where programs of that bitness can't run, the suite is
# skipped (exit 77) with the reason.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

SCREENSHOTS=
while [ $# -gt 0 ]; do
    case $1 in
    --kind) kind=$2 ;;
    --bits) bits=$2 ;;
    --exe) exe=$2 ;;
    --prefix) prefix=$2 ;;
    --build) build=$2 ;;
    --company) company=$2 ;;
    --clsid) clsid=$2 ;;
    --screenshots) SCREENSHOTS=$2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
e2e_init "$kind" "$bits" "$prefix" "$build" "$exe" "$company" "$clsid"
case $? in
0) ;;
77) echo "SKIPPED: $WINE32_REASON"; exit 77 ;;
*) exit 2 ;;
esac
[ -n "${DISPLAY:-}" ] || { echo "no X display: run the suite under xvfb-run" >&2; exit 2; }

WORK=$BUILD/tests/e2e-work/$KIND
mkdir -p "$WORK"
OLD_MARKER="01.01.2001 00:00:00 by $PROGRAM_TITLE"
SENTINEL="clipboard sentinel of the end-to-end suite"
# The general date format of any locale: numeric short date, a space, the long time.
DATETIME_RE='[0-9]{1,4}[./-][0-9]{1,2}[./-][0-9]{1,4} [0-9]{1,2}:[0-9]{2}(:[0-9]{2})?( ?[AaPp]\.? ?[Mm]\.?)?'

case $KIND in
win64) OS_NAME="Windows 7 (64bit)" BITNESS_LINE="64 bit OS detected" ;;
win32) OS_NAME="Windows 7" BITNESS_LINE="32 bit OS detected" ;;
esac
TOOL_WIN="$SYSDIR_WIN\\RegSvr32.exe"
CONTROL_WIN="$SYSDIR_WIN\\TVex.DLL"

# ---------------------------------------------------------------- checks

fail() { printf '%s\n' "$@" | sed 's/^/    /'; return 1; }  # stdout keeps it next to its scenario

# expect_eq WHAT ACTUAL EXPECTED (control characters shown escaped)
expect_eq() {
    [ "$2" == "$3" ] && return 0
    fail "$1 differs:" "  expected: $(printf '%q' "$3")" "  actual:   $(printf '%q' "$2")"
}

# expect_lines WHAT ACTUAL EXPECTED: as expect_eq, the difference shown line by line
expect_lines() {
    [ "$2" == "$3" ] && return 0
    fail "$1 differ (- expected, + actual):" \
        "$(diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed -n 's/^< /- /p; s/^> /+ /p')"
}

# expect_box FILE DESCRIPTION-PATTERN TEXT: the box's buttons and icon, and its exact text
expect_box() {
    read_box "$1"
    [[ $BOX_DESC == $2 ]] || fail "box kind: expected $2, got: $BOX_DESC" "text: $(printf '%q' "$BOX_TEXT")" || return 1
    expect_eq "box text" "$BOX_TEXT" "$3"
}
ERROR_BOX='buttons=ok icon=shown *'
LOG_BOX='buttons=yes,no icon=none *'

# split_log LOG: the entries' texts into LOG_TEXTS; each entry must be
# "<date> <time>: <text>" CR LF.
split_log() {
    local log=$1 entry
    LOG_TEXTS=()
    [[ -z $log || $log == *$'\r\n' ]] || fail "the log does not end with CR LF: $(printf '%q' "$log")" || return 1
    while [ -n "$log" ]; do
        entry=${log%%$'\r\n'*} log=${log#*$'\r\n'}
        [[ $entry =~ ^($DATETIME_RE):\ (.*)$ ]] ||
            fail "log entry without date and time: $(printf '%q' "$entry")" || return 1
        LOG_TEXTS+=("${BASH_REMATCH[${#BASH_REMATCH[@]}-1]}")
    done
}

# expect_log_box FILE ENTRY...: the log box, its entries' texts in this order; sets LOG
expect_log_box() {
    local file=$1 head=$'Tarvex registration details:\r\n\r\n' tail=$'\r\n\rCopy info to clipboard ?'
    shift
    read_box "$file"
    [[ $BOX_DESC == $LOG_BOX ]] || fail "log box expected, got: $BOX_DESC" "text: $(printf '%q' "$BOX_TEXT")" || return 1
    [[ $BOX_TEXT == "$head"*"$tail" ]] || fail "log box text malformed: $(printf '%q' "$BOX_TEXT")" || return 1
    LOG=${BOX_TEXT#"$head"} LOG=${LOG%"$tail"}
    split_log "$LOG" || return 1
    expect_lines "log entries" "$(printf '%s\n' "${LOG_TEXTS[@]}")" "$(printf '%s\n' "$@")"
}

expect_marker_new() {
    local marker
    marker=$(reg_text "$MARKER_KEY" Registered) || fail "no marker in $MARKER_KEY (32-bit view)" || return 1
    [[ $marker =~ ^($DATETIME_RE)\ by\ $PROGRAM_TITLE$ ]] || fail "marker malformed: $(printf '%q' "$marker")" || return 1
    [ "$marker" != "$OLD_MARKER" ] || fail "marker still holds the earlier run's date and time"
}

expect_marker_untouched() {
    local marker
    marker=$(reg_text "$MARKER_KEY" Registered) || fail "the marker has gone" || return 1
    expect_eq "marker" "$marker" "$OLD_MARKER"
}

expect_class_registered() {
    local server
    server=$(reg_text "$CLASS_KEY\\InprocServer32" "" "$CLASS_VIEW") ||
        fail "the control's class $CLSID is not registered (view $CLASS_VIEW)" || return 1
    expect_eq "the control's InprocServer32" "$server" "$CONTROL_WIN"
}

expect_class_unregistered() {
    ! reg_key_exists "$CLASS_KEY" "$CLASS_VIEW" || fail "the control's class $CLSID got registered"
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
# can see, as a deployment tool running as SYSTEM does. It must end by itself
# within RUN_TIMEOUT_S (a box it waited on would hold it) with that exit
# code. Wine prints the program's events on its eventlog channel: they go to
# unattended.err.
run_unattended() {
    local expected=$1 rc=0 code
    shift
    WINEDEBUG=-all,+eventlog timeout -k 5 $((RUN_TIMEOUT_S + 30)) \
        "$WINE" "$STATION" run $((RUN_TIMEOUT_S * 1000)) "$EXE_WIN" "$@" \
        >"$WORK/unattended.out" 2>"$WORK/unattended.err" || rc=$?
    code=$(tr -d '\r' < "$WORK/unattended.out")
    [ $rc -eq 0 ] || fail "the unattended run did not end by itself (station: $rc)" \
        "$(grep '^station:' "$WORK/unattended.err")" || return 1
    [ "$code" = "$expected" ] || fail "exit code $code, expected $expected"
}

# expect_event TYPE ENTRY...: the run wrote one event of TYPE (information or
# error) whose text is the log with these entries, in this order. Wine prints
# only the text's first few hundred characters: the entries it shows must be
# the first of these, and at least the run's first three.
expect_event() {
    local type=$1 class lines text
    shift
    case $type in information) class=trace ;; error) class=err ;; esac
    lines=$(grep -c ':eventlog:ReportEventW ' "$WORK/unattended.err")
    [ "$lines" -eq 1 ] || fail "$lines events written, expected one" || return 1
    grep -q "^[0-9a-f]*:$class:eventlog:ReportEventW " "$WORK/unattended.err" ||
        fail "the event is no $type event: $(grep ':eventlog:ReportEventW ' "$WORK/unattended.err")" || return 1
    text=$(grep ':eventlog:ReportEventW ' "$WORK/unattended.err" | unescape_debugstr)
    EVENT_TEXT=$text
    local shown=${text%$'\r\n'*}$'\r\n'
    [ "$text" = "${text%...}" ] && shown=$text   # nothing cut off: the whole log
    split_log "$shown" || return 1
    [ "${#LOG_TEXTS[@]}" -ge 3 ] || fail "the event shows ${#LOG_TEXTS[@]} entries: $(printf '%q' "$text")" || return 1
    expect_lines "the event's entries" "$(printf '%s\n' "${LOG_TEXTS[@]}")" \
        "$(printf '%s\n' "${@:1:${#LOG_TEXTS[@]}}")"
}

# Wine's debug string, L"..." with C escapes, as the text it stands for; a
# cut-off string keeps its trailing "...".
unescape_debugstr() {
    sed -n 's/^.*ReportEventW L"//p' | awk '{
        out = ""; n = length($0)
        for (i = 1; i <= n; i++) {
            c = substr($0, i, 1)
            if (c == "\"" ) { rest = substr($0, i + 1); if (rest == "...") out = out "..."; break }
            if (c != "\\") { out = out c; continue }
            e = substr($0, ++i, 1)
            if (e == "r") out = out "\r"; else if (e == "n") out = out "\n"; else if (e == "t") out = out "\t"
            else out = out e
        }
        printf "%s", out }'
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

# wait_for_exit PID: false when the process is still there after RUN_TIMEOUT_S.
wait_for_exit() {
    local tenths=0
    while kill -0 "$1" 2>/dev/null; do
        [ $tenths -lt $((RUN_TIMEOUT_S * 10)) ] || return 1
        sleep 0.1
        tenths=$((tenths + 1))
    done
}

# stop_installer: ends a run that a failed step left behind, so that it cannot
# hold a box open into the next scenario.
stop_installer() {
    if [ -n "${INSTALLER_PID:-}" ]; then
        kill "$INSTALLER_PID" 2>/dev/null
        wait "$INSTALLER_PID" 2>/dev/null
        INSTALLER_PID=
    fi
    return 0
}

# answer BUTTON FILE: waits for the next box, keeps it in FILE, presses BUTTON.
answer() {
    box answer "$1" "$BOX_TIMEOUT_MS" > "$2" 2> "$WORK/boxhelper.err" ||
        fail "box: $(cat "$WORK/boxhelper.err")" "$(head -c 600 "$2")"
}

run_head() {  # the entries every run starts with; $1: "not yet" or "already" registered
    printf '%s\n' "$SETUP_DIR_WIN\\$PROGRAM_TITLE started" "User is admin" \
        "TarvexActiveX $1 registered"
}

# ---------------------------------------------------------------- the prefix

# Both the suite's start and every scenario's end come back here.
reset_prefix() {
    place_tool
    rm -f "$SYSDIR/TVex.DLL"
    if [ "$COMPANY_KEY_WAS_THERE" = yes ]; then reg_delete_key "$MARKER_KEY"
    else reg_delete_key "HKLM\\Software\\$COMPANY"; fi
    reg_delete_key "$CLASS_KEY" "$CLASS_VIEW"
    box setclip "" >/dev/null 2>&1 || true
}

put_marker() { reg32 add "$MARKER_KEY" /v Registered /t REG_SZ /d "$OLD_MARKER" /f >/dev/null; }

prepare_prefix() {
    if reg_key_exists "HKLM\\Software\\$COMPANY" && ! reg_key_exists "$MARKER_KEY"; then
        COMPANY_KEY_WAS_THERE=yes
    else
        COMPANY_KEY_WAS_THERE=no
    fi
}

# ---------------------------------------------------------------- scenarios

success_entries() {
    run_head "$1"
    printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" \
        "CmdLine $TOOL_WIN $CONTROL_WIN /s" "Result  0" "Registration finished"
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
    mapfile -t expected < <(run_head already;
        printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" "$CONTROL_WIN not found")
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
    mapfile -t expected < <(run_head already;
        printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" \
            "CmdLine $TOOL_WIN $CONTROL_WIN /s" "Result  5" "$message" "Registration finished")
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
    mapfile -t expected < <(run_head already;
        printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" \
            "CmdLine $TOOL_WIN $CONTROL_WIN /s" "$message")
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
    expect_event information "${expected[@]}"
}

scenario_unattended_control_fails() {
    put_marker
    place_control fail
    run_unattended 1 /x
    expect_marker_untouched
    expect_class_unregistered
    mapfile -t expected < <(run_head already;
        printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" \
            "CmdLine $TOOL_WIN $CONTROL_WIN /s" "Result  5" \
            "Can't register Tarvex ActiveX control, result  5!" "Registration finished")
    expect_event error "${expected[@]}"
}

scenario_unattended_control_missing() {
    put_marker
    run_unattended 1
    expect_marker_untouched
    mapfile -t expected < <(run_head already;
        printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" "$CONTROL_WIN not found")
    expect_event error "${expected[@]}"
}

# ---------------------------------------------------------------- screenshots

SHOT_DESKTOP=tarvex-e2e

# shoot NAME BUTTON ARG...: runs the program on a virtual desktop (boxes get a
# title bar there), saves its first box as NAME.png, cropped around the box.
shoot() {
    local name=$1 button=$2 geometry w h x y
    shift 2
    timeout -k 5 $((RUN_TIMEOUT_S + BOX_TIMEOUT_MS / 1000)) \
        "$WINE" explorer "/desktop=$SHOT_DESKTOP,1024x768" "$EXE_WIN" "$@" >/dev/null 2>&1 &
    INSTALLER_PID=$!
    box --desktop "$SHOT_DESKTOP" wait "$BOX_TIMEOUT_MS" > "$WORK/shot.txt" ||
        fail "no box for the $name screenshot" || return 1
    read_box "$WORK/shot.txt"
    geometry=${BOX_DESC##*geometry=}
    IFS='x+' read -r w h x y <<< "$geometry"
    sleep 0.5  # let the box finish painting
    timeout 30 import -window root -crop "$((w + 48))x$((h + 48))+$((x > 24 ? x - 24 : 0))+$((y > 24 ? y - 24 : 0))" \
        +repage "png:$SCREENSHOTS/$name.png.tmp" || fail "import failed for $name" || return 1
    mv "$SCREENSHOTS/$name.png.tmp" "$SCREENSHOTS/$name.png"
    box --desktop "$SHOT_DESKTOP" answer "$button" "$BOX_TIMEOUT_MS" >/dev/null || fail "cannot answer the $name box" || return 1
    wait_for_exit "$INSTALLER_PID" || fail "the $name run did not end within $RUN_TIMEOUT_S s"
    wait "$INSTALLER_PID" || true
    INSTALLER_PID=
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

passed=0 failed=0
INSTALLER_PID=

finish() {
    if [ -n "${KEEPALIVE_PID:-}" ]; then
        box release 10000 >/dev/null 2>&1 || kill "$KEEPALIVE_PID" 2>/dev/null
        wait "$KEEPALIVE_PID" 2>/dev/null
    fi
    restore_tool
    rm -f "$EXE"
    stop_wineserver
}
trap finish EXIT
trap 'exit 130' INT TERM

# run_scenario NAME: runs scenario_NAME in a subshell that stops at its first
# failed step, then resets the prefix whatever happened.
run_scenario() {
    local started=$SECONDS rc
    ( set -e; trap stop_installer EXIT; "scenario_$1" ); rc=$?
    reset_prefix
    if [ $rc -eq 0 ]; then
        passed=$((passed + 1)); echo "PASS $1 ($((SECONDS - started)) s)"
    else
        failed=$((failed + 1)); echo "FAIL $1 ($((SECONDS - started)) s)"
    fi
}

echo "end-to-end suite: $BITS-bit program on $KIND ($WINEPREFIX, $WINE), display $DISPLAY"
await_idle_wineserver || exit 1
# The clipboard lives as long as Wine's desktop process: keep a window open throughout.
timeout -k 5 960 "$WINE" "$BOXHELPER" keepalive 900000 >/dev/null 2>&1 &
KEEPALIVE_PID=$!
prepare_prefix
reset_prefix

for scenario in silent_success log_box_yes log_box_no second_run control_missing tool_missing \
                control_fails control_crashes tool_cannot_start \
                unattended_success unattended_control_fails unattended_control_missing; do
    run_scenario "$scenario"
done
[ -n "$SCREENSHOTS" ] && run_scenario screenshots

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
