#!/usr/bin/env bash
# What this machine's Wine can run. Every script that starts a Windows program
# asks here: some kernels run no 32-bit code at all, and then Wine's 32-bit
# loader (an i386 program) fails, and with it every 32-bit Windows program and
# the `wine` command itself. 64-bit programs still run through the 64-bit loader.
#
# Sourced: wine32_available (sets WINE32_REASON), scenarios_run_here 32|64
#          (sets SCENARIOS_REASON), wine_loader 32|64.
# Run:     wine-machine.sh can-run-32   exit 0 if 32-bit programs run here, else 1
#          wine-machine.sh explain      one line saying what runs here and why
#
# TARVEX_WINE32=off answers no on any machine, to try the other path.

WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64

# True when 32-bit Windows programs can run; WINE32_REASON says why or why not.
wine32_available() {
    local out
    if [ "${TARVEX_WINE32:-}" = off ]; then
        WINE32_REASON="TARVEX_WINE32=off says to use no 32-bit Wine"
        return 1
    fi
    if [ ! -x "$WINE32_LOADER" ]; then
        WINE32_REASON="Wine's 32-bit loader $WINE32_LOADER is not installed"
        return 1
    fi
    # Trying the loader is the only sure test: the kernel may refuse i386 code.
    # Without the caller's prefix, which the loader would check too.
    local rc=0
    out=$(env -u WINEPREFIX -u WINEARCH timeout 20 "$WINE32_LOADER" --version 2>&1) || rc=$?
    if [ $rc -ne 0 ]; then
        WINE32_REASON="$WINE32_LOADER --version failed with exit code $rc (${out:-no output})"
        if [ $rc -eq 126 ] || [[ $out == *"Exec format error"* ]]; then
            WINE32_REASON="the kernel runs no 32-bit code: $WINE32_REASON"
        fi
        return 1
    fi
    WINE32_REASON="$WINE32_LOADER runs ($out)"
    return 0
}

# scenarios_run_here BITS: whether the scenario suites (end-to-end, package,
# version emulation) of a build of that bitness run on this machine. Each
# scenario runs once per machine: in the product's 32-bit build where 32-bit
# programs run, else in the 64-bit variant's. SCENARIOS_REASON says why not.
scenarios_run_here() {
    if [ "$1" = 32 ]; then
        wine32_available && return 0
        # shellcheck disable=SC2034  # for the scripts that source this
        SCENARIOS_REASON=$WINE32_REASON
        return 1
    fi
    wine32_available || return 0
    # shellcheck disable=SC2034  # for the scripts that source this
    SCENARIOS_REASON="32-bit programs run here, and the product's own 32-bit build runs these scenarios ($WINE32_REASON)"
    return 1
}

# The command that runs a Windows program of the given bitness. 64-bit
# programs always go to the 64-bit loader, which works on every machine;
# `wine` would pick the 32-bit one first.
wine_loader() {
    if [ "$1" = 64 ]; then echo "$WINE64_LOADER"; else echo wine; fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    can-run-32) wine32_available ;;
    explain)
        if wine32_available; then
            echo "wine: 32-bit and 64-bit Windows programs run here ($WINE32_REASON)"
        else
            echo "wine: only 64-bit Windows programs run here, so the 32-bit suites are skipped: $WINE32_REASON"
        fi
        ;;
    *) echo "usage: $0 can-run-32|explain" >&2; exit 2 ;;
    esac
fi
