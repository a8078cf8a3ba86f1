#!/usr/bin/env bash
# check-package.sh PACKAGE EXE DLL COMPANY WINDRES
# check-package.sh --misplaced EXE DLL COMPANY WINDRES WORKDIR
#
# Checks the control's installation package without installing it, for what
# Wine's msiexec would let pass (it runs a misplaced deferred action not at
# all and still reports success): the package's tables read with msiinfo, its
# payloads unpacked with msiextract and compared with the build's EXE and DLL.
# WINDRES, the resource compiler of the EXE's architecture, reads the EXE's
# file version. Prints one line per check; fails if any check fails.
#
# --misplaced builds, in WORKDIR, a package whose registration runs after
# InstallFinalize and succeeds only when the checks reject it.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/checks.sh"

UPGRADE_CODE='{8C2E6B1A-4F3D-4B7E-9A51-2D6E0C7F3B94}'
# Custom action type bits (msidbCustomActionType...).
EXE_FROM_INSTALLED_FILE=18 EXE_NAMED_BY_PROPERTY=50 SET_PROPERTY=51
CONTINUE=64 ASYNC=128 ROLLBACK=256 COMMIT=512 IN_SCRIPT=1024 NO_IMPERSONATE=2048

# table NAME: the table's rows, tab-separated, without msiinfo's three header lines.
table() { msiinfo export "$PKG" "$1" | tail -n +4 | tr -d '\r'; }
# field TABLE KEY COLUMN: a column of the row whose first column is KEY.
field() { table "$1" | awk -F'\t' -v key="$2" -v col="$3" '$1 == key { print $col; exit }'; }
prop() { field Property "$1" 2; }
seq_of() { field InstallExecuteSequence "$1" 3; }
condition_of() { field InstallExecuteSequence "$1" 2; }
# has_bits TYPE BITS / lacks_bits TYPE BITS
has_bits() { [ $(($1 & $2)) -eq "$2" ]; }
lacks_bits() { [ $(($1 & $2)) -eq 0 ]; }
# between A B C: all three are numbers and A < B < C.
between() { [ -n "$1" ] && [ -n "$2" ] && [ -n "$3" ] && [ "$1" -lt "$2" ] && [ "$2" -lt "$3" ]; }

# The program's file version as a.b.c.d.
file_version() {
    "$WINDRES" -J coff -i "$1" -O rc 2>/dev/null |
        sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' | head -n 1
}

check_summary_and_properties() {
    check "Intel template: one package for 32- and 64-bit Windows" \
        [ "$(msiinfo suminfo "$PKG" | sed -n 's/^Template: //p' | tr -d '\r')" = "Intel;1033" ]
    check "per machine (ALLUSERS 1)" [ "$(prop ALLUSERS)" = 1 ]
    check "Manufacturer is the program's CompanyName, $COMPANY" [ "$(prop Manufacturer)" = "$COMPANY" ]
    local version
    version=$(file_version "$EXE")
    check "ProductVersion $(prop ProductVersion) is the program's file version ${version:-(none)}" \
        [ "$(prop ProductVersion)" = "${version:-none}" ]
    check "UpgradeCode $UPGRADE_CODE" [ "$(prop UpgradeCode)" = "$UPGRADE_CODE" ]
}

# The files and where they go; sets DLL_COMPONENT and EXE_FILE_KEY.
check_files() {
    local dll_key
    dll_key=$(table File | awk -F'\t' '$3 == "TVex.DLL" || $3 ~ /\|TVex\.DLL$/ { print $1; exit }')
    EXE_FILE_KEY=$(table File | awk -F'\t' '$3 ~ /(^|\|)TarvexActiveXInstaller\.exe$/ { print $1; exit }')
    DLL_COMPONENT=$(field File "$dll_key" 2)
    check "TVex.DLL is installed into SystemFolder" [ "$(field Component "${DLL_COMPONENT:-?}" 3)" = SystemFolder ]
    check "TarvexActiveXInstaller.exe is installed" [ -n "$EXE_FILE_KEY" ]
}

check_registration() {
    local rows action type args
    rows=$(table CustomAction | awk -F'\t' -v src="${EXE_FILE_KEY:-?}" '$3 == src')
    check "one custom action runs the program" [ "$(grep -c . <<< "$rows")" -eq 1 ]
    IFS=$'\t' read -r action type _ args _ <<< "$rows"
    type=${type:-0}
    check "it runs the installed EXE (type $type)" [ $((type & 63)) -eq $EXE_FROM_INSTALLED_FILE ]
    check "it is deferred, and runs not as rollback or commit" \
        [ $((type & (IN_SCRIPT | ROLLBACK | COMMIT))) -eq $IN_SCRIPT ]
    check "it is not impersonated: elevated, as SYSTEM on Windows" has_bits "$type" $NO_IMPERSONATE
    check "its exit code is checked, and waited for" lacks_bits "$type" $((CONTINUE | ASYNC))
    check "it starts the program without arguments" [ -z "$args" ]
    check "it runs after InstallFiles and before InstallFinalize (InstallFiles $(seq_of InstallFiles), $action $(seq_of "$action"), InstallFinalize $(seq_of InstallFinalize))" \
        between "$(seq_of InstallFiles)" "$(seq_of "$action")" "$(seq_of InstallFinalize)"
    check "it runs on installation and repair, not on removal" [ "$(condition_of "$action")" = 'NOT REMOVE~="ALL"' ]
}

