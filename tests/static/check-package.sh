#!/usr/bin/env bash
# check-package.sh PACKAGE EXE DLL COMPANY WINDRES ACTIONS STARTER
# check-package.sh --broken PACKAGE EXE DLL COMPANY WINDRES ACTIONS STARTER WORKDIR
#
# Checks the control's installation package without installing it, for what
# Wine's msiexec would let pass (it runs a misplaced deferred action not at
# all and still reports success, commits an earlier product's removal at once,
# restores no file, keeps no client/server split, ignores SharedDLLs counts):
# the package's tables read with msiinfo, its payloads unpacked with
# msiextract and compared with the build's EXE, DLL and STARTER (the binary
# of the service that registers the control after a restart), its custom
# actions' stream with ACTIONS, the build's DLL of them. WINDRES, the resource compiler
# of the EXE's architecture, reads the files' versions. Prints one line per
# check; fails if any check fails.
#
# --broken makes, in WORKDIR, copies of PACKAGE each broken in one column that
# decides how an installation, an update, a removal or a rollback goes, and
# succeeds only when the checks reject each of them for what was broken.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
# shellcheck source=tests/static/imports.sh
source "$here/imports.sh"
# shellcheck source=packaging/custom-actions.sh
source "$here/../../packaging/custom-actions.sh"

UPGRADE_CODE='{8C2E6B1A-4F3D-4B7E-9A51-2D6E0C7F3B94}'
# The last release whose version did not rise with its program: its program's
# file version, and its ProductVersion as FindRelatedProducts compares it.
DEPLOYED_VERSION=1.2.0.7 DEPLOYED_PRODUCT_VERSION=1.2.0
SHARED_DLLS='Software\Microsoft\Windows\CurrentVersion\SharedDLLs'

# table NAME: the table's rows, tab-separated, without msiinfo's three header
# lines; each table read once per package, into TABLES.
table() {
    [ -f "$TABLES/$1" ] || msiinfo export "$PKG" "$1" 2>/dev/null | tail -n +4 | tr -d '\r' > "$TABLES/$1"
    cat "$TABLES/$1"
}
# field TABLE KEY COLUMN: a column of the row whose first column is KEY.
field() { table "$1" | awk -F'\t' -v key="$2" -v col="$3" '$1 == key { print $col; exit }'; }
prop() { field Property "$1" 2; }
seq_of() { field InstallExecuteSequence "$1" 3; }
condition_of() { field InstallExecuteSequence "$1" 2; }
# same_nonempty A B: A is B, and B names a version.
same_nonempty() { [ -n "${2%%$'\t'*}" ] && [ "$1" = "$2" ]; }
# between A B C: all three are numbers and A < B < C.
between() { [ -n "$1" ] && [ -n "$2" ] && [ -n "$3" ] && [ "$1" -lt "$2" ] && [ "$2" -lt "$3" ]; }
# above A B: version A is above version B, field by field.
above() { [ -n "$1" ] && [ "$1" != "$2" ] && [ "$(printf '%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$1" ]; }
# starts_with TEXT PREFIX
starts_with() { [ -n "$2" ] && [ "${1#"$2"}" != "$1" ]; }
# has_word LIST WORD: WORD is one of the semicolon-separated LIST.
has_word() { [[ ";$1;" == *";$2;"* ]]; }

# A file's FILEVERSION and first translation's language, as File.Version and File.Language write them.
version_columns() {
    "$WINDRES" -J coff -i "$1" -O rc 2>/dev/null | awk '
        /^ *FILEVERSION / { gsub(/[ ,]+/, " "); v = $2 "." $3 "." $4 "." $5 }
        /VALUE "Translation"/ && l == "" { gsub(/[ ,]+/, " "); l = $3 }
        END { print v "\t" l }' | { IFS=$'\t' read -r v l; printf '%s\t%s' "$v" "$((${l:-0}))"; }
}

# The release as ProductVersion writes it: a.b.0.n is a.b.n, which FindRelatedProducts compares whole.
release_version() {
    local a b c n
    IFS=. read -r a b c n <<< "$(version_columns "$1" | cut -f1)"
    [ "$c" = 0 ] && printf '%s.%s.%s' "$a" "$b" "$n"
}

