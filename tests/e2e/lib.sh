# Shared by the end-to-end suites (the program's, e2e.sh, and the package's,
# package.sh) and the demo: running Windows programs in a Wine prefix, the box
# helper, the registry and the prefix's system folder; for the suites also
# their options, checks, scenario runner and the prefix's reset between
# scenarios. Source it, then call e2e_init (the demo) or suite_init (a suite).
# Every call into Wine is bounded by a timeout.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$E2E_LIB_DIR/../wine-machine.sh"
PROGRAM_TITLE=TarvexActiveXInstaller
BOX_TIMEOUT_MS=30000     # the first box may wait on a registration run
RUN_TIMEOUT_S=60         # the longest an installer run may take once its boxes are answered
WINE_CALL_TIMEOUT_S=60
# Where an installation package would start the program from.
SETUP_DIR_WIN='C:\Setup'

# e2e_init KIND BITS PREFIX BUILD EXE COMPANY CLSID
# KIND is the prefix's Windows (win64, win32), BITS the programs' (32, 64),
# BUILD the tree with the test helpers, EXE the program. Returns 77 where
# programs of that bitness can't run, with the reason in WINE32_REASON.
e2e_init() {
    KIND=$1 BITS=$2 BUILD=$(cd "$4" && pwd) PROGRAM_EXE=$5 COMPANY=$6 CLSID=$7
    export WINEPREFIX=$3 WINEDEBUG=-all
    # No Mono/Gecko prompts; a crashing child ends with its exception code
    # instead of starting the debugger.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ "$BITS" = 32 ] && ! wine32_available; then return 77; fi
    WINE=$(wine_loader "$BITS")
    BOXHELPER=$BUILD/tests/boxhelper.exe
    STATION=$BUILD/tests/station.exe
    STANDINS=$BUILD/tests/standins
    EXE_WIN="$SETUP_DIR_WIN\\$PROGRAM_TITLE.exe"
    EXE=$WINEPREFIX/drive_c/Setup/$PROGRAM_TITLE.exe
    case $KIND in
    win64) SYSDIR_WIN='C:\windows\syswow64' SYSDIR=$WINEPREFIX/drive_c/windows/syswow64 ;;
    win32) SYSDIR_WIN='C:\windows\system32' SYSDIR=$WINEPREFIX/drive_c/windows/system32 ;;
    *) echo "unknown prefix kind: $KIND" >&2; return 2 ;;
    esac
    TOOL=$SYSDIR/regsvr32.exe
    # The system folder's tools that a 64-bit build's runs need in their 64-bit form.
    SYSTEM_TOOLS="regsvr32.exe reg.exe"
    # The control registers itself in its own bitness's view; the marker is in the 32-bit one.
    CLASS_VIEW=/reg:$BITS
    MARKER_KEY="HKLM\\Software\\$COMPANY\\Tarvex_cl_V4"
    CLASS_KEY="HKCR\\CLSID\\$CLSID"
    local missing
    for missing in "$PROGRAM_EXE" "$BOXHELPER" "$STATION" "$STANDINS"/{good,fail,crash}/TVex.DLL; do
        [ -e "$missing" ] || { echo "missing: $missing" >&2; return 2; }
    done
    save_tools
    [ -e "$(tool_original regsvr32.exe)" ] || [ "$BITS" = 64 ] || { echo "missing: $TOOL" >&2; return 2; }
    install_program
}

# The program where a package would start it from, as the package copies it.
install_program() {
    mkdir -p "$(dirname "$EXE")" && cp "$PROGRAM_EXE" "$EXE"
}

wine_call() {
    local rc=0
    timeout -k 5 "$WINE_CALL_TIMEOUT_S" "$WINE" "$@" || rc=$?
    [ $rc -ne 124 ] || echo "wine $1 did not end within $WINE_CALL_TIMEOUT_S s" >&2
    return $rc
}

# The registry as the 32-bit program sees it: on 64-bit Windows its 32-bit view.
reg32() { wine_call reg "$@" /reg:32; }

