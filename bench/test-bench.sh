#!/usr/bin/env bash
# Tests of the bench's helpers (lib.sh) and of the soak's judgment (soak.sh),
# with Wine replaced by a small model of the program: bash alone, some seconds.
#   bash bench/test-bench.sh
set -uo pipefail
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/soak.sh"

failures=0
check() {  # check WHAT COMMAND...: the command must succeed
    "${@:2}" >/dev/null 2>&1 || { echo "FAIL: $1"; failures=$((failures + 1)); }
}
refute() {  # refute WHAT COMMAND...: the command must fail
    ! "${@:2}" >/dev/null 2>&1 || { echo "FAIL: $1"; failures=$((failures + 1)); }
}
expect() {  # expect WHAT ACTUAL EXPECTED
    [ "$2" = "$3" ] || { echo "FAIL: $1: got '$2', expected '$3'"; failures=$((failures + 1)); }
}

# ---- imports: whole names in any case; compiler runtimes and near-misses are not Windows'
for dll in ADVAPI32.dll KERNEL32.dll msvcrt.dll ole32.dll SHELL32.dll USER32.dll VERSION.dll \
           Comctl32.DLL gdi32 WINSPOOL.DRV; do
    check "$dll is a system DLL" is_system_dll "$dll"
done
for dll in libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll VCRUNTIME140.dll MSVCP140.dll \
           ucrtbase.dll api-ms-win-crt-runtime-l1-1-0.dll kernel32x.dll user.dll 32.dll TVex.DLL \
           "user32.dll shell32.dll" "" .dll; do
    refute "'$dll' is not a system DLL" is_system_dll "$dll"
done
check "an all-system import list passes" check_imports KERNEL32.dll USER32.dll msvcrt.dll
expect "an offender is named and fails the check" \
    "$(check_imports KERNEL32.dll libstdc++-6.dll USER32.dll; echo "rc=$?")" \
    "FAIL: imports libstdc++-6.dll, which is not a Windows system DLL
rc=1"

# ---- figures: numeric order, the median of an even count, min and max
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '%s\n' 100 9 10 > "$scratch/odd"
printf '%s\n' 136 64 43 135 > "$scratch/even"
printf '' > "$scratch/empty"
expect "stats of an odd count" "$(stats "$scratch/odd")" "10.0 9.0 100.0"
expect "stats of an even count" "$(stats "$scratch/even")" "99.5 43.0 136.0"
refute "stats of no numbers" stats "$scratch/empty"
expect "ratio" "$(ratio 136 64.5)" "2.11"
expect "ratio over zero" "$(ratio 1 0)" "n/a"

# ---- the time of day, 24-hour and 12-hour clocks
expect "24-hour" "$(seconds_of_day 15:04:05)" 54245
expect "PM" "$(seconds_of_day '3:04:05 PM')" 54245
expect "12 AM is midnight" "$(seconds_of_day '12:00:01 AM')" 1
expect "12 PM is noon" "$(seconds_of_day '12:00:01 PM')" 43201
expect "a.m. with dots" "$(seconds_of_day '9:30:00 a.m.')" 34200
for bad in '13:00:00 PM' '0:00:00 AM' 25:00:00 12:60:00 '3:04 PM' 3:04:05x; do
    refute "'$bad' is no time of day" seconds_of_day "$bad"
done