check_summary_and_properties() {
    check "Intel template: one package for 32- and 64-bit Windows" \
        [ "$(msiinfo suminfo "$PKG" | sed -n 's/^Template: //p' | tr -d '\r')" = "Intel;1033" ]
    check "per machine (ALLUSERS 1)" [ "$(prop ALLUSERS)" = 1 ]
    check "Manufacturer is the program's CompanyName, $COMPANY" [ "$(prop Manufacturer)" = "$COMPANY" ]
    RELEASE=$(release_version "$EXE")
    check "ProductVersion $(prop ProductVersion) is the program's release ${RELEASE:-(none: its third field is not 0)}" \
        [ "$(prop ProductVersion)" = "${RELEASE:-none}" ]
    check "... above the deployed 1.2.0.7 as FindRelatedProducts compares it ($DEPLOYED_PRODUCT_VERSION)" \
        above "$(prop ProductVersion)" "$DEPLOYED_PRODUCT_VERSION"
    check "the program's file version is above the deployed program's $DEPLOYED_VERSION, which an update then replaces" \
        above "$(version_columns "$EXE" | cut -f1)" "$DEPLOYED_VERSION"
    check "UpgradeCode $UPGRADE_CODE" [ "$(prop UpgradeCode)" = "$UPGRADE_CODE" ]
    check "the Restart Manager closes no user's program (MSIRESTARTMANAGERCONTROL Disable)" \
        [ "$(prop MSIRESTARTMANAGERCONTROL)" = Disable ]
    check "the installation never restarts the PC (REBOOT ReallySuppress)" [ "$(prop REBOOT)" = ReallySuppress ]
    local secure name
    secure=$(prop SecureCustomProperties)
    for name in EARLIER_BUILD_FOUND LATER_VERSION_FOUND MARKER_BEFORE CONTROL_BEFORE CONTROL_SHARED_COUNT; do
        check "$name reaches the elevated server (SecureCustomProperties)" has_word "$secure" "$name"
    done
}

# Earlier versions and other builds of this one are replaced; a later one stops the installation.
check_upgrades() {
    local a b n next
    IFS=. read -r a b n <<< "$RELEASE"
    next=$a.$b.$((n + 1))
    check "the earlier versions, 0.0.0 up to below $next, are found for their removal (Upgrade attributes 256)" \
        [ "$(table Upgrade | awk -F'\t' '$7 == "EARLIER_BUILD_FOUND" { print $2 "\t" $3 "\t" $5 }')" = \
          "0.0.0"$'\t'"$next"$'\t'"256" ]
    check "a later version, from $next on, is detected only (258)" \
        [ "$(table Upgrade | awk -F'\t' '$7 == "LATER_VERSION_FOUND" { print $2 "\t" $3 "\t" $5 }')" = \
          "$next"$'\t\t'"258" ]
    check "launch conditions: no later version, and per machine only" \
        [ "$(table LaunchCondition | cut -f1 | sort | tr '\n' '|')" = "Installed OR ALLUSERS=1|NOT LATER_VERSION_FOUND|" ]
    check "... whose message says so" grep -q 'for all users of this computer only' <<< "$(table LaunchCondition)"
    check "launch conditions are checked after what they test is found" \
        between "$(seq_of AppSearch)" "$(seq_of LaunchConditions)" "$(seq_of CostInitialize)"
}

# file_key NAME: the File table's key of the file of that name.
file_key() { table File | awk -F'\t' -v n="$1" '$3 == n || substr($3, length($3) - length(n)) == "|" n { print $1; exit }'; }
# directory_of FILE_KEY: "PARENT/DIRECTORY" of the folder the file goes to.
directory_of() {
    local directory
    directory=$(field Component "$(field File "$1" 2)" 3)
    printf '%s/%s' "$(field Directory "$directory" 2)" "$directory"
}

# The files and where they go; sets DLL_FILE_KEY, DLL_COMPONENT, EXE_FILE_KEY and STARTER_FILE_KEY.
check_files() {
    DLL_FILE_KEY=$(file_key TVex.DLL) EXE_FILE_KEY=$(file_key TarvexActiveXInstaller.exe)
    STARTER_FILE_KEY=$(file_key TarvexRegisterAtRestart.exe)
    DLL_COMPONENT=$(field File "$DLL_FILE_KEY" 2)
    check "TVex.DLL is installed into SystemFolder" [ "$(field Component "${DLL_COMPONENT:-?}" 3)" = SystemFolder ]
    check "TarvexActiveXInstaller.exe is installed into ProgramFilesFolder's INSTALLDIR" \
        [ "$(directory_of "${EXE_FILE_KEY:-?}")" = ProgramFilesFolder/INSTALLDIR ]
    check "the service's binary, TarvexRegisterAtRestart.exe, beside it (under Program Files, which only administrators can write)" \
        [ "$(directory_of "${STARTER_FILE_KEY:-?}")" = ProgramFilesFolder/INSTALLDIR ]
}

