#!/usr/bin/env bash
# test-trees.sh JOBS PRESET...: every test of each build tree, the trees side
# by side and, in each, the tests of different Wine prefixes too (ctest -j
# JOBS). The first tree's output streams; each other's is kept in its tree
# (ctest.log) and printed when it ends. Every tree runs to its end even when
# another failed; any failure fails.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 JOBS PRESET..." >&2; exit 2; }
jobs=$1
shift
cd "$(dirname "$0")/.." || exit 2

status=0 pids=() logs=()
for preset in "${@:2}"; do
    log=build/$preset/ctest.log
    ctest --preset "$preset" -j "$jobs" > "$log" 2>&1 &
    pids+=("$!") logs+=("$log")
done
ctest --preset "$1" -j "$jobs" || status=1
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || status=1
    echo "---- ${logs[$i]}"
    cat "${logs[$i]}"
done
exit $status
