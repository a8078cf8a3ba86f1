#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix named by WINEPREFIX (the test's
# fixture creates it). Quiet, no crash debugger, no Mono/Gecko prompts.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
exec wine "$@"