# The custom actions, as custom-actions.tsv holds them: what the package
# has must be what the table says, whole (the rules below check what the
# table must mean).
CUSTOM_ACTION_ROWS=$(custom_action_rows) || CUSTOM_ACTION_ROWS=''

# The actions after RemoveExistingProducts that run the program, and yet
# wait on the control component's action ($Control): NAME each.
reregistrations_on_control() {
    local removal action
    removal=$(seq_of RemoveExistingProducts)
    for action in $(table CustomAction | awk -F'\t' '$4 == "RunInstalledProgram" { print $1 }'); do
        [ "$(seq_of "$action")" -gt "${removal:-0}" ] && [[ $(condition_of "$action") == *'$Control'* ]] && echo "$action"
    done
    true
}

# The public properties (no lower-case letter: any command line may set
# them) that a deferred action's CustomActionData names: ACTION:[PROPERTY]
# each. A file's key ([#File]) is the file's folder, no property.
public_properties_in_data() {
    local deferred
    deferred=$(table CustomAction | awk -F'\t' 'int($2 / 1024) % 2 { print $1 }')
    table CustomAction | awk -F'\t' -v deferred="$deferred" '
        BEGIN { n = split(deferred, d, "\n"); for (i = 1; i <= n; i++) is_deferred[d[i]] = 1 }
        $2 == 51 && is_deferred[$3] {
            rest = $4
            while (match(rest, /\[[^]#!$][^]]*\]/)) {
                name = substr(rest, RSTART + 1, RLENGTH - 2)
                if (name !~ /[a-z]/) print $3 ":[" name "]"
                rest = substr(rest, RSTART + RLENGTH)
            }
        }'
}

# in_no_maintenance CONDITION: the condition holds "NOT Installed" as a term of its own, ANDed to the rest.
in_no_maintenance() { [[ $1 =~ ^(.*\ AND\ )?NOT\ Installed(\ AND\ .*)?$ && $1 != *' OR '* ]]; }

# The actions that would run an EXE as SYSTEM: NAME(TYPE) each.
exe_actions_as_system() {
    table CustomAction | awk -F'\t' '{ base = $2 % 64; deferred = int($2 / 1024) % 2; unimpersonated = int($2 / 2048) % 2 }
        (base == 2 || base == 18 || base == 34 || base == 50) && deferred && unimpersonated { print $1 "(" $2 ")" }'
}

check_custom_actions() {
    local action type source target sequence condition _
    check "custom-actions.tsv can be read" [ -n "$CUSTOM_ACTION_ROWS" ]
    while IFS=$'\t' read -r action type source target sequence condition _; do
        [ "$source" != - ] || source='(none)'
        [ "$condition" != - ] || condition=''
        check "$action: type $type, $source, '$target', as the table says" \
            [ "$(table CustomAction | awk -F'\t' -v a="$action" '$1 == a { print $2 "\t" ($3 == "" ? "(none)" : $3) "\t" $4 }')" = \
              "$type"$'\t'"$source"$'\t'"$target" ]
        check "$action at $sequence${condition:+ if $condition}, as the table says" \
            [ "$(seq_of "$action")"$'\t'"$(condition_of "$action")" = "$sequence"$'\t'"$condition" ]
    done <<< "$CUSTOM_ACTION_ROWS"
    check "no custom action that the table lacks" \
        [ "$(table CustomAction | wc -l)" -eq "$(grep -c . <<< "$CUSTOM_ACTION_ROWS")" ]
    check_custom_action_data
    check "no deferred action's CustomActionData names a public property: $(public_properties_in_data | paste -sd ' ')" \
        [ -z "$(public_properties_in_data)" ]
    check "RegisterAfterEarlierRemoved never runs in maintenance (EARLIER_BUILD_FOUND would be the command line's)" \
        in_no_maintenance "$(condition_of RegisterAfterEarlierRemoved)"
    # Base types 2, 18, 34 and 50 run an EXE; 1024 defers it, 2048 keeps it from impersonating.
    check "no custom action runs an EXE as SYSTEM (deferred, not impersonated): $(exe_actions_as_system | paste -sd ' ')" \
        [ -z "$(exe_actions_as_system)" ]
}

# What the deferred actions are told names the files and folders they are
# for: the program by its file key, the control by its own, the program's
# folder by the short name that the Directory table gives it.
check_custom_action_data() {
    local action short
    for action in $(table CustomAction | awk -F'\t' '$4 == "RunInstalledProgram" { print $1 }'); do
        check "$action runs TarvexActiveXInstaller.exe ([#$EXE_FILE_KEY])" \
            [ "$(field CustomAction "${action}Data" 4)" = "[#$EXE_FILE_KEY]" ]
    done
    check "ArrangeRegistrationAtRestart is told TVex.DLL by its file key ([#$DLL_FILE_KEY])" \
        starts_with "$(field CustomAction ArrangeRegistrationAtRestartData 4)" "[#$DLL_FILE_KEY]|"
    short=$(field Directory INSTALLDIR 3) short=${short%%|*}
    check "ExpectedShortInstallDir is the program's folder by its short name, $short" \
        [ "$(field CustomAction ExpectedShortProgramFolder 4)" = "[ProgramFilesFolder]$short\\" ]
}

# Each rollback that the table names for an action is a rollback action of
# our DLL (256, deferred, as SYSTEM), sequenced before the action: the
# script's rollback runs backwards, and reaches the rollback only after the
# action.
# rolls_back_before TYPE SEQUENCE ACTIONS_SEQUENCE: a rollback (256) deferred
# (1024) as SYSTEM (2048), sequenced before the action.
rolls_back_before() { [ -n "$1" ] && (( ($1 & 3328) == 3328 )) && between 0 "$2" "$3"; }
check_rollbacks() {
    local rollback of type
    while IFS=$'\t' read -r rollback of; do
        type=$(field CustomAction "$rollback" 2)
        check "$rollback, the rollback of $of, is a rollback action (type ${type:-none}) and runs before it ($(seq_of "$rollback"), $(seq_of "$of"))" \
            rolls_back_before "$type" "$(seq_of "$rollback")" "$(seq_of "$of")"
    done < <(awk -F'\t' '$7 != "-" { print $1 "\t" $7 }' <<< "$CUSTOM_ACTION_ROWS")
    check "every rollback action names the action it belongs to" \
        [ -z "$(table CustomAction | awk -F'\t' 'int($2 / 256) % 2 { print $1 }' |
                 grep -vxF -f <(awk -F'\t' '$7 != "-" { print $1 }' <<< "$CUSTOM_ACTION_ROWS"))" ]
}

# The order that the design rests on, whatever the numbers. Rollback runs the
# script backwards: a rollback action runs before whatever precedes it.
check_order() {
    local setter
    for setter in $(table CustomAction | awk -F'\t' '$2 == 51 { print $1 }'); do
        check "$setter sets its property after CostFinalize and before InstallInitialize" \
            between "$(seq_of CostFinalize)" "$(seq_of "$setter")" "$(seq_of InstallInitialize)"
    done
    check "another program folder is refused once its text is set, before InstallInitialize writes anything" \
        between "$(seq_of MovedProgramFolderText)" "$(seq_of RefuseMovedProgramFolder)" "$(seq_of InstallInitialize)"
    check "the unregistration runs before RemoveFiles, its rollback right before it" \
        between "$(seq_of RollbackUnregistration)" "$(seq_of UnregisterControl)" "$(seq_of RemoveFiles)"
    check "the earlier control's registration is restored after InstallFiles' rollback has put it back" \
        between "$(seq_of RemoveFiles)" "$(seq_of RestoreRegistration)" "$(seq_of InstallFiles)"
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
    check "the control is registered again after that removal" \
        between "$(seq_of RemoveExistingProducts)" "$(seq_of RegisterAfterEarlierRemoved)" "$(seq_of InstallFinalize)"
    check "the registration after a restart is arranged after that removal, which can't take it away then" \
        between "$(seq_of RemoveExistingProducts)" "$(seq_of ArrangeRegistrationAtRestart)" "$(seq_of InstallFinalize)"
    check "... its rollback before InstallFiles, to run after the files' own rollback has taken this installation's rename away" \
        between "$(seq_of RemoveFiles)" "$(seq_of RollbackRegistrationAtRestart)" "$(seq_of InstallFiles)"
    check "the cancellation's rollback precedes it, after the unregistration" \
        between "$(seq_of UnregisterControl)" "$(seq_of RearrangeRegistrationAtRestart)" "$(seq_of CancelRegistrationAtRestart)"
    check "the earlier setup's count's rollback comes before ProcessComponents, and so runs after theirs" \
        between "$(seq_of InstallInitialize)" "$(seq_of UncountEarlierSetup)" "$(seq_of ProcessComponents)"
    check "... the count once ProcessComponents has written ours, before InstallFiles" \
        between "$(seq_of ProcessComponents)" "$(seq_of CountEarlierSetup)" "$(seq_of InstallFiles)"
    # Windows gives the control component no action where the earlier build's same component has a file of a higher version.
    check "no registration after RemoveExistingProducts waits on the control component's action: $(reregistrations_on_control | paste -sd ' ')" \
        [ -z "$(reregistrations_on_control)" ]
}

# What was there before, looked up first: PROPERTY, and the locator's row.
check_searches() {
    check "what was there before is looked up first (AppSearch $(seq_of AppSearch))" \
        between 0 "$(seq_of AppSearch)" "$(seq_of CostInitialize)"
    check "MARKER_BEFORE: HKLM\\Software\\$COMPANY\\Tarvex_cl_V4, Registered, raw, the 32-bit view" \
        [ "$(table RegLocator | awk -F'\t' -v s="$(field AppSearch MARKER_BEFORE 2)" '$1 == s { print $2 "\t" $3 "\t" $4 "\t" $5 }')" = \
          "2"$'\t'"Software\\$COMPANY\\Tarvex_cl_V4"$'\t'"Registered"$'\t'"2" ]
    check "CONTROL_SHARED_COUNT: HKLM\\$SHARED_DLLS, [SystemFolder]TVex.DLL, raw, the 32-bit view" \
        [ "$(table RegLocator | awk -F'\t' -v s="$(field AppSearch CONTROL_SHARED_COUNT 2)" '$1 == s { print $2 "\t" $3 "\t" $4 "\t" $5 }')" = \
          "2"$'\t'"$SHARED_DLLS"$'\t'"[SystemFolder]TVex.DLL"$'\t'"2" ]
    local signature
    signature=$(field AppSearch CONTROL_BEFORE 2)
    check "CONTROL_BEFORE: a file TVex.DLL, any version, in [SystemFolder] itself" \
        [ "$(field Signature "${signature:-?}" 2)"$'\t'"$(table Signature | awk -F'\t' -v s="$signature" '$1 == s { print $3 $4 $5 $6 $7 $8 }')"$'\t'"$(table DrLocator | awk -F'\t' -v s="$signature" '$1 == s { print $2 "\t" $3 "\t" $4 }')" = \
          "TVex.DLL"$'\t\t\t'"[SystemFolder]"$'\t'"0" ]
}

# SharedDllRefCount (8) for the system folder's DLL, not permanent (16): the
# last setup that installed it takes it away.
check_components() {
    check "the control's component counts the DLL's users and is not permanent (Attributes $(field Component "${DLL_COMPONENT:-?}" 4))" \
        [ "$(field Component "${DLL_COMPONENT:-?}" 4)" = 8 ]
    check "the program's component is a plain one" [ "$(field Component "$(field File "${EXE_FILE_KEY:-?}" 2)" 4)" = 0 ]
    check "... and so is the starter's" [ "$(field Component "$(field File "${STARTER_FILE_KEY:-?}" 2)" 4)" = 0 ]
}

# Versioned payloads: the file versioning rules then replace an older file
# in place and keep a newer one. Empty, Windows treats them as unversioned.
check_file_versions() {
    local key file columns
    for key in "$DLL_FILE_KEY:$DLL" "$EXE_FILE_KEY:$EXE" "$STARTER_FILE_KEY:$STARTER"; do
        file=${key#*:} key=${key%%:*}
        columns=$(version_columns "$file")
        check "$(field File "$key" 3 | sed 's/.*|//') has File.Version and File.Language '${columns/$'\t'/ }' of its version resource" \
            same_nonempty "$(field File "$key" 5)"$'\t'"$(field File "$key" 6)" "$columns"
    done
}

# Windows' own validation (ICE03 and the MsiFileHash table's rules), which
# packaging teams run: every long name of a file or folder has a short one
# beside it, unique in its folder, as Windows Installer takes the short name
# when SHORTFILENAMES is set; no file hash for a versioned file; the
# database's code page neutral (0, ASCII alone).
check_validation() {
    local names
    # FOLDER<TAB>NAME of every file and of every folder that has a name of its own.
    names=$( (join -t $'\t' -1 2 -2 1 -o 2.3,1.3 <(table File | cut -f1-3 | sort -t $'\t' -k2,2) \
                  <(table Component | sort -t $'\t' -k1,1)
              table Directory | awk -F'\t' '$2 != "" && $3 != "." { print $2 "\t" $3 }') |
             awk -F'\t' -v OFS='\t' '{ n = split($2, part, "|"); print $1, part[1], (n > 1 ? part[2] : "") }')
    check "every long name of a file or folder has a short one: $(awk -F'\t' '{ print $2 ($3 == "" ? "" : "|" $3) }' <<< "$names" | paste -sd ' ')" \
        awk -F'\t' '
            function valid(n,  dot) {
                if (n !~ /^[^\\\/?|><:*"+,;=\[\] .]+(\.[^\\\/?|><:*"+,;=\[\] .]+)?$/) return 0
                dot = index(n, ".")
                return dot ? dot <= 9 && length(n) - dot <= 3 : length(n) <= 8
            }
            !valid($2) { bad = 1 } END { exit bad }' <<< "$names"
    check "... each short name unique in its folder" \
        [ -z "$(awk -F'\t' '{ print $1 "\t" toupper($2) }' <<< "$names" | sort | uniq -d)" ]
    check "no MsiFileHash row for a versioned file (the table is for unversioned files alone)" \
        [ -z "$(join -t $'\t' <(table MsiFileHash | cut -f1 | sort) \
                    <(table File | awk -F'\t' '$5 != "" { print $1 }' | sort))" ]
    check "the database's code page is neutral (0: ASCII alone)" \
        [ "$(msiinfo export "$PKG" _ForceCodepage 2>/dev/null | tr -d '\r' | sed -n 's/\t_ForceCodepage$//p')" = 0 ]
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
        for name in TVex.DLL TarvexActiveXInstaller.exe TarvexRegisterAtRestart.exe; do
            case $name in TVex.DLL) source=$DLL ;; TarvexActiveXInstaller.exe) source=$EXE ;; *) source=$STARTER ;; esac
            found=$(find "$unpacked" -type f -name "$name" -print -quit)
            check "$name is the build's, byte for byte ($source)" cmp -s "${found:-/nonexistent}" "$source"
        done
    fi
    rm -rf "$unpacked"
}

