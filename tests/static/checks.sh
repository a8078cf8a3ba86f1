# shellcheck shell=bash
# How the file checks report: one line per check, "ok: ..." or "FAIL: ...",
# and a count of the failures; and the hardening that every PE file of ours
# has. Sourced by check-exe.sh and check-package.sh.

failures=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

# checks_summary: the closing line; false if any check failed.
checks_summary() {
    [ $failures -eq 0 ] && echo "all checks passed" || echo "$failures checks failed"
    [ $failures -eq 0 ]
}

# has_flag HEX BIT: the bit is set in the hexadecimal field.
has_flag() { (( 16#$1 & $2 )); }

no_seh_registration() { ! grep -qE ',%fs:(0x0)?$' <<< "$CODE"; }

# check_hardening OBJDUMP FILE: DEP and ASLR; 32-bit code also registers no
# SEH handler and says so (NO_SEH, under which Windows would refuse a handler
# the file registered itself), 64-bit code takes high-entropy addresses.
# Leaves the disassembly in CODE.
check_hardening() {
    local header flags
    header=$("$1" -p "$2") || { bad "$1 cannot read $2"; return; }
    CODE=$("$1" -d "$2")
    flags=$(awk '$1 == "DllCharacteristics" { print $2; exit }' <<< "$header")
    check "DllCharacteristics $flags: NX_COMPAT (DEP)" has_flag "$flags" 0x100
    check "DllCharacteristics $flags: DYNAMIC_BASE (ASLR)" has_flag "$flags" 0x40
    if [ "$(awk '$1 == "Magic" { print $2; exit }' <<< "$header")" = 010b ]; then
        check "DllCharacteristics $flags: NO_SEH" has_flag "$flags" 0x400
        check "no SEH handler registered (no store to %fs:0)" no_seh_registration
    else
        check "DllCharacteristics $flags: HIGH_ENTROPY_VA" has_flag "$flags" 0x20
    fi
}
