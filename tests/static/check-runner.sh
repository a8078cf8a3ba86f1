#!/usr/bin/env bash
# check-runner.sh: the suites' scenario runner, without Wine. A scenario that
# stops at a failed step names the step where its check did not already say
# why, and one that ends before its last step is failed, not passed; a
# failed one keeps its work folder, a passed one leaves none. The checks of
# msiexec's log find a line wherever it stands, and show the nearest lines
# where it is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib/runner.sh
source "$here/../lib/runner.sh"
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
SUITE_WORK=$(mktemp -d)
trap 'rm -rf "$SUITE_WORK"' EXIT
reset_prefix() { :; }   # no prefix to reset here

# shellcheck disable=SC2034  # the assignment is the failing step
scenario_substitution_fails() { value=$(false); echo "after the substitution"; }
scenario_nothing_found() { grep -q needle <<< haystack; echo "after the grep"; }
scenario_exits_early() { exit 0; }
scenario_check_says_why() { fail "the check says why"; }
scenario_passes() { true; }

passed=0 failed=0 skipped=0
out=$(for s in substitution_fails nothing_found exits_early check_says_why passes; do run_scenario "$s"; done)
printf '%s\n' "$out" | sed 's/^/  | /'
has() { grep -qF -- "$1" <<< "$out"; }
hasnt() { ! has "$1"; }

check "a failed command substitution fails its scenario" has "FAIL substitution_fails"
check "... naming the step" has 'stopped at check-runner.sh line 19: value=$(false) (exit status 1)'
check "... and runs nothing after it" hasnt "after the substitution"
check "a grep that found nothing is named" has 'stopped at check-runner.sh line 20: grep -q needle <<< haystack (exit status 1)'
check "a scenario that exits early with 0 fails" has "FAIL exits_early"
check "... saying so" has "the scenario ended before its last step"
check "a check's own message is not repeated" \
    bash -c '[ "$(grep -c "stopped at" <<< "$1")" -eq 2 ] && grep -qF "the check says why" <<< "$1"' _ "$out"
check "a scenario that runs to its end passes" has "PASS passes"
check "... and leaves no work folder" test ! -e "$SUITE_WORK/passes"
check "a failed scenario keeps its work folder, with what its check said" \
    grep -qxF "the check says why" "$SUITE_WORK/check_says_why/failure.txt"
check "... and names it" has "FAIL check_says_why (0 s); its work folder is kept: $SUITE_WORK/check_says_why"

# shellcheck source=tests/lib/msilog.sh
source "$here/../lib/msilog.sh"
# More than a pipe holds, the line near its start: a search at the end of a
# pipe ended it early, and under pipefail the line read as missing.
WORK=$SUITE_WORK/msilog
mkdir -p "$WORK"
{ echo "$PROGRAM_TITLE: the line"; echo "Action start 1:00:00: RollbackMarker."; seq 100000; } > "$WORK/msiexec.log"
check "a line at the start of a long msiexec log is found" expect_msi_log "$PROGRAM_TITLE: the line"
check "... and so is an action that ran there" expect_ran RollbackMarker
out=$(expect_msi_log "$PROGRAM_TITLE: the lines")
check "a missing line is shown with the log's nearest" has "      1: $PROGRAM_TITLE: the line"
checks_summary
