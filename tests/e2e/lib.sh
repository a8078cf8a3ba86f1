# Shared by the end-to-end suite and the demo: running Windows programs in a
# Wine prefix, the box helper, the registry and the prefix's system folder.
# Source it, then call e2e_init. Every call into Wine is bounded by a timeout.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PROGRAM_TITLE=TarvexActiveXInstaller
BOX_TIMEOUT_MS=30000     # the first box may wait on a registration run
RUN_TIMEOUT_S=60         # the longest an installer run may take once its boxes are answered
WINE_CALL_TIMEOUT_S=60

# e2e_init KIND PREFIX BUILD COMPANY CLSID
e2e_init() {
    KIND=$1 BUILD=$(cd "$3" && pwd) COMPANY=$4 CLSID=$5
    export WINEPREFIX=$2 WINEDEBUG=-all
    # No Mono/Gecko prompts; a crashing child ends with its exception code
    # instead of starting the debugger.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    EXE=$BUILD/$PROGRAM_TITLE.exe
    BOXHELPER=$BUILD/tests/boxhelper.exe
    STANDINS=$BUILD/tests/standins
    case $KIND in
    win64) SYSDIR_WIN='C:\windows\syswow64' SYSDIR=$WINEPREFIX/drive_c/windows/syswow64 ;;
    win32) SYSDIR_WIN='C:\windows\system32' SYSDIR=$WINEPREFIX/drive_c/windows/system32 ;;
    *) echo "unknown prefix kind: $KIND" >&2; return 2 ;;
    esac
    TOOL=$SYSDIR/regsvr32.exe
    MARKER_KEY="HKLM\\Software\\$COMPANY\\Tarvex_cl_V4"
    CLASS_KEY="HKCR\\CLSID\\$CLSID"
    local missing
    for missing in "$EXE" "$BOXHELPER" "$STANDINS"/{good,fail,crash}/TVex.DLL "$TOOL"; do
        [ -e "$missing" ] || { echo "missing: $missing" >&2; return 2; }
    done
}

wine_call() {
    local rc=0
    timeout -k 5 "$WINE_CALL_TIMEOUT_S" wine "$@" || rc=$?
    [ $rc -ne 124 ] || echo "wine $1 did not end within $WINE_CALL_TIMEOUT_S s" >&2
    return $rc
}

# The registry as a 32-bit program sees it: on 64-bit Windows its 32-bit view.
reg32() { wine_call reg "$@" /reg:32; }

# reg_text KEY VALUE: prints the REG_SZ text (empty name: the default value);
# fails when the value is absent.
reg_text() {
    local out
    if [ -z "$2" ]; then out=$(reg32 query "$1" /ve 2>/dev/null) || return 1
    else out=$(reg32 query "$1" /v "$2" 2>/dev/null) || return 1; fi
    out=$(printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    .*    REG_SZ    //p')
    printf '%s' "$out"
}

reg_key_exists() { reg32 query "$1" >/dev/null 2>&1; }
reg_delete_key() { reg_key_exists "$1" && reg32 delete "$1" /f >/dev/null 2>&1 || true; }

box() { wine_call "$BOXHELPER" "$@"; }

# read_box FILE: a box as the helper printed it, into BOX_DESC and BOX_TEXT.
read_box() {
    BOX_DESC= BOX_TEXT=
    { IFS= read -r BOX_DESC; IFS= read -r -d '' BOX_TEXT || true; } < "$1"
}

place_control() { cp "$STANDINS/$1/TVex.DLL" "$SYSDIR/TVex.DLL"; }

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
