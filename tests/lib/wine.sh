# shellcheck shell=bash
# Wine, its prefixes and the registry, for the suites, the demo and the
# bench: Windows programs of the right bitness run in a prefix, each call
# bounded by a timeout; the prefix's 32-bit system folder, its tools and the
# stand-in control put in place; registry values read, keys reset; the
# prefix's wineserver waited for or stopped.
# shellcheck source=tests/wine-machine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine-machine.sh"

PROGRAM_TITLE=TarvexActiveXInstaller
WINE_CALL_TIMEOUT_S=60
# Where an installation package would start the program from.
SETUP_DIR_WIN='C:\Setup'

# wine_env BITS PREFIX: Wine's environment for programs of that bitness in
# PREFIX, and WINE, the loader that runs them: quiet, no Mono or Gecko
# prompts, and a crashing child ends with its exception code instead of
# starting the debugger. Returns 77 where such programs can't run here, with
# the reason in WINE32_REASON.
wine_env() {
    export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ "$1" = 32 ] && ! wine32_available; then return 77; fi
    WINE=$(wine_loader "$1")
}

# system_folder KIND: the 32-bit system folder of that kind of prefix, into
# SYSDIR_WIN (as Windows names it) and SYSDIR (as Linux does).
system_folder() {
    # shellcheck disable=SC2034  # SYSDIR_WIN is for the scripts that source this
    case $1 in
    win64) SYSDIR_WIN='C:\windows\syswow64' SYSDIR=$WINEPREFIX/drive_c/windows/syswow64 ;;
    win32) SYSDIR_WIN='C:\windows\system32' SYSDIR=$WINEPREFIX/drive_c/windows/system32 ;;
    *) echo "unknown prefix kind: $1" >&2; return 2 ;;
    esac
}

