#!/usr/bin/env bash
# check-package.sh PACKAGE EXE DLL COMPANY WINDRES
# check-package.sh --broken PACKAGE EXE DLL COMPANY WINDRES WORKDIR
#
# Checks the control's installation package without installing it, for what
# Wine's msiexec would let pass (it runs a misplaced deferred action not at
# all and still reports success, commits an earlier product's removal at once,
# restores no file): the package's tables read with msiinfo, its payloads
# unpacked with msiextract and compared with the build's EXE and DLL. WINDRES,
# the resource compiler of the EXE's architecture, reads the files' versions.
# Prints one line per check; fails if any check fails.
#
# --broken makes, in WORKDIR, copies of PACKAGE each broken in one column that
# decides how an installation, an update or a rollback goes, and succeeds only
# when the checks reject each of them for what was broken.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/checks.sh"

UPGRADE_CODE='{8C2E6B1A-4F3D-4B7E-9A51-2D6E0C7F3B94}'

# table NAME: the table's rows, tab-separated, without msiinfo's three header lines.
table() { msiinfo export "$PKG" "$1" | tail -n +4 | tr -d '\r'; }
# field TABLE KEY COLUMN: a column of the row whose first column is KEY.
field() { table "$1" | awk -F'\t' -v key="$2" -v col="$3" '$1 == key { print $col; exit }'; }
prop() { field Property "$1" 2; }
seq_of() { field InstallExecuteSequence "$1" 3; }
condition_of() { field InstallExecuteSequence "$1" 2; }
# same_nonempty A B: A is B, and B names a version.
same_nonempty() { [ -n "${2%%$'\t'*}" ] && [ "$1" = "$2" ]; }
# between A B C: all three are numbers and A < B < C.
between() { [ -n "$1" ] && [ -n "$2" ] && [ -n "$3" ] && [ "$1" -lt "$2" ] && [ "$2" -lt "$3" ]; }

# The program's file version as a.b.c.d.
file_version() { version_columns "$1" | cut -f1; }

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

# The files and where they go; sets DLL_FILE_KEY, DLL_COMPONENT and EXE_FILE_KEY.
check_files() {
    DLL_FILE_KEY=$(table File | awk -F'\t' '$3 == "TVex.DLL" || $3 ~ /\|TVex\.DLL$/ { print $1; exit }')
    EXE_FILE_KEY=$(table File | awk -F'\t' '$3 ~ /(^|\|)TarvexActiveXInstaller\.exe$/ { print $1; exit }')
    DLL_COMPONENT=$(field File "$DLL_FILE_KEY" 2)
    check "TVex.DLL is installed into SystemFolder" [ "$(field Component "${DLL_COMPONENT:-?}" 3)" = SystemFolder ]
    check "TarvexActiveXInstaller.exe is installed" [ -n "$EXE_FILE_KEY" ]
}

# The custom actions as the package means them: ACTION TYPE SOURCE TARGET.
# Types: 51 sets a property; 3090 runs the installed program, deferred
# (1024), not impersonated (2048), its exit code checked and waited for; 3186
# the tool a property names, the same but ignoring its exit code (64); 3442
# that, as a rollback action (256).
expected_custom_actions() {
    local tool_args='/u /s "[SystemFolder]TVex.DLL"' view=""
    # The 64-bit variant's test package runs a 64-bit reg.exe: it names the view.
    [ "$(pe_magic "$EXE")" = 020b ] && view=" /reg:32"
    printf '%s\t%s\t%s\t%s\n' \
        FindRegistrationTool 51 REGSVR32 '[SystemFolder]regsvr32.exe' \
        FindRegistryTool 51 REGTOOL '[SystemFolder]reg.exe' \
        UnregisterControl 3186 REGSVR32 "$tool_args" \
        RollbackRegistration 3442 REGSVR32 "$tool_args" \
        RollbackMarker 3442 REGTOOL "delete \"HKLM\\Software\\$COMPANY\\Tarvex_cl_V4\" /f$view" \
        RegisterControl 3090 "$EXE_FILE_KEY" "" \
        RestoreRegistration 3442 REGSVR32 '/s "[SystemFolder]TVex.DLL"' \
        RegisterAfterEarlierRemoved 3090 "$EXE_FILE_KEY" ""
}