# reg_text KEY VALUE [VIEW]: prints the REG_SZ text (empty name: the default
# value) in the 32-bit view, or VIEW; fails when the value is absent.
reg_text() {
    local out view=${3:-/reg:32}
    if [ -z "$2" ]; then out=$(wine_call reg query "$1" /ve "$view" 2>/dev/null) || return 1
    else out=$(wine_call reg query "$1" /v "$2" "$view" 2>/dev/null) || return 1; fi
    out=$(printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    .*    REG_SZ    //p')
    printf '%s' "$out"
}

reg_key_exists() { wine_call reg query "$1" "${2:-/reg:32}" >/dev/null 2>&1; }
# reg_delete_key KEY [VIEW]: the key is gone afterwards. A scenario's checks
# rest on it, so a key that survives one deletion is deleted again, and said.
reg_delete_key() {
    local view=${2:-/reg:32} try
    for try in 1 2 3; do
        reg_key_exists "$1" "$view" || return 0
        [ "$try" = 1 ] || echo "    reset: $1 survived its deletion; deleting it again" >&2
        wine_call reg delete "$1" /f "$view" >/dev/null 2>&1
    done
    ! reg_key_exists "$1" "$view" || echo "    reset: $1 could not be deleted" >&2
}

box() { wine_call "$BOXHELPER" "$@"; }

# read_box FILE: a box as the helper printed it, into BOX_DESC and BOX_TEXT.
read_box() {
    BOX_DESC= BOX_TEXT=
    { IFS= read -r BOX_DESC; IFS= read -r -d '' BOX_TEXT || true; } < "$1"
}

place_control() { cp "$STANDINS/$1/TVex.DLL" "$SYSDIR/TVex.DLL"; }

# Kept in the prefix, outside drive C, so that they go with the prefix they came from.
tool_original() { printf '%s' "$WINEPREFIX/e2e-$1.orig"; }
tool_was_absent() { printf '%s' "$WINEPREFIX/e2e-$1.absent"; }

# The system folder's own tools (or a note that it had none), kept once for
# the end. A run stopped earlier may have left a tool replaced; the copy it
# kept is the original.
save_tools() {
    local name
    for name in $SYSTEM_TOOLS; do
        [ -e "$(tool_original "$name")" ] || [ -e "$(tool_was_absent "$name")" ] && continue
        if [ -e "$SYSDIR/$name" ]; then cp "$SYSDIR/$name" "$(tool_original "$name")"
        else : > "$(tool_was_absent "$name")"; fi
    done
}

# Puts the tools the program and the packages are to find in place: the
# folder's own for a 32-bit build, Wine's 64-bit ones for a 64-bit build (a
# 64-bit tool is what registers a 64-bit control, and what runs where no
# 32-bit code does). e2e_init has saved the folder's own.
place_tool() {
    local name wanted
    for name in $SYSTEM_TOOLS; do
        wanted=$(tool_original "$name")
        [ "$BITS" = 64 ] && wanted=$WINEPREFIX/drive_c/windows/system32/$name
        [ -e "$wanted" ] || continue
        cmp -s "$wanted" "$SYSDIR/$name" || cp "$wanted" "$SYSDIR/$name"
    done
}

# Leaves the system folder's tools as the prefix had them.
restore_tool() {
    local name original absent
    for name in $SYSTEM_TOOLS; do
        original=$(tool_original "$name") absent=$(tool_was_absent "$name")
        if [ -e "$original" ]; then cmp -s "$original" "$SYSDIR/$name" || cp "$original" "$SYSDIR/$name"
        elif [ -e "$absent" ]; then rm -f "$SYSDIR/$name"; fi
        rm -f "$original" "$absent"
    done
}

# Waits until a wineserver left by an earlier test of this prefix has ended, so
# that the one the next call starts, and with it Wine's desktop, lives on this
# run's X display.
await_idle_wineserver() {
    timeout 60 wineserver -w || { echo "the prefix's wineserver did not end within 60 s" >&2; return 1; }
}

# Lets this run's wineserver end by itself (it does a few seconds after its
# last program), else stops it: it must not outlive the X server it is tied to.
stop_wineserver() {
    timeout 30 wineserver -w 2>/dev/null && return 0
    wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
}

# ================================================================ the suites

# suite_init ARG...: the options every suite takes, then e2e_init, the work
# folder and what the checks compare with. Exits 77 (skipped) where programs
# of that bitness can't run here.
#   --kind win64|win32 --bits 32|64 --prefix DIR --build DIR --exe FILE
#   --company NAME --clsid {GUID} [--screenshots DIR] [--only SCENARIO]
#   [--packages DIR]   (the package's suite: the folder of its test packages)
suite_init() {
    local kind bits prefix build exe company clsid
    SCREENSHOTS= PACKAGES= ONLY=
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
        --only) ONLY=$2 ;;
        *) echo "unknown option $1" >&2; exit 2 ;;
        esac
        shift 2
    done
    local rc=0
    e2e_init "$kind" "$bits" "$prefix" "$build" "$exe" "$company" "$clsid" || rc=$?
    case $rc in
    0) ;;
    77) echo "SKIPPED: $WINE32_REASON"; exit 77 ;;
    *) exit 2 ;;
    esac
    [ -n "${DISPLAY:-}" ] || { echo "no X display: run the suite under xvfb-run" >&2; exit 2; }
    WORK=$BUILD/tests/e2e-work/$KIND
    mkdir -p "$WORK"
    OLD_MARKER="01.01.2001 00:00:00 by $PROGRAM_TITLE"
    case $KIND in
    win64) OS_NAME="Windows 7 (64bit)" BITNESS_LINE="64 bit OS detected" ;;
    win32) OS_NAME="Windows 7" BITNESS_LINE="32 bit OS detected" ;;
    esac
    TOOL_WIN="$SYSDIR_WIN\\RegSvr32.exe"
    CONTROL_WIN="$SYSDIR_WIN\\TVex.DLL"
}

