# shellcheck shell=bash
# The suites' checks: each prints what differs, indented under its scenario,
# and fails; and the log entries that the program's runs are expected to
# write. Needs wine.sh for the registry (reg_text, the marker's and the
# class's keys).

# The general date format of any locale: numeric short date, a space, the long time.
DATETIME_RE='[0-9]{1,4}[./-][0-9]{1,2}[./-][0-9]{1,4} [0-9]{1,2}:[0-9]{2}(:[0-9]{2})?( ?[AaPp]\.? ?[Mm]\.?)?'
# shellcheck disable=SC2034  # the box kinds the scenarios expect
ERROR_BOX='buttons=ok icon=shown *' LOG_BOX='buttons=yes,no icon=none *'

# fail LINE...: says why a step failed (on stdout, next to its scenario, and
# in the work folder's failure.txt), and notes that it said so, for the
# scenario runner.
fail() {
    # shellcheck disable=SC2034  # read by the scenario runner
    FAIL_SAID=yes
    printf '%s\n' "$@" | sed 's/^/    /'
    [ ! -d "${WORK:-}" ] || printf '%s\n' "$@" >> "$WORK/failure.txt"
    return 1
}

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
    # shellcheck disable=SC2053  # the description is matched against a pattern
    [[ $BOX_DESC == $2 ]] || fail "box kind: expected $2, got: $BOX_DESC" "text: $(printf '%q' "$BOX_TEXT")" || return 1
    expect_eq "box text" "$BOX_TEXT" "$3"
}

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

# expect_class_registered [CLSID]: the control's class (or that one) points to the system folder's TVex.DLL.
expect_class_registered() {
    local server key=$CLASS_KEY
    [ -z "${1:-}" ] || key="HKCR\\CLSID\\$1"
    server=$(reg_text "$key\\InprocServer32" "" "$CLASS_VIEW") ||
        fail "the class ${1:-$CLSID} is not registered (view $CLASS_VIEW)" || return 1
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
    lines=$(grep -c ':eventlog:ReportEventW ' "$file" || true)
    [ "$lines" -eq 1 ] || fail "$lines events written, expected one" || return 1
    grep -q "^[0-9a-f]*:$class:eventlog:ReportEventW " "$file" ||
        fail "the event is no $type event: $(grep ':eventlog:ReportEventW ' "$file")" || return 1
    text=$(grep ':eventlog:ReportEventW ' "$file" | unescape_debugstr)
    # shellcheck disable=SC2034  # for the scenario's own further checks
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

# Where a planted canary DLL (tests/helpers/canary), once loaded, says so.
canary_hits() { printf '%s' "$WINEPREFIX/drive_c/canary-hits.txt"; }

expect_no_canary() {
    [ ! -e "$(canary_hits)" ] || fail "a planted DLL ran:" "$(tr -d '\r' < "$(canary_hits)")"
}

# ---------------------------------------------------------------- expected entries

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
