#!/usr/bin/env bash
# Measures TarvexActiveXInstaller against the one-line batch file it replaces,
# checks the EXE's file, and soaks it with alternating good and failing
# controls. Everything runs in a 64-bit Wine prefix of the bench's own, made
# fresh each time: the 32-bit product under WOW64 where this machine runs
# 32-bit Windows programs, else its 64-bit variant.
#
#   bench.sh BUILD [--runs N] [--soak N]
#
# BUILD holds the build trees x86 and x64, with the test helpers. N runs
# default to BENCH_RUNS or 20, soak runs to BENCH_SOAK or 100 (0 skips it).
# Figures are printed, never judged; the exit code is non-zero when an import
# is not a Windows system DLL, a timed run fails, or the soak finds a mismatch.
set -uo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$BENCH_DIR/.." && pwd)
PROGRAM_TITLE=TarvexActiveXInstaller
RUN_TIMEOUT_S=60          # one timed `wine ...` call
BOX_TIMEOUT_MS=30000      # the error box of a failing run
KEEPALIVE_MS=1800000      # longer than any bench; released at the end
# Wine, its desktop and the X server go on clearing up a process for some tens
# of ms after `wine` has returned; a run started at once is slowed by that.
SETTLE_S=0.5

usage() { echo "usage: $0 BUILD [--runs N] [--soak N]" >&2; exit 2; }
[ $# -ge 1 ] || usage
BUILD=$(cd "$1" 2>/dev/null && pwd) || { echo "no build tree at $1" >&2; exit 2; }
shift
RUNS=${BENCH_RUNS:-20} SOAK=${BENCH_SOAK:-100}
while [ $# -gt 0 ]; do
    case $1 in
    --runs) RUNS=${2:-} ;;
    --soak) SOAK=${2:-} ;;
    *) usage ;;
    esac
    shift 2 || usage
done
[[ $RUNS =~ ^[1-9][0-9]*$ && $SOAK =~ ^[0-9]+$ ]] || usage

# The error boxes of the soak need an X display; give the bench one of its own.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$BUILD" --runs "$RUNS" --soak "$SOAK"
fi

# shellcheck source=tests/lib/wine.sh
source "$ROOT/tests/lib/wine.sh"
if wine32_available; then
    BITS=32 TREE=$BUILD/x86 ARCH=i686 ARCH_NAME=X86
    echo "bench: the 32-bit product under WOW64 ($WINE32_REASON)"
else
    BITS=64 TREE=$BUILD/x64 ARCH=x86_64 ARCH_NAME=amd64
    echo "bench: the 64-bit variant, as no 32-bit Windows program runs here ($WINE32_REASON)"
fi
WORK=$TREE/bench
PREFIX=$BUILD/bench-wine
# Wine's environment for the bench's own prefix, made below.
wine_env "$BITS" "$PREFIX"
system_folder win64
EXE=$TREE/product/$PROGRAM_TITLE.exe
BOXHELPER=$TREE/tests/boxhelper.exe
STANDINS=$TREE/tests/standins
COMPANY=$(sed -n 's/^TARVEX_COMPANY_NAME:[A-Z]*=//p' "$TREE/CMakeCache.txt" 2>/dev/null)
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$TREE/CMakeCache.txt" 2>/dev/null)
for needed in "$EXE" "$BOXHELPER" "$STANDINS"/{good,fail}/TVex.DLL "$TREE/libtarvex_core.a"; do
    [ -e "$needed" ] || { echo "missing: $needed (build with the tests)" >&2; exit 2; }
done
[ -n "$COMPANY" ] || { echo "no TARVEX_COMPANY_NAME in $TREE/CMakeCache.txt" >&2; exit 2; }

# The tool as the program starts it, from the 32-bit system folder: there the
# 32-bit one; for the 64-bit variant, Wine's 64-bit one put in its place.
REGSVR32_WIN="$SYSDIR_WIN\\regsvr32.exe"
CONTROL_WIN="$SYSDIR_WIN\\TVex.DLL"
# The batch file runs in a command processor of the program's bitness.
if [ "$BITS" = 32 ]; then CMD_WIN="$SYSDIR_WIN\\cmd.exe"; else CMD_WIN='C:\windows\system32\cmd.exe'; fi
MARKER_KEY="HKLM\\Software\\$COMPANY\\Tarvex_cl_V4"
mkdir -p "$WORK"
status=0