check_unregistration() {
    local action type property setter
    IFS=$'\t' read -r action type property _ < <(table CustomAction |
        awk -F'\t' '$4 == "/u /s \"[SystemFolder]TVex.DLL\""')
    type=${type:-0}
    check "a custom action runs the registration tool with /u /s on [SystemFolder]TVex.DLL" \
        [ $((type & 63)) -eq $EXE_NAMED_BY_PROPERTY ]
    setter=$(table CustomAction | awk -F'\t' -v p="$property" -v t=$SET_PROPERTY \
        '$3 == p && $2 % 64 == t && $4 == "[SystemFolder]regsvr32.exe" { print $1; exit }')
    check "the tool is the system's own, in SystemFolder, found after CostFinalize and before InstallInitialize" \
        between "$(seq_of CostFinalize)" "$(seq_of "$setter")" "$(seq_of InstallInitialize)"
    check "the unregistration is deferred and not impersonated" has_bits "$type" $((IN_SCRIPT | NO_IMPERSONATE))
    check "a control that can't be unregistered doesn't fail the removal" has_bits "$type" $CONTINUE
    check "it runs before RemoveFiles" between "$(seq_of InstallInitialize)" "$(seq_of "$action")" "$(seq_of RemoveFiles)"
    check "it runs on removal only" [ "$(condition_of "$action")" = 'REMOVE~="ALL"' ]
}

# The marker is the program's: the package only names it, for its removal.
check_marker() {
    local expected="2"$'\t'"Software\\$COMPANY\\Tarvex_cl_V4"$'\t'"Registered"$'\t'"$DLL_COMPONENT"
    check "the one registry row is the marker, HKLM\\Software\\$COMPANY\\Tarvex_cl_V4 Registered, removed with the control" \
        [ "$(table Registry | cut -f2-4,6)" = "$expected" ]
    check "the package never writes the marker" [ "$(condition_of WriteRegistryValues)" = 0 ]
}

check_payloads() {
    local unpacked name source found
    unpacked=$(mktemp -d)
    if ! msiextract -C "$unpacked" "$PKG" >/dev/null 2>&1; then
        bad "msiextract can't unpack $PKG"
    else
        for name in TVex.DLL TarvexActiveXInstaller.exe; do
            source=$DLL
            [ "$name" = TVex.DLL ] || source=$EXE
            found=$(find "$unpacked" -type f -name "$name" | head -n 1)
            check "$name is the build's, byte for byte ($source)" cmp -s "${found:-/nonexistent}" "$source"
        done
    fi
    rm -rf "$unpacked"
}

check_package() {
    PKG=$1 EXE=$2 DLL=$3 COMPANY=$4 WINDRES=$5
    [ -f "$PKG" ] || { bad "no package $PKG"; return 1; }
    echo "package: $PKG"
    check_summary_and_properties
    check_files
    check_registration
    check_unregistration
    check_marker
    check_payloads
    checks_summary
}

# A package whose registration runs after InstallFinalize must be rejected.
check_misplaced() {
    local exe=$1 dll=$2 company=$3 windres=$4 work=$5 wxs output
    mkdir -p "$work"
    wxs=$work/misplaced.wxs
    sed 's/<Custom Action="RegisterControl" Sequence="[0-9]*"/<Custom Action="RegisterControl" Sequence="6601"/' \
        "$here/../../packaging/TarvexActiveX.wxs" > "$wxs"
    grep -q 'Sequence="6601"' "$wxs" || { echo "FAIL: could not move the registration in $wxs"; return 1; }
    bash "$here/../../packaging/build-package.sh" --wxs "$wxs" --exe "$exe" --dll "$dll" --company "$company" \
        --windres "$windres" --out "$work/misplaced.msi" || return 1
    output=$(check_package "$work/misplaced.msi" "$exe" "$dll" "$company" "$windres")
    if grep -q '^FAIL: it runs after InstallFiles and before InstallFinalize' <<< "$output"; then
        echo "ok: the package with its registration after InstallFinalize is rejected:"
        grep '^FAIL' <<< "$output" | sed 's/^/  /'
        return 0
    fi
    printf '%s\n' "$output"
    echo "FAIL: the package with its registration after InstallFinalize passed the checks"
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    if [ "${1:-}" = --misplaced ] && [ $# -eq 6 ]; then
        shift
        check_misplaced "$@"
    elif [ $# -eq 5 ]; then
        check_package "$@"
    else
        echo "usage: $0 PACKAGE EXE DLL COMPANY WINDRES | $0 --misplaced EXE DLL COMPANY WINDRES WORKDIR" >&2
        exit 2
    fi
fi
