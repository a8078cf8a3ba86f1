# shellcheck shell=bash
# The suites' scenario runner: the options every suite takes, the prefix
# reset between scenarios, and scenarios run one by one in a subshell that
# stops at its first failed step and always says why. Sources the Wine
# library, the boxes and the checks; a suite sources this alone.
LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/lib/wine.sh
source "$LIB_DIR/wine.sh"
# shellcheck source=tests/lib/boxes.sh
source "$LIB_DIR/boxes.sh"
# shellcheck source=tests/lib/checks.sh
source "$LIB_DIR/checks.sh"

# suite_init ARG...: the options every suite takes, then e2e_init, the work
# folder and what the checks compare with. Exits 77 (skipped) where programs
# of that bitness can't run here.
#   --kind win64|win32 --bits 32|64 --prefix DIR --build DIR --exe FILE
#   --company NAME --clsid {GUID} [--screenshots DIR] [--only SCENARIO]
#   [--work DIR]   the suite's own work folder (BUILD/tests/work/SUITE-KIND
#                  by default); each scenario works in a folder of its own
#                  there, which a failure keeps
#   [--packages DIR] [--clsid2 {GUID}]   (the package's suite: the folder of
#   its test packages, the class that only the later stand-in registers)
suite_init() {
    local kind='' bits='' prefix='' build='' exe='' company='' clsid='' work=''
    # TARVEX_ONLY: one scenario, for tests/repeat.sh, where ctest starts the suite.
    SCREENSHOTS='' PACKAGES='' ONLY=${TARVEX_ONLY:-} CLSID2=''
    # shellcheck disable=SC2034  # PACKAGES and CLSID2 are the package suite's
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
        --packages) PACKAGES=$2 ;;
        --clsid2) CLSID2=$2 ;;
        --only) ONLY=$2 ;;
        --work) work=$2 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
        esac
        shift 2
    done
    scenarios_run_here "$bits" || { echo "SKIPPED: $SCENARIOS_REASON"; exit 77; }
    local rc=0
    e2e_init "$kind" "$bits" "$prefix" "$build" "$exe" "$company" "$clsid" || rc=$?
    case $rc in
    0) ;;
    77) echo "SKIPPED: $WINE32_REASON"; exit 77 ;;
    *) exit 2 ;;
    esac
    [ -n "${DISPLAY:-}" ] || { echo "no X display: run the suite under xvfb-run" >&2; exit 2; }
    SUITE_WORK=${work:-$BUILD/tests/work/$(basename "$0" .sh)-$KIND}
    mkdir -p "$SUITE_WORK"
    WORK=$SUITE_WORK
    OLD_MARKER="01.01.2001 00:00:00 by $PROGRAM_TITLE"
    # shellcheck disable=SC2034  # what the checks and the scenarios compare with
    case $KIND in
    win64) OS_NAME="Windows 7 (64bit)" BITNESS_LINE="64 bit OS detected" ;;
    win32) OS_NAME="Windows 7" BITNESS_LINE="32 bit OS detected" ;;
    esac
    # shellcheck disable=SC2034  # the tool and the control as the checks and the scenarios name them
    TOOL_WIN="$SYSDIR_WIN\\RegSvr32.exe" CONTROL_WIN="$SYSDIR_WIN\\TVex.DLL"
}

# ---------------------------------------------------------------- the prefix