# The general date format of any locale: numeric short date, a space, the long time.
DATETIME_RE='[0-9]{1,4}[./-][0-9]{1,2}[./-][0-9]{1,4} [0-9]{1,2}:[0-9]{2}(:[0-9]{2})?( ?[AaPp]\.? ?[Mm]\.?)?'

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
    ! reg_key_exists "$CLASS_KEY" "$CLASS_VIEW" || fail "the control's class $CLSID is registered"
}

# expect_event FILE TYPE ENTRY...: FILE, a run's stderr with Wine's eventlog
# channel on, holds one event of TYPE (information or error) whose text is
# the log with these entries, in this order. Wine prints only the text's
# first few hundred characters: the entries it shows must be the first of
# these, and at least the run's first three. The text goes into EVENT_TEXT.
expect_event() {
    local file=$1 type=$2 class lines text
    shift 2
    case $type in information) class=trace ;; error) class=err ;; esac
    lines=$(grep -c ':eventlog:ReportEventW ' "$file")
    [ "$lines" -eq 1 ] || fail "$lines events written, expected one" || return 1
    grep -q "^[0-9a-f]*:$class:eventlog:ReportEventW " "$file" ||
        fail "the event is no $type event: $(grep ':eventlog:ReportEventW ' "$file")" || return 1
    text=$(grep ':eventlog:ReportEventW ' "$file" | unescape_debugstr)
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

# ---------------------------------------------------------------- runs

# run_on_station EXPECTED MS PROGRAM ARG...: runs a Windows program on a window
# station no one can see, as a deployment tool running as SYSTEM does, with
# Wine's eventlog channel on. It must end by itself within MS milliseconds
# with exit code EXPECTED. Its stdout goes to station.out, its stderr (the
# events among it) to station.err.
run_on_station() {
    local expected=$1 ms=$2 rc=0 code
    shift 2
    WINEDEBUG=-all,+eventlog timeout -k 5 $((ms / 1000 + 30)) "$WINE" "$STATION" run "$ms" "$@" \
        >"$WORK/station.out" 2>"$WORK/station.err" || rc=$?
    # The station helper prints the code last; a debugger may have printed before it.
    code=$(tr -d '\r' < "$WORK/station.out" | tail -n 1)
    [ $rc -eq 0 ] || fail "the run on the unseen station did not end by itself (station: $rc)" \
        "$(grep '^station:' "$WORK/station.err")" || return 1
    [ "$code" = "$expected" ] || fail "exit code $code, expected $expected"
}

