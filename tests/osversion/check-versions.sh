#!/usr/bin/env bash
# check-versions.sh PREFIX win64|win32 32|64 OSNAME_EXE
# Makes Wine report each Windows version in turn (HKCU\Software\Wine, Version),
# runs the osname helper (a program of the given bitness) under it and compares
# its line with the expected one. The Version value is removed at the end, also
# when a check fails.
set -uo pipefail
prefix=$1 kind=$2 bits=$3 osname=$4
export WINEPREFIX=$prefix
source "$(dirname "$0")/../wine-machine.sh"
scenarios_run_here "$bits" || { echo "SKIPPED: $SCENARIOS_REASON"; exit 77; }
wine_run=("$(dirname "$0")/../wine-run.sh" "$bits")

# Version, then the name and code the program must give for what Wine 8.0 reports.
# Wine 8.0 has win7 and win2008r2 swapped: win7 reports a server (product type 3),
# win2008r2 a workstation. Like Windows, Wine reports 6.2 for win81 and win10 to a
# program whose manifest does not declare those systems.
expected=(
    "winxp|XP|7"
    "win2003|Server 2003|10"
    "vista|Vista|12"
    "win2008|Server 2008|13"
    "win7|Server 2008 R2|14"
    "win2008r2|7|15"
    "win8|8|17"
    "win81|8|17"
    "win10|8|17"
)
# IsWow64|Is64BitProcessor: a 32-bit process on 64-bit Windows runs under
# WOW64 and sees an x86 processor; a 64-bit process sees the AMD64 one.
case $kind/$bits in
win64/32) suffix=" (64bit)" bitness="true|false" ;;
win64/64) suffix=" (64bit)" bitness="false|true" ;;
*) suffix="" bitness="false|false" ;;
esac

wine_reg() { timeout 60 "${wine_run[@]}" reg "$@" >/dev/null 2>&1; }
remove_version() { wine_reg delete 'HKCU\Software\Wine' /v Version /f || true; }
trap remove_version EXIT

failures=0
for row in "${expected[@]}"; do
    IFS='|' read -r version name code <<<"$row"
    want="Windows $name$suffix|$code|$bitness"
    if ! wine_reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f; then
        echo "$kind $version: FAILED to set Wine's Version"; failures=$((failures + 1)); continue
    fi
    got=$(timeout 60 "${wine_run[@]}" "$osname" | tr -d '\r')
    status=$?
    if [ $status -eq 124 ]; then
        echo "$kind $version: FAILED, osname did not end within 60 s"; failures=$((failures + 1))
    elif [ "$got" = "$want" ]; then
        echo "$kind $version: $got"
    else
        echo "$kind $version: FAILED, got '$got' (exit $status), expected '$want'"; failures=$((failures + 1))
    fi
done

[ $failures -eq 0 ] || { echo "$failures of ${#expected[@]} versions gave the wrong answer"; exit 1; }