# ------------------------------------------------------------ helpers

source "$BENCH_DIR/lib.sh"
source "$BENCH_DIR/soak.sh"

# The soak's hands in Wine (soak.sh). The marker's text, empty when it is absent:
read_marker() { reg_text "$MARKER_KEY" Registered || true; }
delete_marker() { reg_delete_key "$MARKER_KEY"; }
run_program() { wine_call "$EXE" >/dev/null 2>&1 </dev/null; }
# Prints the text of the program's next box and presses its OK; false when none comes.
answer_error_box() {
    timeout -k 5 $((BOX_TIMEOUT_MS / 1000 + 10)) "$WINE" "$BOXHELPER" answer ok "$BOX_TIMEOUT_MS" \
        >"$WORK/box.txt" 2>"$WORK/box.err" || { head -c 300 "$WORK/box.err"; return 1; }
    tail -n +2 "$WORK/box.txt"
}

# timed NAME COMMAND...: one `wine COMMAND` whose wall time (ms) goes to
# NAME.ms and whose peak memory (kB) to NAME.rss; fails with its exit code.
timed() {
    local name=$1 start rc
    shift
    rm -f "$WORK/time.txt"
    sleep "$SETTLE_S"
    start=$(date +%s%N)
    timeout -k 5 "$RUN_TIMEOUT_S" /usr/bin/time -v -o "$WORK/time.txt" "$WINE" "$@" >/dev/null 2>&1 </dev/null
    rc=$?
    echo $(( ($(date +%s%N) - start) / 1000000 )) >> "$WORK/$name.ms"
    sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt" >> "$WORK/$name.rss"
    return $rc
}

# The probe links the program's own ShellAndWait from the build's core library,
# compiled as the build compiles the program.
build_probe() {
    "$ARCH-w64-mingw32-g++-posix" -std=c++17 -Os -Wall -Wextra -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN \
        -DNOMINMAX -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -I"$ROOT" "$BENCH_DIR/probe.cpp" \
        "$TREE/libtarvex_core.a" -o "$WORK/probe.exe" -municode -static -static-libgcc -static-libstdc++ -s
}

# ------------------------------------------------------------ size and imports

echo "TarvexActiveXInstaller bench, $(date '+%Y-%m-%d %H:%M %Z')"
echo "machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p;T;q' /proc/cpuinfo)," \
     "$(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo), Linux $(uname -r), $("$WINE" --version)"
echo
echo "EXE: $EXE"
bash "$ROOT/tests/static/check-exe.sh" "$EXE" "$ARCH_NAME" "$COMPANY" "$VERSION" > "$WORK/exe-file.txt"
exe_file_status=$?
echo "size: $(stat -c %s "$EXE") bytes; imports: $(sed -n "s/^ok: imports only Windows' own DLLs: //p" "$WORK/exe-file.txt")"
grep '^FAIL' "$WORK/exe-file.txt"
[ "$exe_file_status" -eq 0 ] || { echo "FAIL: the EXE's file check failed (see $WORK/exe-file.txt)"; status=1; }
echo

# ------------------------------------------------------------ the prefix

KEEPALIVE_PID=

cleanup() {
    if [ -n "$KEEPALIVE_PID" ]; then
        timeout 20 "$WINE" "$BOXHELPER" release 10000 >/dev/null 2>&1 || kill "$KEEPALIVE_PID" 2>/dev/null
        wait "$KEEPALIVE_PID" 2>/dev/null
    fi
    wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -d "$PREFIX" ]; then   # a bench stopped by force may have left its wineserver running
    wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