# Where each custom action runs and when: ACTION SEQUENCE CONDITION. $Control
# is the control component's action: 3 installed or repaired, 2 removed, by
# product or by feature.
FIRST_INSTALL='$Control=3 AND NOT Installed AND NOT EARLIER_BUILD_FOUND'
expected_custom_sequence() {
    printf '%s\t%s\t%s\n' \
        FindRegistrationTool 1010 "" \
        FindRegistryTool 1011 "" \
        UnregisterControl 3490 '$Control=2 AND NOT UPGRADINGPRODUCTCODE' \
        RollbackRegistration 4005 "$FIRST_INSTALL" \
        RollbackMarker 4006 "$FIRST_INSTALL AND NOT MARKER_BEFORE" \
        RegisterControl 4010 '$Control=3' \
        RestoreRegistration 6490 '$Control=3 AND EARLIER_BUILD_FOUND' \
        RegisterAfterEarlierRemoved 6520 '$Control=3 AND EARLIER_BUILD_FOUND'
}

pe_magic() { od -An -tx1 -j "$(($(od -An -tu4 -j 60 -N 4 "$1") + 24))" -N 2 "$1" | awk '{ print $2 $1 }'; }

check_custom_actions() {
    local action type source target sequence condition
    while IFS=$'\t' read -r action type source target; do
        check "$action: type $type, $source, '$target'" \
            [ "$(table CustomAction | awk -F'\t' -v a="$action" '$1 == a { print $2 "\t" $3 "\t" $4 }')" = \
              "$type"$'\t'"$source"$'\t'"$target" ]
    done < <(expected_custom_actions)
    check "no other custom action" [ "$(table CustomAction | wc -l)" -eq "$(expected_custom_actions | wc -l)" ]
    while IFS=$'\t' read -r action sequence condition; do
        check "$action at $sequence${condition:+ if $condition}" \
            [ "$(seq_of "$action")"$'\t'"$(condition_of "$action")" = "$sequence"$'\t'"$condition" ]
    done < <(expected_custom_sequence)
}

# The order that the design rests on, whatever the numbers.
check_order() {
    check "the tools are found after CostFinalize and before InstallInitialize" \
        between "$(seq_of CostFinalize)" "$(seq_of FindRegistryTool)" "$(seq_of InstallInitialize)"
    check "the unregistration runs before RemoveFiles" \
        between "$(seq_of InstallInitialize)" "$(seq_of UnregisterControl)" "$(seq_of RemoveFiles)"
    check "the program runs after InstallFiles and before InstallExecute (InstallFiles $(seq_of InstallFiles), RegisterControl $(seq_of RegisterControl), InstallExecute $(seq_of InstallExecute))" \
        between "$(seq_of InstallFiles)" "$(seq_of RegisterControl)" "$(seq_of InstallExecute)"
    check "the registration's rollback precedes it" \
        between "$(seq_of InstallFiles)" "$(seq_of RollbackRegistration)" "$(seq_of RegisterControl)"
    check "... and so does the marker's" between "$(seq_of InstallFiles)" "$(seq_of RollbackMarker)" "$(seq_of RegisterControl)"
    check "the earlier product is removed after the new one is registered, inside the transaction (InstallExecute $(seq_of InstallExecute), RemoveExistingProducts $(seq_of RemoveExistingProducts), InstallFinalize $(seq_of InstallFinalize))" \
        between "$(seq_of InstallExecute)" "$(seq_of RemoveExistingProducts)" "$(seq_of InstallFinalize)"
    check "nothing comes between InstallExecute and RemoveExistingProducts (ICE63)" \
        [ "$(table InstallExecuteSequence | awk -F'\t' -v a="$(seq_of InstallExecute)" -v b="$(seq_of RemoveExistingProducts)" \
             '$3 > a && $3 < b' | wc -l)" -eq 0 ]
    check "the rollback that registers the earlier control again precedes that removal" \
        between "$(seq_of RegisterControl)" "$(seq_of RestoreRegistration)" "$(seq_of InstallExecute)"
    check "the control is registered again after that removal" \
        between "$(seq_of RemoveExistingProducts)" "$(seq_of RegisterAfterEarlierRemoved)" "$(seq_of InstallFinalize)"
    check "the marker as it was before is looked up first (AppSearch $(seq_of AppSearch))" \
        between 0 "$(seq_of AppSearch)" "$(seq_of CostInitialize)"
    check "... in HKLM\\Software\\$COMPANY\\Tarvex_cl_V4, Registered, raw, the 32-bit view" \
        [ "$(table RegLocator | awk -F'\t' -v s="$(field AppSearch MARKER_BEFORE 2)" '$1 == s { print $2 "\t" $3 "\t" $4 "\t" $5 }')" = \
          "2"$'\t'"Software\\$COMPANY\\Tarvex_cl_V4"$'\t'"Registered"$'\t'"2" ]
}

