#!/usr/bin/env bash
# build-package.sh --exe EXE --dll DLL --actions ACTIONS.dll --starter STARTER.exe --company NAME
#                  --windres WINDRES --out FILE.msi
#                  [--wxs FILE] [--version A.B.C.D] [--as-wixl-writes]
# Builds the control's installation package with wixl from TarvexActiveX.wxs
# (or the given source): the program EXE, the control DLL, the custom
# actions' DLL and the starter of the registration after a restart as they
# are, the Manufacturer the company name. The version is
# the EXE's own file version (read with WINDRES, the resource compiler of the
# EXE's architecture; --version overrides it, for test packages), numbered by
# its last field: A.B.0.D is ProductVersion A.B.D, as Windows Installer
# compares only three fields, and must be above the deployed 1.2.0.7.
# Then sets with msibuild the columns that wixl writes otherwise than the
# source means, or drops. --as-wixl-writes builds an earlier release's
# package for the tests: its version as given, its columns as wixl wrote them.
#
# The control must be a DLL that can work: a PE DLL of the EXE's
# architecture, exporting DllRegisterServer and DllUnregisterServer, with a
# file version (the upgrade rules rest on it). Anything else is refused with
# the reason, before wixl runs. The package is written whole or not at all:
# a refused or failed build leaves no package at the output path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wxs=$here/TarvexActiveX.wxs
version='' actions='' starter='' finish=yes
# The last release before versions rose with every release: its program's
# file version, and its ProductVersion as FindRelatedProducts compares it.
DEPLOYED_VERSION=1.2.0.7 DEPLOYED_PRODUCT_VERSION=1.2.0

die() { echo "build-package: $*" >&2; exit 1; }
# above A B: version A is above version B, field by field.
above() { [ "$1" != "$2" ] && [ "$(printf '%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$1" ]; }

while [ $# -gt 0 ]; do
    case $1 in
    --exe) exe=$2 ;;
    --dll) dll=$2 ;;
    --actions) actions=$2 ;;
    --starter) starter=$2 ;;
    --company) company=$2 ;;
    --windres) windres=$2 ;;
    --out) out=$2 ;;
    --wxs) wxs=$2 ;;
    --version) version=$2 ;;
    --as-wixl-writes) finish=no; shift; continue ;;
    *) echo "build-package: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
: "${exe:?--exe}" "${dll:?--dll}" "${company:?--company}" "${windres:?--windres}" "${out:?--out}"
rm -f "$out"
[ "$finish" = no ] || [ -n "$actions" ] || die "--actions names no custom actions' DLL"
[ "$finish" = no ] || [ -n "$starter" ] || die "--starter names no starter"
for file in "$exe" "$dll" ${actions:+"$actions"} ${starter:+"$starter"}; do
    [ -f "$file" ] || die "no file $file"
done
# The company name becomes a registry key and a preprocessor value.
case $company in
*[\\\$\(\)\<\>\&\"\']*|"") die "the company name '$company' can't name a registry key here" ;;
esac
objdump=${windres%windres}objdump

# version_info FILE: "A.B.C.D LANGUAGE" from the file's version resource
# (FILEVERSION, and the first translation's language in decimal); empty without one.
version_info() {
    local fields language
    fields=$("$windres" -J coff -i "$1" -O rc 2>/dev/null | awk '
        /^ *FILEVERSION / { gsub(/[ ,]+/, " "); v = $2 "." $3 "." $4 "." $5 }
        /VALUE "Translation"/ && lang == "" { gsub(/[ ,]+/, " "); lang = $3 }
        END { if (v != "") print v, lang }') || true
    read -r fields language <<< "$fields" || true
    [ -z "$fields" ] || echo "$fields $((${language:-0}))"
}

# le FILE OFFSET BYTES: the little-endian number at OFFSET; empty past the end.
le() { od -An -tu"$3" -j "$2" -N "$3" "$1" 2>/dev/null | tr -d ' '; }

# pe_machine FILE: the machine a PE file is for (i386, x86-64, or its number),
# read from its headers; empty for no PE file.
pe_machine() {
    local header machine
    [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
    header=$(le "$1" 60 4)
    [ -n "$header" ] && [ "$(od -An -c -j "$header" -N 4 "$1" 2>/dev/null | tr -d ' ')" = 'PE\0\0' ] || return 0
    machine=$(le "$1" $((header + 4)) 2)
    case $machine in 332) echo i386 ;; 34404) echo x86-64 ;; *) echo "machine $machine" ;; esac
}

# is_dll FILE: the PE file's characteristics have IMAGE_FILE_DLL.
is_dll() { (( $(le "$1" $(($(le "$1" 60 4) + 22)) 2) & 0x2000 )); }

# control_refusal DLL MACHINE: why the file can't be the control of a package
# whose program is for that machine; nothing when it can.
control_refusal() {
    local machine headers entry
    machine=$(pe_machine "$1")
    [ -n "$machine" ] || { echo "it is no PE file (no Windows DLL at all)"; return; }
    [ "$machine" = "$2" ] || { echo "it is for $machine, the package's program for $2: regsvr32 of that bitness can't load it"; return; }
    is_dll "$1" || { echo "it is a program, no DLL"; return; }
    headers=$("$objdump" -p "$1")
    for entry in DllRegisterServer DllUnregisterServer; do
        grep -qE "^[[:space:]]*\[ *[0-9]+\] $entry\$" <<< "$headers" ||
            { echo "it exports no $entry: it is no self-registering COM DLL"; return; }
    done
    [ -n "$(version_info "$1")" ] ||
        echo "it has no file version: the upgrade rules rest on it (an unversioned TVex.DLL never replaces an installed versioned one)"
}

