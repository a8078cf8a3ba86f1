#!/usr/bin/env bash
# build-package.sh --exe EXE --dll DLL --company NAME --windres WINDRES --out FILE.msi
#                  [--wxs FILE] [--version A.B.C.D] [--reg-view 32] [--as-wixl-writes]
# Builds the control's installation package with wixl from TarvexActiveX.wxs
# (or the given source): the program EXE and the control DLL as they are, the
# Manufacturer the company name, the version the EXE's own file version (read
# with WINDRES, the resource compiler of the EXE's architecture; --version
# overrides it, for test packages). Then sets with msibuild the columns that
# wixl writes otherwise than the source means, or drops; --as-wixl-writes
# leaves them as wixl wrote them (an earlier release's package, rebuilt for
# the tests). --reg-view 32 makes the marker's rollback name the 32-bit
# registry view, for a test package whose tools are 64-bit programs. The
# package is written whole or not at all.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wxs=$here/TarvexActiveX.wxs
version='' reg_view='' finish=yes

while [ $# -gt 0 ]; do
    case $1 in
    --exe) exe=$2 ;;
    --dll) dll=$2 ;;
    --company) company=$2 ;;
    --windres) windres=$2 ;;
    --out) out=$2 ;;
    --wxs) wxs=$2 ;;
    --version) version=$2 ;;
    --reg-view) reg_view=" /reg:$2" ;;
    --as-wixl-writes) finish=no; shift; continue ;;
    *) echo "build-package: unknown option $1" >&2; exit 2 ;;
    esac
    shift 2
done
: "${exe:?--exe}" "${dll:?--dll}" "${company:?--company}" "${windres:?--windres}" "${out:?--out}"
for file in "$exe" "$dll"; do
    [ -f "$file" ] || { echo "build-package: no file $file" >&2; exit 1; }
done
# The company name becomes a registry key and a preprocessor value.
case $company in
*[\\\$\(\)\<\>\&\"\']*|"") echo "build-package: the company name '$company' can't name a registry key here" >&2; exit 1 ;;
esac

# version_info FILE: "A.B.C.D LANGUAGE" from the file's version resource
# (FILEVERSION, and the first translation's language in decimal); empty without one.
version_info() {
    local fields language
    fields=$("$windres" -J coff -i "$1" -O rc 2>/dev/null | awk '
        /^ *FILEVERSION / { gsub(/[ ,]+/, " "); v = $2 "." $3 "." $4 "." $5 }
        /VALUE "Translation"/ && lang == "" { gsub(/[ ,]+/, " "); lang = $3 }
        END { if (v != "") print v, lang }')
    read -r fields language <<< "$fields" || true
    [ -n "$fields" ] && echo "$fields $((${language:-0}))"
}

read -r exe_version exe_language <<< "$(version_info "$exe")" || true
[ -n "${exe_version:-}" ] || { echo "build-package: $exe has no file version" >&2; exit 1; }
version=${version:-$exe_version}
IFS=. read -r major minor build _ <<< "$version"
next_version=$major.$minor.$((build + 1))

# q QUERY...: msibuild's SQL on the staged package.
q() { local query; for query in "$@"; do msibuild "$stage/package.msi" -q "$query"; done; }

# What the source means, where wixl writes something else (it marks every
# immediate action 0x800 and makes rollback actions immediate) or drops it.
finish_package() {
    local dll_version dll_language
    # Type 51 sets a property; 3090 runs the installed program, deferred, not
    # impersonated, its exit code checked; 3186 the tool by its property, the
    # same but ignoring the exit code; 3442 that, as a rollback action.
    q "UPDATE CustomAction SET Type = 51 WHERE Action = 'FindRegistrationTool' OR Action = 'FindRegistryTool'" \
      "UPDATE CustomAction SET Type = 3090 WHERE Action = 'RegisterControl' OR Action = 'RegisterAfterEarlierRemoved'" \
      "UPDATE CustomAction SET Type = 3186 WHERE Action = 'UnregisterControl'" \
      "UPDATE CustomAction SET Type = 3442 WHERE Action = 'RollbackRegistration' OR Action = 'RollbackMarker' OR Action = 'RestoreRegistration'" \
      "UPDATE Component SET Attributes = 8 WHERE Component = 'Control'"
    # Versioned payloads: the file versioning rules replace an older file and keep a newer one.
    q "UPDATE File SET Version = '$exe_version', Language = '$exe_language' WHERE File = 'ProgramExe'"
    read -r dll_version dll_language <<< "$(version_info "$dll")" || true
    if [ -n "${dll_version:-}" ]; then
        q "UPDATE File SET Version = '$dll_version', Language = '${dll_language:-0}' WHERE File = 'ControlDll'"
    else
        echo "build-package: warning: $dll has no file version; an existing versioned TVex.DLL would be kept" >&2
    fi
}

# wixl takes relative sources only: stage the payloads with the source.
mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$(dirname "$out")/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$wxs" "$stage/TarvexActiveX.wxs"
cp "$exe" "$stage/TarvexActiveXInstaller.exe"
cp "$dll" "$stage/TVex.DLL"
(cd "$stage" && wixl -a x86 -D "Manufacturer=$company" -D "Version=$version" -D "NextVersion=$next_version" \
                     -D "RegView=$reg_view" -o package.msi TarvexActiveX.wxs)
[ "$finish" = no ] || finish_package
mv "$stage/package.msi" "$out"
echo "build-package: $out (version $version, $company)"