# Our custom actions' DLL: the Binary stream is the build's, of the program's
# architecture; it exports the entries the actions call and imports only
# what Windows takes from its system folder, plus msi.dll, which Windows
# Installer has loaded; it runs as SYSTEM, as hardened as the program. (It
# has no resources and no entry point of ours: the program's version,
# manifest and stack guard have no counterpart in it.) Each is read off the
# stream, as Windows Installer runs it.
check_actions_dll() {
    local stream=$TABLES/Binary.TarvexActions exports imports dlls dll offenders="" entry objdump format
    msiinfo extract "$PKG" Binary.TarvexActions > "$stream" 2>/dev/null
    check "the Binary stream TarvexActions is the build's DLL, byte for byte ($ACTIONS)" cmp -s "$stream" "$ACTIONS"
    objdump=${WINDRES%windres}objdump
    format=$("$objdump" -f "$EXE" 2>/dev/null | sed -n 's/.*file format //p')
    check "... of the program's architecture ($format)" \
        [ "$("$objdump" -f "$stream" 2>/dev/null | sed -n 's/.*file format //p')" = "$format" ]
    exports=$("$objdump" -p "$stream" 2>/dev/null | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z]*\)$/\1/p' | sort | tr '\n' ' ')
    for entry in $(table CustomAction | awk -F'\t' '$3 == "TarvexActions" { print $4 }' | sort -u); do
        check "... exports $entry, which an action calls, by its plain name" grep -qw "$entry" <<< "$exports"
    done
    imports=$(imports_of "$objdump" "$stream")
    dlls=$(awk '{ print $1 }' <<< "$imports" | sort -uf | tr '\n' ' ')
    for dll in $dlls; do
        [ "${dll,,}" = msi.dll ] || is_known_dll "$dll" || offenders+="$dll "
    done
    check "... imports only DLLs of the system folder's own and msi.dll: $dlls" [ -z "$offenders" ]
    if [ "$format" = pei-i386 ]; then
        offenders=$(xp_offenders "$imports")
        check "... and nothing that Windows XP SP3 lacks${offenders:+: $offenders}" [ -z "$offenders" ]
    fi
    check_hardening "$objdump" "$stream"
}

