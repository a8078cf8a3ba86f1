#!/usr/bin/env bash
# repeat.sh PRESET REGEX N [SCENARIO]: the tests of that build tree whose
# names match REGEX, N times in a row (ctest --repeat until-fail:N, so the
# first failure stops it), while stress-ng keeps every core busy; with
# SCENARIO, the suites run that scenario alone. A failure that shows only
# under load is a finding: its scenario's work folder is kept and named.
#
#   bash tests/repeat.sh x86 'package_win(64|32)$' 5
#   bash tests/repeat.sh x86 package_win32 10 late_failure_leaves_nothing
#
# make repeat SUITE=REGEX N=5 [SCENARIO=...] [PRESET=x86] runs it.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 PRESET REGEX N [SCENARIO]" >&2; exit 2; }
preset=$1 regex=$2 times=$3 scenario=${4:-}
command -v stress-ng >/dev/null || { echo "repeat: stress-ng is missing (cmake/bootstrap.sh installs it)" >&2; exit 2; }
cd "$(dirname "$0")/.."

cores=$(nproc)
stress-ng --cpu "$cores" --timeout 3h --quiet &
load=$!
trap 'kill "$load" 2>/dev/null || true; wait "$load" 2>/dev/null || true' EXIT
echo "repeat: $preset tests matching '$regex'${scenario:+ (scenario $scenario)}, $times times in a row, with stress-ng loading all $cores cores (pid $load)"
TARVEX_ONLY=$scenario ctest --preset "$preset" -R "$regex" --repeat "until-fail:$times" --output-on-failure
