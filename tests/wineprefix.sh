#!/usr/bin/env bash
# wineprefix.sh create|stop DIR win32|win64
# Creates a Wine prefix of the given kind once (about 10 s), or stops its wineserver.
set -euo pipefail
action=$1 dir=$2 kind=${3:-win64}
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
create)
    if [ ! -f "$dir/system.reg" ]; then
        mkdir -p "$(dirname "$dir")"
        if [ "$kind" = win32 ]; then export WINEARCH=win32; fi
        timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed for $dir" >&2; exit 1; }
    fi
    timeout 120 wineserver -w
    ;;
stop)
    [ -d "$dir" ] && wineserver -k 2>/dev/null || true
    ;;
*) echo "usage: $0 create|stop DIR win32|win64" >&2; exit 2 ;;
esac