check_package() {
    PKG=$1 EXE=$2 DLL=$3 COMPANY=$4 WINDRES=$5 ACTIONS=$6 STARTER=$7
    [ -f "$PKG" ] || { bad "no package $PKG"; return 1; }
    TABLES=$(mktemp -d)
    # shellcheck disable=SC2064  # this package's folder, now
    trap "rm -rf '$TABLES'" RETURN
    echo "package: $PKG"
    check_summary_and_properties
    check_upgrades
    check_files
    check_custom_actions
    check_rollbacks
    check_order
    check_searches
    check_components
    check_file_versions
    check_validation
    check_marker
    check_payloads
    check_actions_dll
    checks_summary
}

# The breakages, each as NAME, what breaks it (msibuild's query, "stream
# FILE" for the custom actions' stream, or "codepage N" for the database's
# code page), and the check that must reject it.
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
        "UPDATE CustomAction SET Type = 2113 WHERE Action = 'RollbackRegistration'" \
        "FAIL: RollbackRegistration: type 3393, TarvexActions, 'UnregisterWithTool', as the table says" \
        rollback-after-its-action \
        "UPDATE InstallExecuteSequence SET Sequence = 4011 WHERE Action = 'RollbackMarker'" \
        'FAIL: RollbackMarker, the rollback of RegisterControl, is a rollback action (type 3393) and runs before it (4011, 4010)' \
        version-not-raised \
        "UPDATE Property SET Value = '1.2.0.7' WHERE Property = 'ProductVersion'" \
        'FAIL: ProductVersion 1.2.0.7 is the program' \
        marker-before-not-secure \
        "UPDATE Property SET Value = 'EARLIER_BUILD_FOUND;LATER_VERSION_FOUND' WHERE Property = 'SecureCustomProperties'" \
        'FAIL: MARKER_BEFORE reaches the elevated server' \
        restore-before-old-files-are-back \
        "UPDATE InstallExecuteSequence SET Sequence = 6490 WHERE Action = 'RestoreRegistration'" \
        "FAIL: the earlier control's registration is restored after InstallFiles' rollback" \
        removal-unregisters-others-control \
        "UPDATE InstallExecuteSequence SET Condition = '\$Control=2 AND NOT UPGRADINGPRODUCTCODE' WHERE Action = 'UnregisterControl'" \
        'FAIL: UnregisterControl at 3490 if $Control=2 AND NOT UPGRADINGPRODUCTCODE AND (NOT CONTROL_SHARED_COUNT OR CONTROL_SHARED_COUNT="#1"), as the table says' \
        per-user-allowed \
        "DELETE FROM LaunchCondition WHERE Condition = 'Installed OR ALLUSERS=1'" \
        'FAIL: launch conditions: no later version, and per machine only' \
        reregistration-on-control \
        "UPDATE InstallExecuteSequence SET Condition = '\$Control=3 AND EARLIER_BUILD_FOUND' WHERE Action = 'RegisterAfterEarlierRemoved'" \
        'FAIL: no registration after RemoveExistingProducts waits on the control' \
        earlier-setup-uncounted \
        "DELETE FROM InstallExecuteSequence WHERE Action = 'CountEarlierSetup'" \
        'FAIL: ... the count once ProcessComponents has written ours, before InstallFiles' \
        arrangement-rollback-after-files \
        "UPDATE InstallExecuteSequence SET Sequence = 6525 WHERE Action = 'RollbackRegistrationAtRestart'" \
        "FAIL: ... its rollback before InstallFiles" \
        moved-folder-taken \
        "DELETE FROM InstallExecuteSequence WHERE Action = 'RefuseMovedProgramFolder'" \
        'FAIL: another program folder is refused once its text is set, before InstallInitialize writes anything' \
        tool-run-by-exe-action \
        "UPDATE CustomAction SET Type = 3186, Source = 'RollbackMarkerData', Target = '/u /s TVex.DLL' WHERE Action = 'UnregisterControl'" \
        'FAIL: no custom action runs an EXE as SYSTEM' \
        foreign-actions-stream \
        "stream $DLL" \
        'FAIL: the Binary stream TarvexActions is the build' \
        unhardened-actions \
        "stream $UNHARDENED_ACTIONS" \
        "FAIL: $UNHARDENED_FLAG" \
        restart-allowed \
        "DELETE FROM Property WHERE Property = 'REBOOT'" \
        'FAIL: the installation never restarts the PC' \
        restart-manager-on \
        "DELETE FROM Property WHERE Property = 'MSIRESTARTMANAGERCONTROL'" \
        'FAIL: the Restart Manager closes no' \
        long-name-alone \
        "UPDATE File SET FileName = 'TarvexActiveXInstaller.exe' WHERE File = 'ProgramExe'" \
        'FAIL: every long name of a file or folder has a short one' \
        short-name-twice \
        "UPDATE File SET FileName = 'TARVEX~1.EXE|TarvexRegisterAtRestart.exe' WHERE File = 'StarterExe'" \
        'FAIL: ... each short name unique in its folder' \
        hash-of-versioned-file \
        "INSERT INTO MsiFileHash (File_, Options, HashPart1, HashPart2, HashPart3, HashPart4) VALUES ('ProgramExe', 0, 1, 2, 3, 4)" \
        'FAIL: no MsiFileHash row for a versioned file' \
        code-page-1252 \
        "codepage 1252" \
        "FAIL: the database's code page is neutral" \
        arrangement-before-earlier-removal \
        "UPDATE InstallExecuteSequence SET Sequence = 6000 WHERE Action = 'ArrangeRegistrationAtRestart'" \
        'FAIL: the registration after a restart is arranged after that removal' \
        starter-by-public-property \
        "UPDATE CustomAction SET Target = '[SystemFolder]TVex.DLL|[INSTALLDIR]TarvexRegisterAtRestart.exe' WHERE Action = 'RollbackRegistrationAtRestartData'" \
        "FAIL: no deferred action's CustomActionData names a public property: RollbackRegistrationAtRestart:[INSTALLDIR]" \
        reregistration-in-maintenance \
        "UPDATE InstallExecuteSequence SET Condition = 'EARLIER_BUILD_FOUND' WHERE Action = 'RegisterAfterEarlierRemoved'" \
        'FAIL: RegisterAfterEarlierRemoved never runs in maintenance'
}

