#!/usr/bin/env bash
# wineprefix.sh create|stop DIR win32|win64 32|64 [scenarios]
# Creates a Wine prefix of the given kind once (about 15 s), for programs of
# the given bitness, or stops its wineserver. Where 32-bit programs can't run,
# a prefix for them is skipped (exit 77) with the reason; so is one that only
# scenario suites use ("scenarios") where those of that bitness don't run.
set -euo pipefail
source "$(dirname "$0")/wine-machine.sh"
action=$1 dir=$2 kind=${3:-win64} bits=${4:-32} use=${5:-}
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
create)
    if [ "$bits" = 32 ] && ! wine32_available; then echo "SKIPPED: $WINE32_REASON"; exit 77; fi
    if [ "$use" = scenarios ] && ! scenarios_run_here "$bits"; then echo "SKIPPED: $SCENARIOS_REASON"; exit 77; fi
    if [ ! -f "$dir/system.reg" ]; then
        mkdir -p "$(dirname "$dir")"
        if [ "$kind" = win32 ]; then export WINEARCH=win32; fi
        timeout 300 "$(wine_loader "$bits")" wineboot -i >/dev/null 2>&1 ||
            { echo "wineboot failed for $dir" >&2; exit 1; }
    fi
    timeout 120 wineserver -w
    ;;
stop)
    [ -d "$dir" ] && wineserver -k 2>/dev/null || true
    ;;
*) echo "usage: $0 create|stop DIR win32|win64 32|64" >&2; exit 2 ;;
esac