# e2e_init KIND BITS PREFIX BUILD EXE COMPANY CLSID
# KIND is the prefix's Windows (win64, win32), BITS the programs' (32, 64),
# BUILD the tree with the test helpers, EXE the program. Returns 77 where
# programs of that bitness can't run, with the reason in WINE32_REASON.
e2e_init() {
    KIND=$1 BITS=$2 PROGRAM_EXE=$5 COMPANY=$6 CLSID=$7
    BUILD=$(cd "$4" && pwd) || { echo "no build tree $4" >&2; return 2; }
    local rc=0
    wine_env "$BITS" "$3" || rc=$?
    [ $rc -eq 0 ] || return $rc
    BOXHELPER=$BUILD/tests/boxhelper.exe
    STATION=$BUILD/tests/station.exe
    STANDINS=$BUILD/tests/standins
    # shellcheck disable=SC2034  # the runs that start the program name it so
    EXE_WIN="$SETUP_DIR_WIN\\$PROGRAM_TITLE.exe"
    EXE=$WINEPREFIX/drive_c/Setup/$PROGRAM_TITLE.exe
    system_folder "$KIND" || return 2
    TOOL=$SYSDIR/regsvr32.exe
    # The system folder's tools that a 64-bit build's runs need in their 64-bit
    # form: the registration tool alone, now that the marker's rollback is our
    # own DLL's and no package runs reg.exe.
    SYSTEM_TOOLS="regsvr32.exe"
    # The control registers itself in its own bitness's view; the marker is in the 32-bit one.
    # shellcheck disable=SC2034  # the registry's places that the checks look at
    CLASS_VIEW=/reg:$BITS MARKER_KEY="HKLM\\Software\\$COMPANY\\Tarvex_cl_V4" CLASS_KEY="HKCR\\CLSID\\$CLSID"
    local missing
    for missing in "$PROGRAM_EXE" "$BOXHELPER" "$STATION" "$STANDINS"/{good,fail,crash}/TVex.DLL; do
        [ -e "$missing" ] || { echo "missing: $missing" >&2; return 2; }
    done
    save_tools
    [ -e "$(tool_original regsvr32.exe)" ] || [ "$BITS" = 64 ] || { echo "missing: $TOOL" >&2; return 2; }
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

# windows_path PATH: a Linux path as Wine's drive Z: names it.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The registry as the 32-bit program sees it: on 64-bit Windows its 32-bit view.
reg32() { wine_call reg "$@" /reg:32; }

# reg_text KEY VALUE [VIEW]: prints the REG_SZ text (empty name: the default
# value) in the 32-bit view, or VIEW; fails when the value is absent.
reg_text() {
    local out view=${3:-/reg:32}
    if [ -z "$2" ]; then out=$(wine_call reg query "$1" /ve "$view" 2>/dev/null) || return 1
    else out=$(wine_call reg query "$1" /v "$2" "$view" 2>/dev/null) || return 1; fi
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    .*    REG_SZ    //p'
}

# reg_dword KEY VALUE: prints the REG_DWORD as reg shows it (0x1), 32-bit view; fails when absent.
reg_dword() {
    local out
    out=$(wine_call reg query "$1" /v "$2" /reg:32 2>/dev/null) || return 1
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    .*    REG_DWORD    //p'
}

reg_key_exists() { wine_call reg query "$1" "${2:-/reg:32}" >/dev/null 2>&1; }
# reg_delete_key KEY [VIEW]: the key is gone afterwards. A scenario's checks
# rest on it, so a key that survives one deletion is deleted again, and said.
reg_delete_key() {
    local view=${2:-/reg:32} try
    for try in 1 2 3; do
        reg_key_exists "$1" "$view" || return 0
        [ "$try" = 1 ] || echo "    reset: $1 survived its deletion; deleting it again" >&2
        wine_call reg delete "$1" /f "$view" >/dev/null 2>&1 || true
    done
    ! reg_key_exists "$1" "$view" || echo "    reset: $1 could not be deleted" >&2
}

# place_control KIND: that stand-in (good, fail, ...) as the system folder's TVex.DLL.
place_control() { cp "$STANDINS/$1/TVex.DLL" "$SYSDIR/TVex.DLL"; }

# Kept in the prefix, outside drive C, so that they go with the prefix they came from.
tool_original() { printf '%s' "$WINEPREFIX/e2e-$1.orig"; }
tool_was_absent() { printf '%s' "$WINEPREFIX/e2e-$1.absent"; }

# The system folder's own tools (or a note that it had none), kept once for
# the end. A run stopped earlier may have left a tool replaced; the copy it
# kept is the original.
save_tools() {
    local name
    for name in $SYSTEM_TOOLS; do
        [ -e "$(tool_original "$name")" ] || [ -e "$(tool_was_absent "$name")" ] && continue
        if [ -e "$SYSDIR/$name" ]; then cp "$SYSDIR/$name" "$(tool_original "$name")"
        else : > "$(tool_was_absent "$name")"; fi
    done
}

# Puts the tools the program and the packages are to find in place: the
# folder's own for a 32-bit build, Wine's 64-bit ones for a 64-bit build (a
# 64-bit tool is what registers a 64-bit control, and what runs where no
# 32-bit code does). e2e_init has saved the folder's own.
place_tool() {
    local name wanted
    # Wine's msiexec takes away a system folder that a removal leaves empty.
    mkdir -p "$SYSDIR"
    for name in $SYSTEM_TOOLS; do
        wanted=$(tool_original "$name")
        [ "$BITS" = 64 ] && wanted=$WINEPREFIX/drive_c/windows/system32/$name
        [ -e "$wanted" ] || continue
        cmp -s "$wanted" "$SYSDIR/$name" || cp "$wanted" "$SYSDIR/$name"
    done
}

# Leaves the system folder's tools as the prefix had them.
restore_tool() {
    local name original absent
    for name in $SYSTEM_TOOLS; do
        original=$(tool_original "$name") absent=$(tool_was_absent "$name")
        if [ -e "$original" ]; then cmp -s "$original" "$SYSDIR/$name" || cp "$original" "$SYSDIR/$name"
        elif [ -e "$absent" ]; then rm -f "$SYSDIR/$name"; fi
        rm -f "$original" "$absent"
    done
}

# windows_processes NAME: the Linux process ids of this prefix's Windows
# programs whose command line holds NAME (looked at, never signalled).
windows_processes() {
    local pid
    for pid in $(pgrep -f -i -- "$1" || true); do
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
    done
    true
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