# unhardened_copy DLL OUT: a copy of the DLL that lacks NO_SEH (32-bit) or
# HIGH_ENTROPY_VA (64-bit) in its header, into UNHARDENED_ACTIONS, and the
# check that finds it so into UNHARDENED_FLAG.
unhardened_copy() {
    local pe at flags bit name
    pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
    # DllCharacteristics: 70 bytes into the optional header, after the 24 of the PE signature and file header.
    at=$((pe + 24 + 70))
    flags=$(od -An -tu2 -j "$at" -N 2 "$1" | tr -d ' ')
    if [ "$(od -An -tx2 -j $((pe + 24)) -N 2 "$1" | tr -d ' ')" = 010b ]; then bit=0x400 name=NO_SEH
    else bit=0x20 name=HIGH_ENTROPY_VA; fi
    flags=$((flags & ~bit))
    UNHARDENED_FLAG="DllCharacteristics $(printf '%08x' "$flags"): $name"
    cp "$1" "$2" &&
        printf "$(printf '\\%03o\\%03o' $((flags & 255)) $((flags >> 8)))" |
        dd of="$2" bs=1 seek="$at" conv=notrunc status=none
    UNHARDENED_ACTIONS=$2
}

# check_one_breakage NAME CHANGE EXPECTED ARG...: breaks a copy of the package
# (ARG... as check_broken takes them) and reports whether the check rejects it.
check_one_breakage() {
    local name=$1 change=$2 expected=$3 pkg=$4 work=${11} broken output
    broken=$work/$name.msi
    cp "$pkg" "$broken" || { echo "FAIL: could not copy $pkg"; return 1; }
    case $change in
    "stream "*) msibuild "$broken" -a Binary.TarvexActions "${change#stream }" ;;
    "codepage "*)
        mkdir -p "$work/$name" &&
            printf '\r\n\r\n%s\t_ForceCodepage\r\n' "${change#codepage }" > "$work/$name/_ForceCodepage.idt" &&
            (cd "$work/$name" && msibuild "$broken" -i _ForceCodepage.idt) ;;
    *) msibuild "$broken" -q "$change" ;;
    esac || { echo "FAIL: could not break $name"; return 1; }
    output=$(check_package "$broken" "${@:5:6}")
    if grep -qF "$expected" <<< "$output"; then
        echo "ok: the package broken by $name is rejected:"
        grep '^FAIL' <<< "$output" | sed 's/^/  /'
        return 0
    fi
    printf '%s\n' "$output" | sed 's/^/  /'
    echo "FAIL: the package broken by $name passed the check that was to reject it ($expected)"
    return 1
}