# Both a suite's start and every scenario's end come back here: no control in
# the system folder, no marker, the control's class unregistered, the tool in
# place, an empty clipboard, and whatever the suite's own suite_reset undoes.
reset_prefix() {
    if declare -F suite_reset >/dev/null; then suite_reset; fi
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

# ---------------------------------------------------------------- the run

# stop_background: ends runs that a failed step left behind, so that none can
# hold a box open into the next scenario.
stop_background() {
    local pid
    for pid in "${INSTALLER_PID:-}" "${VISIBLE_PID:-}" "${DESKTOP_PID:-}" "${HOLDER_PID:-}" "${WATCH_PID:-}"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    INSTALLER_PID='' VISIBLE_PID='' DESKTOP_PID='' HOLDER_PID='' WATCH_PID=''
}

# The clipboard lives as long as Wine's desktop process: a window kept open
# throughout keeps it, and the wineserver with it.
start_keepalive() {
    timeout -k 5 960 "$WINE" "$BOXHELPER" keepalive 900000 >/dev/null 2>&1 &
    KEEPALIVE_PID=$!
}

suite_finish() {
    if [ -n "${KEEPALIVE_PID:-}" ]; then
        box release 10000 >/dev/null 2>&1 || kill "$KEEPALIVE_PID" 2>/dev/null
        wait "$KEEPALIVE_PID" 2>/dev/null
    fi
    restore_tool
    rm -f "$EXE"
    stop_wineserver
    rmdir "$SUITE_WORK" 2>/dev/null || true   # kept where a failure left its evidence
}

# skip_scenario REASON: ends a scenario that can't show here what it is for.
skip_scenario() { printf '    %s\n' "$@"; exit 77; }

# scenario_stopped STATUS COMMAND FILE LINE: the ERR trap of a scenario. A
# step that failed without saying why (a command substitution, a grep that
# found nothing, a function's last status) is named here; one whose check
# said why already is not named again. Steps inside command substitutions
# are left to the step that holds them.
scenario_stopped() {
    [ "$BASH_SUBSHELL" -eq "$SCENARIO_SUBSHELL" ] || return 0
    [ -z "${FAIL_SAID:-}" ] || return 0
    printf '    stopped at %s line %s: %s (exit status %s)\n' "${3##*/}" "$4" "$2" "$1" | tee -a "$WORK/failure.txt"
}

# run_scenario NAME: runs scenario_NAME in a subshell that stops at its first
# failed step, then resets the prefix whatever happened. A scenario passes
# only when it ran to its end: one that exits early, even with 0, fails.
# It works in a folder of its own (WORK); a failed one keeps it, with what
# its runs wrote and what its check compared (failure.txt), and names it.
run_scenario() {
    local started=$SECONDS rc finished
    WORK=$SUITE_WORK/$1 finished=$SUITE_WORK/$1/.scenario-finished
    rm -rf "$WORK" && mkdir -p "$WORK" || { echo "FAIL $1: its work folder $WORK can't be made"; exit 2; }
    # Not on the left of || : there errexit would be off inside the subshell.
    (
        set -eE
        FAIL_SAID='' SCENARIO_SUBSHELL=$BASH_SUBSHELL
        trap 'scenario_stopped $? "$BASH_COMMAND" "${BASH_SOURCE[0]}" "$LINENO"' ERR
        trap stop_background EXIT
        "scenario_$1"
        : > "$finished"
    )
    rc=$?
    reset_prefix
    if [ $rc -eq 0 ] && [ ! -e "$finished" ]; then
        echo "    the scenario ended before its last step, with exit status 0" | tee -a "$WORK/failure.txt"
        rc=1
    fi
    case $rc in
    0) passed=$((passed + 1)); echo "PASS $1 ($((SECONDS - started)) s)"; rm -rf "$WORK" ;;
    77) skipped=$((skipped + 1)); echo "SKIP $1"; rm -rf "$WORK" ;;
    *) failed=$((failed + 1)); echo "FAIL $1 ($((SECONDS - started)) s); its work folder is kept: $WORK" ;;
    esac
}

# run_suite TITLE SCENARIO...: the scenarios in this order, each from a clean
# prefix; the exit code tells whether all passed.
run_suite() {
    passed=0 failed=0 skipped=0
    echo "$1: $BITS-bit program on $KIND ($WINEPREFIX, $WINE), display $DISPLAY"
    shift
    trap suite_finish EXIT
    trap 'exit 130' INT TERM
    await_idle_wineserver || exit 1
    start_keepalive
    prepare_prefix
    reset_prefix
    local scenario
    [ -z "$ONLY" ] || set -- "$ONLY"
    for scenario in "$@"; do run_scenario "$scenario"; done
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
}
