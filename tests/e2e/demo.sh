#!/usr/bin/env bash
# demo.sh BUILD: runs the program for real. The 32-bit product where this
# machine runs 32-bit Windows programs, else its 64-bit variant; a fresh
# 64-bit Wine prefix of its own (BUILD/demo-wine), the good stand-in control
# in its 32-bit system folder, the program started from C:\Setup with an
# argument under a virtual X server; prints the log box (and answers Yes),
# then the marker and the control's registration as the registry holds them.
# BUILD holds the build trees x86 and x64.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib/wine.sh
source "$here/../lib/wine.sh"
# shellcheck source=tests/lib/boxes.sh
source "$here/../lib/boxes.sh"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$TREE/CMakeCache.txt"; }

# The part that needs the X server: the run and what it left behind.
show_run() {
    echo "== $EXE_WIN /demo   (64-bit Windows, control in $SYSDIR_WIN)"
    timeout -k 5 120 "$WINE" "$EXE_WIN" /demo >/dev/null 2>&1 &
    local installer=$! rc=0
    box answer yes "$BOX_TIMEOUT_MS" > "$WINEPREFIX/demo-box.txt" || { kill "$installer"; return 1; }
    read_box "$WINEPREFIX/demo-box.txt"
    echo "-- the log box ($BOX_DESC), answered Yes:"
    printf '%s\n' "$BOX_TEXT" | tr -d '\r'
    wait "$installer" || rc=$?
    echo "-- exit code: $rc"
    echo "-- the marker, $MARKER_KEY (32-bit view):"
    echo "   Registered = $(reg_text "$MARKER_KEY" Registered || echo '(missing)')"
    echo "-- the control's class, HKCR\\CLSID\\$CLSID (view $CLASS_VIEW):"
    wine_call reg query "$CLASS_KEY" /s "$CLASS_VIEW" | tr -d '\r' | sed '/^$/d; s/^/   /'
    return "$rc"
}

if [ "${1:-}" = --show ]; then
    shift
    e2e_init win64 "$@" || { echo "demo: the prefix or the build lacks what the demo needs (see above)" >&2; exit 2; }
    rc=0; show_run || rc=$?
    wineserver -k || true  # the prefix is the demo's own; Wine's desktop must not outlive the X server
    exit "$rc"
fi

# Which program the demo runs, and why.
if wine32_available; then
    bits=32 tree=x86 choice="the 32-bit product, as it ships ($WINE32_REASON)"
else
    bits=64 tree=x64 choice="the 64-bit variant of the program, as no 32-bit Windows program runs here ($WINE32_REASON)"
fi
if [ "${1:-}" = --which ]; then echo "demo: $choice"; exit 0; fi

BUILD=$(cd "${1:?usage: demo.sh BUILD | demo.sh --which}" && pwd)
TREE=$BUILD/$tree
[ -f "$TREE/CMakeCache.txt" ] || { echo "demo: no build tree $TREE: build it first (make build)" >&2; exit 2; }
echo "demo: $choice"
prefix=$BUILD/demo-wine
company=$(cached TARVEX_COMPANY_NAME)
clsid=$(cached TARVEX_STANDIN_CLSID)
exe=$TREE/product/$PROGRAM_TITLE.exe
[ -n "$clsid" ] || { echo "demo: $TREE was configured without the tests (TARVEX_BUILD_TESTS)" >&2; exit 2; }

stop_demo_server() { WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; }
if [ -d "$prefix" ]; then stop_demo_server; rm -rf "$prefix"; fi
trap stop_demo_server EXIT

echo "demo: creating a fresh 64-bit Wine prefix in $prefix"
"$here/../wineprefix.sh" create "$prefix" win64 "$bits"
args=("$bits" "$prefix" "$TREE" "$exe" "$company" "$clsid")
e2e_init win64 "${args[@]}" || { echo "demo: the prefix or the build lacks what the demo needs (see above)" >&2; exit 2; }
place_tool
place_control good
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --show "${args[@]}"
