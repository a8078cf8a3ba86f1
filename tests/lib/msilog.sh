# shellcheck shell=bash
# msiexec's log of a scenario's last run ($WORK/msiexec.log), as the package
# suite's checks read it: our custom actions' lines, the program's records
# in it, the actions that ran and those its rollback ran. A line that is
# missing is shown with the log's nearest lines. Needs checks.sh (fail,
# split_log) and PROGRAM_TITLE.
#
# The log is read whole into a variable before any search. A search that
# stops at its first match (grep -q) at the end of a pipe ends the pipe
# early: the writer before it dies of SIGPIPE whenever it still had output
# to write, and under pipefail a line that is there reads as missing.

# msi_log: the log, with the CR of a message of several lines taken out;
# fails, saying so, where the run left no log.
msi_log() {
    [ -f "$WORK/msiexec.log" ] || fail "no msiexec log in $WORK" || return 1
    tr -d '\r' < "$WORK/msiexec.log"
}

# nearest_lines LINE: of the log on stdin, the lines that begin most like
# LINE (at least its first 12 characters), or else the log's last lines.
nearest_lines() {
    awk -v want="$1" '
        { line[NR] = $0; n = 0
          while (n < length(want) && substr($0, n + 1, 1) == substr(want, n + 1, 1)) n++
          shared[NR] = n; if (n > best) best = n }
        END {
            if (best >= 12) {
                print "the log'"'"'s nearest lines:"
                for (i = 1; i <= NR; i++) if (shared[i] == best) printf "  %d: %s\n", i, line[i]
            } else {
                print "the log'"'"'s last lines (of " NR "):"
                for (i = NR > 12 ? NR - 11 : 1; i <= NR; i++) printf "  %d: %s\n", i, line[i]
            }
        }'
}

# expect_msi_log LINE...: each line stands, whole, in msiexec's log.
expect_msi_log() {
    local line log
    log=$(msi_log) || return 1
    for line in "$@"; do
        grep -qxF -- "$line" <<< "$log" ||
            fail "msiexec's log lacks the line: $line" "$(nearest_lines "$line" <<< "$log")" || return 1
    done
}

# expect_msi_log_once LINE: the line stands, whole, in msiexec's log once.
expect_msi_log_once() {
    local count log
    log=$(msi_log) || return 1
    count=$(grep -cxF -- "$1" <<< "$log") || true
    [ "${count:-0}" -eq 1 ] ||
        fail "msiexec's log holds ${count:-no} times, not once, the line: $1" "$(nearest_lines "$1" <<< "$log")"
}

# expect_msi_log_entries ENTRY...: msiexec's log holds the program's log, each
# entry as our custom action copied it, in this order.
expect_msi_log_entries() {
    local entries log
    log=$(msi_log) || return 1
    entries=$(sed -n "s/^$PROGRAM_TITLE: LOG //p" <<< "$log")
    split_log "${entries:+${entries//$'\n'/$'\r\n'}$'\r\n'}" || return 1
    expect_lines "the program's entries in msiexec's log" "$(printf '%s\n' "${LOG_TEXTS[@]}")" "$(printf '%s\n' "$@")"
}

# expect_ran ACTION...: msiexec's log shows each action started.
expect_ran() {
    local action log
    log=$(msi_log) || return 1
    for action in "$@"; do
        grep -q "^Action start .*: $action\.$" <<< "$log" ||
            fail "$action did not run; the last actions that did:" "$(grep '^Action start' <<< "$log" | tail -n 5)" ||
            return 1
    done
}

# expect_rolled_back ACTION...: msiexec's log shows each action run after the
# installation failed, as part of its rollback.
expect_rolled_back() {
    local action log rollback
    log=$(msi_log) || return 1
    rollback=$(sed -n '/^Action ended .*: INSTALL\. Return value 0\./,$p' <<< "$log")
    for action in "$@"; do
        grep -q "^Action start .*: $action\.$" <<< "$rollback" ||
            fail "the rollback did not run $action; it ran:" "$(grep '^Action start' <<< "$rollback")" || return 1
    done
}