# The breakages are checked side by side, one per processor; their reports
# come in the table's order.
check_broken() {
    local work=$8 name change expected status=0 running=()
    mkdir -p "$work"
    DLL=$3
    unhardened_copy "$6" "$work/unhardened-actions.dll" || { echo "FAIL: could not patch a copy of $6"; return 1; }
    while IFS=$'\t' read -r name change expected; do
        check_one_breakage "$name" "$change" "$expected" "$@" > "$work/$name.report" 2>&1 &
        running+=($!)
        if [ "${#running[@]}" -ge "$(nproc)" ]; then
            wait "${running[0]}" || status=1
            running=("${running[@]:1}")
        fi
    done < <(breakages)
    for name in "${running[@]}"; do wait "$name" || status=1; done
    while IFS=$'\t' read -r name _; do cat "$work/$name.report"; done < <(breakages)
    return $status
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    if [ "${1:-}" = --broken ] && [ $# -eq 9 ]; then
        shift
        check_broken "$@"
    elif [ $# -eq 7 ]; then
        check_package "$@"
    else
        echo "usage: $0 PACKAGE EXE DLL COMPANY WINDRES ACTIONS STARTER | $0 --broken PACKAGE EXE DLL COMPANY WINDRES ACTIONS STARTER WORKDIR" >&2
        exit 2
    fi
fi