fi
rm -rf "$PREFIX"
echo "creating a fresh 64-bit prefix: $PREFIX"
"$ROOT/tests/wineprefix.sh" create "$PREFIX" win64 "$BITS" || exit 1
wineserver -p   # kept warm for the bench's lifetime
# Wine's desktop process ends a few seconds after the last window closes and
# would start again for the next run: a window held open keeps it warm for all.
timeout -k 5 $((KEEPALIVE_MS / 1000 + 60)) "$WINE" "$BOXHELPER" keepalive "$KEEPALIVE_MS" >/dev/null 2>&1 &
KEEPALIVE_PID=$!
[ "$BITS" = 64 ] && cp "$PREFIX/drive_c/windows/system32/regsvr32.exe" "$SYSDIR/regsvr32.exe"
place_control good
rm -f "$WORK"/*.ms "$WORK"/*.rss

# ------------------------------------------------------------ timed runs

run_a() { timed "$1" "$EXE"; }
run_b() { timed "$1" "$CMD_WIN" /c regsvr32 /s "$CONTROL_WIN"; }
# b as typed at a prompt: Wine starts a program given by name through its start.exe.
run_n() { timed "$1" cmd /c regsvr32 /s "$CONTROL_WIN"; }
run_c() { timed "$1" "$REGSVR32_WIN" /s "$CONTROL_WIN"; }
run_e() { timed "$1" "$WORK/probe.exe"; }   # an empty program: the floor of any start

ways="a b c"
if build_probe >"$WORK/probe-build.txt" 2>&1; then
    ways="a b c e"
else
    echo "the probe could not be built, so the breakdown is left out:"
    sed 's/^/    /' "$WORK/probe-build.txt"
fi

# One untimed round first: the first start of each program loads its files.
for way in $ways; do "run_$way" warmup || { echo "FAIL: warm-up run $way ended with $?"; status=1; }; done

echo "timing $RUNS runs of each, interleaved ${ways// /, }, ..., then $RUNS of n"
failed_runs=0
for ((i = 1; i <= RUNS; i++)); do
    for way in $ways; do
        "run_$way" "$way" || { echo "run $way #$i ended with exit code $?"; failed_runs=$((failed_runs + 1)); }
    done
done
# n after the others: among them, it slowed the runs that followed it.
run_n warmup || { echo "FAIL: warm-up run n ended with $?"; status=1; }
for ((i = 1; i <= RUNS; i++)); do
    run_n n || { echo "run n #$i ended with exit code $?"; failed_runs=$((failed_runs + 1)); }
done
[ "$failed_runs" -eq 0 ] || { echo "FAIL: $failed_runs timed runs did not end with 0"; status=1; }

row() {  # row LABEL NAME
    local m lo hi
    read -r m lo hi < <(stats "$WORK/$2.ms")
    printf '  %-52s %7s %7s %7s %9s\n' "$1" "$m" "$lo" "$hi" "$(median "$WORK/$2.rss" | cut -d. -f1)"
}
echo
echo "wall time in ms of each whole \`wine ...\` call, wineserver and desktop kept warm,"
echo "each started $SETTLE_S s after the one before;"
echo "peak memory: max RSS in kB of that call's Wine process by /usr/bin/time -v (median)"
printf '  %-52s %7s %7s %7s %9s\n' "" median min max "max RSS"
row "a) $PROGRAM_TITLE.exe, no arguments" a
row "b) cmd /c regsvr32 /s TVex.DLL (the batch-file way)" b
row "c) regsvr32 /s TVex.DLL alone" c
row "n) b started by name: wine cmd /c regsvr32 ..." n
A=$(median "$WORK/a.ms") B=$(median "$WORK/b.ms") C=$(median "$WORK/c.ms") N=$(median "$WORK/n.ms")
echo "  median ratios: a/b = $(ratio "$A" "$B"), a/c = $(ratio "$A" "$C")   (a/n = $(ratio "$A" "$N"))"
if [ -s "$WORK/e.ms" ]; then
    # What the program's own wait allows at best: starting an EXE of its
    # bitness, the tool's run, and the first look at its exit code after 100 ms.
    FLOOR=$(awk -v e="$(median "$WORK/e.ms")" -v c="$C" 'BEGIN { printf "%.1f", e + c + 100 }')
    echo "  floor of the program's wait: e) empty $BITS-bit EXE $(median "$WORK/e.ms") + c) regsvr32 alone $C" \
         "+ 100 ms first poll = $FLOOR ms; a/floor = $(ratio "$A" "$FLOOR")"
    echo "  (the tool runs during the first poll's 100 ms, so a can come in under this sum)"
fi
echo "  b starts $CMD_WIN and c $REGSVR32_WIN by path, as a"
echo "  $BITS-bit installation package would; in b, the $BITS-bit cmd.exe finds the same $BITS-bit"
echo "  regsvr32.exe that the program starts. n is b as typed at a prompt, timed after the"
echo "  rest: Wine then starts cmd.exe through its own start.exe, one process more, which"
echo "  Windows does not."
echo "  RSS of b and n is cmd.exe's alone: Wine starts child processes detached, outside"
echo "  /usr/bin/time's count; so a's is the program's own, without its regsvr32."

# ------------------------------------------------------------ where the time goes

# In-process figures from the probe: DLL loading, and the same tool run waited
# for on its handle and through the program's ShellAndWait, alternately.
breakdown() {
    rm -f "$WORK/probe.out"
    for ((i = 1; i <= RUNS; i++)); do
        wine_call "$WORK/probe.exe" dlls >> "$WORK/probe.out" 2>/dev/null </dev/null
    done
    wine_call "$WORK/probe.exe" wait "$RUNS" "$REGSVR32_WIN $CONTROL_WIN /s" >> "$WORK/probe.out" 2>/dev/null </dev/null
    local key E L W P
    for key in dlls handle poll; do sed -n "s/^$key //p" "$WORK/probe.out" > "$WORK/$key.ms"; done
    if ! [ -s "$WORK/dlls.ms" ] || ! [ -s "$WORK/handle.ms" ] || ! [ -s "$WORK/poll.ms" ]; then
        echo "  the probe gave no figures:"; sed 's/^/    /' "$WORK/probe.out"
        return
    fi
    grep -q '^exit ' "$WORK/probe.out" && echo "  note: some of the probe's tool runs did not end with 0"
    E=$(median "$WORK/e.ms") L=$(median "$WORK/dlls.ms") W=$(median "$WORK/handle.ms") P=$(median "$WORK/poll.ms")
    line() { printf '  %-68s %7s\n' "$@"; }
    line "a) the program, whole call (above)" "$A"
    line "   the tool's run through ShellAndWait (poll every 100 ms)" "$P"
    line "     the tool's run waited for on its process handle" "$W"
    line "     the poll's share: the wait past the tool's end" "$(minus "$P" "$W")"
    line "   the rest: start, DLLs, checks, marker, exit" "$(minus "$A" "$P")"
    line "     e) an empty $BITS-bit EXE of this build, started and ended (above)" "$E"
    line "     loading advapi32, ole32, shell32, version" "$L"
    line "     the program's own steps (what is left)" "$(minus "$(minus "$(minus "$A" "$P")" "$E")" "$L")"
    line "b) the batch-file way, whole call (above)" "$B"
    line "   cmd.exe's share: b minus the tool's run on its handle" "$(minus "$B" "$W")"
    local fixed
    fixed=$(minus "$A" "$(minus "$P" "$W")")
    line "a with the tool waited for on its handle instead (a - poll's share)" "$fixed"
    echo "  median ratios of that: to b $(ratio "$fixed" "$B"), to c $(ratio "$fixed" "$C")"
}

if [ "$ways" = "a b c e" ]; then
    echo
    echo "where the program's time goes (medians in ms; in-process figures from bench/probe.cpp,"
    echo "which links the program's own ShellAndWait):"
    row "e) an empty $BITS-bit EXE of this build (bench/probe.cpp)" e
    breakdown
fi

# ------------------------------------------------------------ soak

[ "$SOAK" -gt 0 ] || exit $status
echo
soak "$SOAK" || status=1
exit $status