# start_visible MS PROGRAM ARG...: runs a Windows program in the background on
# the visible desktop, through the station helper, which prints its whole
# exit code; await_visible then judges it.
start_visible() {
    local ms=$1
    shift
    timeout -k 5 $((ms / 1000 + 30)) "$WINE" "$STATION" here "$ms" "$@" >"$WORK/visible.out" 2>&1 &
    VISIBLE_PID=$!
}

# await_visible EXPECTED: the run started by start_visible ended by itself with that exit code.
await_visible() {
    local rc=0 code
    wait "$VISIBLE_PID" || rc=$?
    VISIBLE_PID=
    code=$(tr -d '\r' < "$WORK/visible.out" | tail -n 1)
    [ $rc -eq 0 ] || fail "the visible run did not end by itself (station: $rc)" "$(head -c 500 "$WORK/visible.out")" ||
        return 1
    [ "$code" = "$1" ] || fail "exit code $code, expected $1"
}

# answer BUTTON FILE: waits for the next box, keeps it in FILE, presses BUTTON.
answer() {
    box answer "$1" "$BOX_TIMEOUT_MS" > "$2" 2> "$WORK/boxhelper.err" ||
        fail "box: $(cat "$WORK/boxhelper.err")" "$(head -c 600 "$2")"
}

# The entries every run of the program starts with; $1: "not yet" or "already"
# registered, $2 the folder it was started from (C:\Setup by default).
run_head() {
    printf '%s\n' "${2:-$SETUP_DIR_WIN}\\$PROGRAM_TITLE started" "User is admin" "TarvexActiveX $1 registered"
}

# The entries of a run up to the tool's start, after run_head.
tool_entries() {
    printf '%s\n' "Registering with $TOOL_WIN" "$BITNESS_LINE" "Using $CONTROL_WIN" "CmdLine $TOOL_WIN $CONTROL_WIN /s"
}

success_entries() {
    run_head "$@"
    tool_entries
    printf '%s\n' "Result  0" "Registration finished"
}

# failure_entries RESULT HEAD-ARG...: a run whose tool ended with RESULT (" 5", "-1073741819").
failure_entries() {
    local result=$1
    shift
    run_head "$@"
    tool_entries
    printf '%s\n' "Result $result" "Can't register Tarvex ActiveX control, result $result!" "Registration finished"
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
    for pid in "${INSTALLER_PID:-}" "${VISIBLE_PID:-}"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    INSTALLER_PID= VISIBLE_PID=
    return 0
}

suite_finish() {
    if [ -n "${KEEPALIVE_PID:-}" ]; then
        box release 10000 >/dev/null 2>&1 || kill "$KEEPALIVE_PID" 2>/dev/null
        wait "$KEEPALIVE_PID" 2>/dev/null
    fi
    restore_tool
    rm -f "$EXE"
    stop_wineserver
}

# skip_scenario REASON: ends a scenario that can't show here what it is for.
skip_scenario() { printf '    %s\n' "$@"; exit 77; }

# run_scenario NAME: runs scenario_NAME in a subshell that stops at its first
# failed step, then resets the prefix whatever happened.
run_scenario() {
    local started=$SECONDS rc
    ( set -e; trap stop_background EXIT; "scenario_$1" ); rc=$?
    reset_prefix
    case $rc in
    0) passed=$((passed + 1)); echo "PASS $1 ($((SECONDS - started)) s)" ;;
    77) skipped=$((skipped + 1)); echo "SKIP $1" ;;
    *) failed=$((failed + 1)); echo "FAIL $1 ($((SECONDS - started)) s)" ;;
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
    # The clipboard lives as long as Wine's desktop process: keep a window open throughout.
    timeout -k 5 960 "$WINE" "$BOXHELPER" keepalive 900000 >/dev/null 2>&1 &
    KEEPALIVE_PID=$!
    prepare_prefix
    reset_prefix
    local scenario
    [ -z "$ONLY" ] || set -- "$ONLY"
    for scenario in "$@"; do run_scenario "$scenario"; done
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
}
