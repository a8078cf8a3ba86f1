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
# Then writes with msibuild what wixl can't: the custom actions of
# custom-actions.tsv, and the columns and rows named in finish_package.
# --as-wixl-writes builds an earlier release's package for the tests: its
# version as given, its columns as wixl wrote them.
#
# The control must be a DLL that can work: a PE DLL of the EXE's
# architecture, exporting DllRegisterServer and DllUnregisterServer, with a
# file version (the upgrade rules rest on it). Anything else is refused with
# the reason, before wixl runs. The package is written whole or not at all:
# a refused or failed build leaves no package at the output path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=packaging/custom-actions.sh
source "$here/custom-actions.sh"
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
# ... and the Manufacturer of a database whose code page is neutral (0),
# which holds ASCII alone; the program opens the key through the PC's own
# ANSI code page, where any other character may become another one.
LC_ALL=C
[[ $company =~ ^[\ -~]+$ ]] ||
    die "the company name '$company' holds characters beyond printable ASCII: the package's code page is neutral (ASCII only), and the program names the marker's registry key in each PC's own ANSI code page, where such a name may read otherwise; spell it in ASCII (Tarvex GmbH, not Tärvex GmbH)"
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

# What wixl can't write, applied here alone, after its build:
# - the custom actions and where and when they run: custom-actions.tsv, whole;
# - the control's component counts its users (SharedDllRefCount, 8);
# - a file search for a TVex.DLL already in the system folder;
# - the properties that AppSearch finds, made secure;
# - the payloads' file versions, and no file hash for a versioned file;
# - a short name beside every long one.
finish_package() {
    apply_custom_actions
    q "UPDATE Component SET Attributes = 8 WHERE Component = 'Control'"
    # CONTROL_BEFORE: a file search, which needs a table of its own (DrLocator).
    q "CREATE TABLE \`DrLocator\` (\`Signature_\` CHAR(72) NOT NULL, \`Parent\` CHAR(72), \`Path\` CHAR(255), \`Depth\` SHORT PRIMARY KEY \`Signature_\`, \`Parent\`, \`Path\`)" \
      "INSERT INTO \`DrLocator\` (\`Signature_\`, \`Path\`, \`Depth\`) VALUES ('ControlBefore', '[SystemFolder]', 0)" \
      "INSERT INTO \`Signature\` (\`Signature\`, \`FileName\`) VALUES ('ControlBefore', 'TVex.DLL')" \
      "INSERT INTO \`AppSearch\` (\`Property\`, \`Signature_\`) VALUES ('CONTROL_BEFORE', 'ControlBefore')"
    # What AppSearch finds reaches the elevated server only when it is secure.
    local secure
    secure=$(msiinfo export "$stage/package.msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
    q "UPDATE Property SET Value = '${secure:+$secure;}MARKER_BEFORE;CONTROL_BEFORE;CONTROL_SHARED_COUNT' WHERE Property = 'SecureCustomProperties'"
    set_file_versions
    add_short_names
}

# The table's rows, into the CustomAction table that wixl leaves empty.
apply_custom_actions() {
    local lines queries=() query
    lines=$(custom_action_queries) || die "custom-actions.tsv can't be applied (above)"
    while IFS= read -r query; do queries+=(-q "$query"); done <<< "$lines"
    [ -z "$(rows CustomAction)" ] || die "wixl wrote custom actions of its own: custom-actions.tsv holds every one"
    msibuild "$stage/package.msi" "${queries[@]}" || die "msibuild could not write custom-actions.tsv's rows"
}

# Versioned payloads: the file versioning rules replace an older file and keep a newer one.
set_file_versions() {
    local dll_version dll_language starter_version starter_language file
    q "UPDATE File SET Version = '$exe_version', Language = '$exe_language' WHERE File = 'ProgramExe'"
    read -r starter_version starter_language <<< "$(version_info "$starter")" || true
    q "UPDATE File SET Version = '$starter_version', Language = '$starter_language' WHERE File = 'StarterExe'"
    read -r dll_version dll_language <<< "$(version_info "$dll")" || true
    q "UPDATE File SET Version = '$dll_version', Language = '${dll_language:-0}' WHERE File = 'ControlDll'"
    # A file hash is for unversioned files alone; the versions decide for ours.
    for file in $(rows File | awk -F'\t' '$5 != "" { print $1 }'); do
        q "DELETE FROM MsiFileHash WHERE File_ = '$file'"
    done
}

# rows TABLE: the staged package's rows, tab-separated, without msiinfo's three header lines.
rows() { msiinfo export "$stage/package.msi" "$1" | tail -n +4 | tr -d '\r'; }

# Every long name of a file or folder gets a short one, "TARVEX~1.EXE|TarvexActiveXInstaller.exe",
# unique within its folder: with SHORTFILENAMES set, or on a volume without
# long names, Windows Installer takes the short name, and it has none of its own.
add_short_names() {
    local key short
    while IFS=$'\t' read -r key short; do
        q "UPDATE File SET FileName = '$short' WHERE File = '$key'"
    done < <(short_names <(join -t $'\t' -1 2 -2 1 -o 1.1,2.3,1.3 \
                 <(rows File | cut -f1-3 | sort -t $'\t' -k2,2) <(rows Component | sort -t $'\t' -k1,1)))
    while IFS=$'\t' read -r key short; do
        q "UPDATE Directory SET DefaultDir = '$short' WHERE Directory = '$key'"
    done < <(short_names <(rows Directory | awk -F'\t' '$2 != "" && $3 != "." { print $1 "\t" $2 "\t" $3 }'))
}

# short_names ROWS: for rows "KEY<TAB>FOLDER<TAB>NAME", "KEY<TAB>SHORT|NAME" for
# each NAME that is no short name already, the short names unique in each folder.
short_names() {
    awk -F'\t' -v OFS='\t' '
        function valid(n,  dot) {
            if (n !~ /^[^\\\/?|><:*"+,;=\[\] .]+(\.[^\\\/?|><:*"+,;=\[\] .]+)?$/) return 0
            dot = index(n, ".")
            return dot ? dot <= 9 && length(n) - dot <= 3 : length(n) <= 8
        }
        function plain(n) { gsub(/[\\\/?|><:*"+,;=\[\] .]/, "", n); return toupper(n) }
        { key[NR] = $1; folder[NR] = $2; name[NR] = $3; if (valid($3)) taken[$2, toupper($3)] = 1 }
        END {
            for (i = 1; i <= NR; i++) {
                if (valid(name[i]) || index(name[i], "|")) continue
                dot = match(name[i], /\.[^.]*$/)
                base = plain(dot ? substr(name[i], 1, dot - 1) : name[i])
                ext = dot ? substr(plain(substr(name[i], dot + 1)), 1, 3) : ""
                for (n = 1; ; n++) {
                    short = substr(base, 1, 7 - length(n "")) "~" n (ext != "" ? "." ext : "")
                    if (!taken[folder[i], short]) break
                }
                taken[folder[i], short] = 1
                print key[i], short "|" name[i]
            }
        }' "$1"
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