# ---- the marker holds the run's local date and time, in any locale's date order
export TZ=Asia/Kolkata   # half-hour offset: a UTC/local mix-up can't pass
start=$(date -d '2026-12-08 15:41:23' +%s) end=$((start + 1))
us() { echo "$(date -d "@$1" '+%-m/%-d/%Y %-I:%M:%S %p') by TarvexActiveXInstaller"; }
de() { echo "$(date -d "@$1" '+%d.%m.%Y %H:%M:%S') by TarvexActiveXInstaller"; }
check "US marker at the start" marker_from_run "$(us "$start")" "$start" "$end"
check "German marker at the end" marker_from_run "$(de "$end")" "$start" "$end"
check "a second of slack after the end" marker_from_run "$(de $((end + 1)))" "$start" "$end"
refute "two seconds after the end" marker_from_run "$(de $((end + 2)))" "$start" "$end"
refute "the day before, same time" marker_from_run "$(us $((start - 86400)))" "$start" "$end"
refute "UTC instead of local time" marker_from_run \
    "$(TZ=UTC date -d "@$start" '+%d.%m.%Y %H:%M:%S') by TarvexActiveXInstaller" "$start" "$end"
refute "another writer" marker_from_run "$(de "$start" | sed 's/by .*/by Someone/')" "$start" "$end"
refute "trailing text" marker_from_run "$(de "$start")!" "$start" "$end"
refute "an absent marker" marker_from_run "" "$start" "$end"
# A run across midnight: the date must go with the time.
start=$(date -d '2026-12-31 23:59:59' +%s) end=$((start + 2))
check "after midnight, the new day" marker_from_run "$(de $((start + 1)))" "$start" "$end"
refute "after midnight with the old day's date" marker_from_run \
    "31.12.2026 00:00:00 by TarvexActiveXInstaller" "$start" "$end"

# ---- the soak: each misbehaviour of the program is caught and named
unset TZ
CONTROL=
now_marker() { echo "$(date '+%-m/%-d/%Y %-I:%M:%S %p') by TarvexActiveXInstaller"; }
place_control() { CONTROL=$1; }
read_marker() { cat "$scratch/marker" 2>/dev/null; }
delete_marker() { rm -f "$scratch/marker"; }
# The program as MODEL says; failing runs run in a subshell, so the marker is a file.
run_program() {
    case $CONTROL/$MODEL in
    good/good-run-fails) now_marker > "$scratch/marker"; return 1 ;;
    good/no-marker) return 0 ;;
    good/*) now_marker > "$scratch/marker"; return 0 ;;
    fail/failure-writes-marker) now_marker > "$scratch/marker"; return 1 ;;
    fail/failure-exits-0) return 0 ;;
    fail/*) return 1 ;;
    esac
}
answer_error_box() {
    case $MODEL in
    no-box) echo "boxhelper: no box"; return 1 ;;
    one-space) echo "Can't register Tarvex ActiveX control, result 5!" ;;
    *) echo "$SOAK_ERROR_TEXT" ;;
    esac
}

soak_case() {  # soak_case MODEL MESSAGE: a soak of 4 runs must fail naming MESSAGE
    local out rc
    MODEL=$1
    out=$(soak 4); rc=$?
    [ $rc -ne 0 ] && grep -qF "$2" <<< "$out" ||
        { echo "FAIL: soak with $1: rc=$rc, no '$2' in:"; echo "$out"; failures=$((failures + 1)); }
}
MODEL=sound
out=$(soak 4); rc=$?
expect "a sound program's soak" "$rc $(grep -c 'soak run' <<< "$out")" "0 0"
expect "its summary" "$(tail -1 <<< "$out" | sed 's/ in [0-9]* s:/:/; s/ marker .*//')" \
    "soak: 4 runs (2 good, 2 failing): 0 mismatches; final"
soak_case good-run-fails "soak run 3: good control: exit code 1, expected 0"
soak_case no-marker "soak run 1: good control: the marker '' does not hold"
soak_case failure-exits-0 "soak run 2: failing control: exit code 0, expected 1"
soak_case failure-writes-marker "soak run 2: failing control: the marker changed"
soak_case failure-writes-marker "soak run end: the final marker"
soak_case no-box "soak run 2: failing control: no error box answered: boxhelper: no box"
soak_case one-space "soak run 4: failing control: box text"

if [ $failures -eq 0 ]; then echo "bench helpers: all tests passed"; else echo "bench helpers: $failures failed"; fi
[ $failures -eq 0 ]
