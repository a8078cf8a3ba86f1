#!/usr/bin/env bash
# demo.sh BUILD: runs the program for real. A fresh 64-bit Wine prefix of its
# own (BUILD/demo-wine), the good stand-in control in its 32-bit system folder,
# the program started with an argument under a virtual X server; prints the
# log box (and answers Yes), then the marker and the control's registration as
# the registry holds them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }

# The part that needs the X server: the run and what it left behind.
show_run() {
    echo "== TarvexActiveXInstaller.exe /demo   (64-bit Windows, control in $SYSDIR_WIN)"
    timeout -k 5 120 wine "$EXE" /demo >/dev/null 2>&1 &
    local installer=$! rc=0
    box answer yes "$BOX_TIMEOUT_MS" > "$WINEPREFIX/demo-box.txt" || { kill "$installer"; return 1; }
    read_box "$WINEPREFIX/demo-box.txt"
    echo "-- the log box ($BOX_DESC), answered Yes:"
    printf '%s\n' "$BOX_TEXT" | tr -d '\r'
    wait "$installer" || rc=$?
    echo "-- exit code: $rc"
    echo "-- the marker, $MARKER_KEY (32-bit view):"
    echo "   Registered = $(reg_text "$MARKER_KEY" Registered || echo '(missing)')"
    echo "-- the control's class, HKCR\\CLSID\\$CLSID (32-bit view):"
    reg32 query "$CLASS_KEY" /s | tr -d '\r' | sed '/^$/d; s/^/   /'
    return "$rc"
}

if [ "${1:-}" = --show ]; then
    e2e_init win64 "$2" "$3" "$4" "$5"
    rc=0; show_run || rc=$?
    wineserver -k  # the prefix is the demo's own; Wine's desktop must not outlive the X server
    exit "$rc"
fi

BUILD=$(cd "${1:?usage: demo.sh BUILD}" && pwd)
prefix=$BUILD/demo-wine
company=$(cached TARVEX_COMPANY_NAME)
clsid=$(cached TARVEX_STANDIN_CLSID)
[ -n "$clsid" ] || { echo "demo: $BUILD was configured without the tests (TARVEX_BUILD_TESTS)" >&2; exit 2; }

stop_demo_server() { WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; }
if [ -d "$prefix" ]; then stop_demo_server; rm -rf "$prefix"; fi
trap stop_demo_server EXIT

echo "demo: creating a fresh 64-bit Wine prefix in $prefix"
"$here/../wineprefix.sh" create "$prefix" win64
e2e_init win64 "$prefix" "$BUILD" "$company" "$clsid"
place_control good
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --show "$prefix" "$BUILD" "$company" "$clsid"