exe_machine=$(pe_machine "$exe")
[ -n "$exe_machine" ] || die "$exe is no Windows program"
refusal=$(control_refusal "$dll" "$exe_machine")
[ -z "$refusal" ] || die "refusing $dll as the control: $refusal"

read -r exe_version exe_language <<< "$(version_info "$exe")" || true
[ -n "${exe_version:-}" ] || die "$exe has no file version"
version=${version:-$exe_version}
IFS=. read -r major minor build release <<< "$version"
if [ "$finish" = no ]; then
    product_version=$version next_version=$major.$minor.$((build + 1))
else
    [[ "$version" =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] ||
        die "the version $version is no release number A.B.0.NNNN (releases are numbered by the last field)"
    product_version=$major.$minor.$release next_version=$major.$minor.$((release + 1))
    # The program's file version must rise, or the file versioning rules keep
    # the deployed program; and the ProductVersion, or FindRelatedProducts
    # (three fields) does not see the deployed product as earlier.
    above "$version" "$DEPLOYED_VERSION" && above "$product_version" "$DEPLOYED_PRODUCT_VERSION" ||
        die "the version $version (ProductVersion $product_version) is not above the deployed 1.2.0.7: the PCs that have it would keep it; raise the release number"
fi

# q QUERY...: msibuild's SQL on the staged package.
q() { local query; for query in "$@"; do msibuild "$stage/package.msi" -q "$query"; done; }

# What the source means, where wixl writes something else (it marks every
# immediate action 0x800 and makes rollback actions immediate) or drops it.
finish_package() {
    local dll_version dll_language starter_version starter_language secure
    # Type 51 sets a property; 3073 calls our DLL, deferred, not
    # impersonated, its result checked; 3186 runs the tool a property names,
    # the same but ignoring its exit code; 3442 that, as a rollback action;
    # 3393 our DLL as a rollback action, its result ignored; 3137 our DLL,
    # deferred, its result ignored.
    q "UPDATE CustomAction SET Type = 51 WHERE Action = 'FindRegistrationTool' OR Action = 'RegisterControlData' OR Action = 'RegisterAfterEarlierRemovedData' OR Action = 'RollbackMarkerData' OR Action = 'ArrangeRegistrationAtRestartData'" \
      "UPDATE CustomAction SET Type = 3073 WHERE Action = 'RegisterControl' OR Action = 'RegisterAfterEarlierRemoved' OR Action = 'ArrangeRegistrationAtRestart'" \
      "UPDATE CustomAction SET Type = 3137 WHERE Action = 'CancelRegistrationAtRestart'" \
      "UPDATE CustomAction SET Type = 3186 WHERE Action = 'UnregisterControl'" \
      "UPDATE CustomAction SET Type = 3442 WHERE Action = 'RollbackRegistration' OR Action = 'RestoreRegistration' OR Action = 'RollbackUnregistration'" \
      "UPDATE CustomAction SET Type = 3393 WHERE Action = 'RollbackMarker' OR Action = 'RollbackRegistrationAtRestart'" \
      "UPDATE Component SET Attributes = 8 WHERE Component = 'Control'"
    # A TVex.DLL already in the system folder: a file search, which wixl can't write.
    q "CREATE TABLE \`DrLocator\` (\`Signature_\` CHAR(72) NOT NULL, \`Parent\` CHAR(72), \`Path\` CHAR(255), \`Depth\` SHORT PRIMARY KEY \`Signature_\`, \`Parent\`, \`Path\`)" \
      "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Path\`, \`Depth\`) VALUES ('ControlBefore', '[SystemFolder]', 0)" \
      "INSERT INTO \`Signature\` (\`Signature\`, \`FileName\`) VALUES ('ControlBefore', 'TVex.DLL')" \
      "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('CONTROL_BEFORE', 'ControlBefore')"
    # What AppSearch finds reaches the elevated server only when it is secure.
    secure=$(msiinfo export "$stage/package.msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
    q "UPDATE Property SET Value = '${secure:+$secure;}MARKER_BEFORE;CONTROL_BEFORE;CONTROL_SHARED_COUNT' WHERE Property = 'SecureCustomProperties'"
    # Versioned payloads: the file versioning rules replace an older file and keep a newer one.
    q "UPDATE File SET Version = '$exe_version', Language = '$exe_language' WHERE File = 'ProgramExe'"
    read -r starter_version starter_language <<< "$(version_info "$starter")" || true
    q "UPDATE File SET Version = '$starter_version', Language = '$starter_language' WHERE File = 'StarterExe'"
    read -r dll_version dll_language <<< "$(version_info "$dll")" || true
    q "UPDATE File SET Version = '$dll_version', Language = '${dll_language:-0}' WHERE File = 'ControlDll'"
}

# wixl takes relative sources only: stage the payloads with the source.
mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$(dirname "$out")/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$wxs" "$stage/TarvexActiveX.wxs"
cp "$exe" "$stage/TarvexActiveXInstaller.exe"
cp "$dll" "$stage/TVex.DLL"
[ -z "$actions" ] || cp "$actions" "$stage/TarvexCustomActions.dll"
[ -z "$starter" ] || cp "$starter" "$stage/TarvexRegisterAtRestart.exe"
(cd "$stage" && wixl -a x86 -D "Manufacturer=$company" -D "Version=$product_version" -D "NextVersion=$next_version" \
                     -o package.msi TarvexActiveX.wxs) || die "wixl could not build the package"
[ "$finish" = no ] || finish_package
mv "$stage/package.msi" "$out"
echo "build-package: $out (version $version, ProductVersion $product_version, $company)"