# SharedDllRefCount (8) for the system folder's DLL, not permanent (16): the
# last setup that installed it takes it away.
check_components() {
    check "the control's component counts the DLL's users and is not permanent (Attributes $(field Component "${DLL_COMPONENT:-?}" 4))" \
        [ "$(field Component "${DLL_COMPONENT:-?}" 4)" = 8 ]
    check "the program's component is a plain one" [ "$(field Component "$(field File "${EXE_FILE_KEY:-?}" 2)" 4)" = 0 ]
}

# A file's FILEVERSION and first translation's language, as File.Version and File.Language write them.
version_columns() {
    "$WINDRES" -J coff -i "$1" -O rc 2>/dev/null | awk '
        /^ *FILEVERSION / { gsub(/[ ,]+/, " "); v = $2 "." $3 "." $4 "." $5 }
        /VALUE "Translation"/ && l == "" { gsub(/[ ,]+/, " "); l = $3 }
        END { print v "\t" l }' | { IFS=$'\t' read -r v l; printf '%s\t%s' "$v" "$((${l:-0}))"; }
}

# Versioned payloads: the file versioning rules then replace an older file
# in place and keep a newer one. Empty, Windows treats them as unversioned.
check_file_versions() {
    local key file columns
    for key in "$DLL_FILE_KEY:$DLL" "$EXE_FILE_KEY:$EXE"; do
        file=${key#*:} key=${key%%:*}
        columns=$(version_columns "$file")
        check "$(field File "$key" 3 | sed 's/.*|//') has File.Version and File.Language '${columns/$'\t'/ }' of its version resource" \
            same_nonempty "$(field File "$key" 5)"$'\t'"$(field File "$key" 6)" "$columns"
    done
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
    check_custom_actions
    check_order
    check_components
    check_file_versions
    check_marker
    check_payloads
    checks_summary
}

# The breakages, each as NAME, msibuild's query, and the check that must
# reject it: the registration after InstallFinalize (where Wine never runs
# it), the earlier product removed before the new one is installed (1401:
# outside the transaction), an unversioned control (an older versioned
# TVex.DLL would be kept), and a rollback action turned immediate (type 2162,
# as wixl writes Execute="rollback").
breakages() {
    printf '%s\t%s\t%s\n' \
        registration-after-finalize \
        "UPDATE InstallExecuteSequence SET Sequence = 6601 WHERE Action = 'RegisterControl'" \
        'FAIL: the program runs after InstallFiles and before InstallExecute' \
        removal-before-installation \
        "UPDATE InstallExecuteSequence SET Sequence = 1401 WHERE Action = 'RemoveExistingProducts'" \
        'FAIL: the earlier product is removed after the new one is registered, inside the transaction' \
        unversioned-control \
        "UPDATE File SET Version = '', Language = '' WHERE File = 'ControlDll'" \
        'FAIL: TVex.DLL has File.Version and File.Language' \
        immediate-rollback \
        "UPDATE CustomAction SET Type = 2162 WHERE Action = 'RollbackRegistration'" \
        'FAIL: RollbackRegistration: type 3442'
}

check_broken() {
    local pkg=$1 exe=$2 dll=$3 company=$4 windres=$5 work=$6 name query expected broken output status=0
    mkdir -p "$work"
    while IFS=$'\t' read -r name query expected; do
        broken=$work/$name.msi
        cp "$pkg" "$broken" && msibuild "$broken" -q "$query" || { echo "FAIL: could not break $name"; status=1; continue; }
        output=$(check_package "$broken" "$exe" "$dll" "$company" "$windres")
        if grep -q "^$expected" <<< "$output"; then
            echo "ok: the package broken by $name is rejected:"
            grep '^FAIL' <<< "$output" | sed 's/^/  /'
        else
            printf '%s\n' "$output" | sed 's/^/  /'
            echo "FAIL: the package broken by $name passed the check that was to reject it ($expected)"
            status=1
        fi
    done < <(breakages)
    return $status
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    if [ "${1:-}" = --broken ] && [ $# -eq 7 ]; then
        shift
        check_broken "$@"
    elif [ $# -eq 5 ]; then
        check_package "$@"
    else
        echo "usage: $0 PACKAGE EXE DLL COMPANY WINDRES | $0 --broken PACKAGE EXE DLL COMPANY WINDRES WORKDIR" >&2
        exit 2
    fi
fi
