# Shared by the end-to-end suite and the demo: running Windows programs in a
# Wine prefix, the box helper, the registry and the prefix's system folder.
# Source it, then call e2e_init. Every call into Wine is bounded by a timeout.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$E2E_LIB_DIR/../wine-machine.sh"
PROGRAM_TITLE=TarvexActiveXInstaller
BOX_TIMEOUT_MS=30000     # the first box may wait on a registration run
RUN_TIMEOUT_S=60         # the longest an installer run may take once its boxes are answered
WINE_CALL_TIMEOUT_S=60
# Where an installation package would start the program from.
SETUP_DIR_WIN='C:\Setup'

# e2e_init KIND BITS PREFIX BUILD EXE COMPANY CLSID
# KIND is the prefix's Windows (win64, win32), BITS the programs' (32, 64),
# BUILD the tree with the test helpers, EXE the program. Returns 77 where
# programs of that bitness can't run, with the reason in WINE32_REASON.
e2e_init() {
    KIND=$1 BITS=$2 BUILD=$(cd "$4" && pwd) PROGRAM_EXE=$5 COMPANY=$6 CLSID=$7
    export WINEPREFIX=$3 WINEDEBUG=-all
    # No Mono/Gecko prompts; a crashing child ends with its exception code
    # instead of starting the debugger.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ "$BITS" = 32 ] && ! wine32_available; then return 77; fi
    WINE=$(wine_loader "$BITS")
    BOXHELPER=$BUILD/tests/boxhelper.exe
    STATION=$BUILD/tests/station.exe
    STANDINS=$BUILD/tests/standins
    EXE_WIN="$SETUP_DIR_WIN\\$PROGRAM_TITLE.exe"
    EXE=$WINEPREFIX/drive_c/Setup/$PROGRAM_TITLE.exe
    case $KIND in
    win64) SYSDIR_WIN='C:\windows\syswow64' SYSDIR=$WINEPREFIX/drive_c/windows/syswow64 ;;
    win32) SYSDIR_WIN='C:\windows\system32' SYSDIR=$WINEPREFIX/drive_c/windows/system32 ;;
    *) echo "unknown prefix kind: $KIND" >&2; return 2 ;;
    esac
    TOOL=$SYSDIR/regsvr32.exe
    TOOL_64=$WINEPREFIX/drive_c/windows/system32/regsvr32.exe
    # Kept in the prefix, outside drive C, so that they go with the prefix they came from.
    TOOL_ORIGINAL=$WINEPREFIX/e2e-regsvr32.exe.orig TOOL_WAS_ABSENT=$WINEPREFIX/e2e-regsvr32.exe.absent
    # The control registers itself in its own bitness's view; the marker is in the 32-bit one.
    CLASS_VIEW=/reg:$BITS
    MARKER_KEY="HKLM\\Software\\$COMPANY\\Tarvex_cl_V4"
    CLASS_KEY="HKCR\\CLSID\\$CLSID"
    local missing
    for missing in "$PROGRAM_EXE" "$BOXHELPER" "$STATION" "$STANDINS"/{good,fail,crash}/TVex.DLL; do
        [ -e "$missing" ] || { echo "missing: $missing" >&2; return 2; }
    done
    save_tool
    [ -e "$TOOL_ORIGINAL" ] || [ "$BITS" = 64 ] || { echo "missing: $TOOL" >&2; return 2; }
    install_program
}

# The program where a package would start it from, as the package copies it.
install_program() {
    mkdir -p "$(dirname "$EXE")" && cp "$PROGRAM_EXE" "$EXE"
}

wine_call() {
    local rc=0
    timeout -k 5 "$WINE_CALL_TIMEOUT_S" "$WINE" "$@" || rc=$?
    [ $rc -ne 124 ] || echo "wine $1 did not end within $WINE_CALL_TIMEOUT_S s" >&2
    return $rc
}

# The registry as the 32-bit program sees it: on 64-bit Windows its 32-bit view.
reg32() { wine_call reg "$@" /reg:32; }

# reg_text KEY VALUE [VIEW]: prints the REG_SZ text (empty name: the default
# value) in the 32-bit view, or VIEW; fails when the value is absent.
reg_text() {
    local out view=${3:-/reg:32}
    if [ -z "$2" ]; then out=$(wine_call reg query "$1" /ve "$view" 2>/dev/null) || return 1
    else out=$(wine_call reg query "$1" /v "$2" "$view" 2>/dev/null) || return 1; fi
    out=$(printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    .*    REG_SZ    //p')
    printf '%s' "$out"
}

reg_key_exists() { wine_call reg query "$1" "${2:-/reg:32}" >/dev/null 2>&1; }
reg_delete_key() { reg_key_exists "$1" "${2:-/reg:32}" && wine_call reg delete "$1" /f "${2:-/reg:32}" >/dev/null 2>&1 || true; }

box() { wine_call "$BOXHELPER" "$@"; }

# read_box FILE: a box as the helper printed it, into BOX_DESC and BOX_TEXT.
read_box() {
    BOX_DESC= BOX_TEXT=
    { IFS= read -r BOX_DESC; IFS= read -r -d '' BOX_TEXT || true; } < "$1"
}

place_control() { cp "$STANDINS/$1/TVex.DLL" "$SYSDIR/TVex.DLL"; }

# The system folder's own tool (or a note that it had none), kept once for
# the end. A run stopped earlier may have left the tool replaced; the copy
# it kept is the original.
save_tool() {
    [ -e "$TOOL_ORIGINAL" ] || [ -e "$TOOL_WAS_ABSENT" ] && return 0
    if [ -e "$TOOL" ]; then cp "$TOOL" "$TOOL_ORIGINAL"; else : > "$TOOL_WAS_ABSENT"; fi
}

# Puts the tool the program is to find in place: the folder's own for a
# 32-bit build, Wine's 64-bit one for a 64-bit build (a 64-bit tool is what
# registers a 64-bit control). e2e_init has saved the folder's own.
place_tool() {
    local wanted=$TOOL_ORIGINAL
    [ "$BITS" = 64 ] && wanted=$TOOL_64
    cmp -s "$wanted" "$TOOL" || cp "$wanted" "$TOOL"
}

# Leaves the system folder's tool as the prefix had it.
restore_tool() {
    if [ -e "$TOOL_ORIGINAL" ]; then cmp -s "$TOOL_ORIGINAL" "$TOOL" || cp "$TOOL_ORIGINAL" "$TOOL"
    elif [ -e "$TOOL_WAS_ABSENT" ]; then rm -f "$TOOL"; fi
    rm -f "$TOOL_ORIGINAL" "$TOOL_WAS_ABSENT"
}

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
