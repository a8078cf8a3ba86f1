#!/usr/bin/env bash
# build-package.sh --exe EXE --dll DLL --company NAME --windres WINDRES --out FILE.msi [--wxs FILE]
# Builds the control's installation package with wixl from TarvexActiveX.wxs
# (or the given source):
# the program EXE and the control DLL as they are, the Manufacturer the
# company name, the version the EXE's own file version (read with WINDRES,
# the resource compiler of the EXE's architecture). The package is written
# whole or not at all.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wxs=$here/TarvexActiveX.wxs

while [ $# -gt 0 ]; do
    case $1 in
    --exe) exe=$2 ;;
    --dll) dll=$2 ;;
    --company) company=$2 ;;
    --windres) windres=$2 ;;
    --out) out=$2 ;;
    --wxs) wxs=$2 ;;
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
*[\\\$\(\)\<\>\&\"]*|"") echo "build-package: the company name '$company' can't name a registry key here" >&2; exit 1 ;;
esac

# FILEVERSION a, b, c, d of the EXE's version information.
version=$("$windres" -J coff -i "$exe" -O rc 2>/dev/null |
          sed -n 's/^ *FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' | head -n 1)
[ -n "$version" ] || { echo "build-package: $exe has no file version" >&2; exit 1; }
IFS=. read -r major minor build _ <<< "$version"
next_version=$major.$minor.$((build + 1))

# wixl takes relative sources only: stage the payloads with the source.
mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$(dirname "$out")/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$wxs" "$stage/TarvexActiveX.wxs"
cp "$exe" "$stage/TarvexActiveXInstaller.exe"
cp "$dll" "$stage/TVex.DLL"
(cd "$stage" && wixl -a x86 -D "Manufacturer=$company" -D "Version=$version" -D "NextVersion=$next_version" -o package.msi TarvexActiveX.wxs)
mv "$stage/package.msi" "$out"
echo "build-package: $out (version $version, $company)"
