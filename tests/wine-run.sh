#!/usr/bin/env bash
# wine-run.sh 32|64 PROGRAM ARG...: runs a Windows program of that bitness
# under Wine in the prefix named by WINEPREFIX (the test's fixture creates it).
# Quiet, no crash debugger, no Mono/Gecko prompts. Where 32-bit programs can't
# run, a 32-bit one is skipped (exit 77, ctest's skip code) with the reason.
set -euo pipefail
source "$(dirname "$0")/wine-machine.sh"
bits=$1
shift
if [ "$bits" = 32 ] && ! wine32_available; then
    echo "SKIPPED: $WINE32_REASON"
    exit 77
fi
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
exec "$(wine_loader "$bits")" "$@"
