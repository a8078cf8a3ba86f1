#!/usr/bin/env bash
# check-control-refusal.sh EXE ACTIONS STARTER GOOD_DLL COMPANY WINDRES WORK
# The package build refuses a control that can't work, before wixl runs, with
# the file and the reason, and leaves no package at the output path, not even
# an earlier one: a text file, a DLL of the other architecture, a program, a
# DLL without DllRegisterServer, one without a file version. The tests'
# versioned stand-in, GOOD_DLL, is taken. The DLLs that must be refused are
# made here with the mingw-w64 compilers, from a few lines of C. It refuses
# as well a version that would not reach the PCs with the deployed 1.2.0.7,
# and a company name that can't name the marker's key or is no ASCII.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
[ $# -eq 7 ] || { echo "usage: $0 EXE ACTIONS STARTER GOOD_DLL COMPANY WINDRES WORK" >&2; exit 2; }
EXE=$1 ACTIONS=$2 STARTER=$3 GOOD=$4 COMPANY=$5 WINDRES=$6 WORK=$7
BUILD_PACKAGE=$here/../../packaging/build-package.sh
arch=${WINDRES%-w64-mingw32-windres}
case $arch in i686) other=x86_64 machine=i386 other_machine=x86-64 ;;
              *) other=i686 machine=x86-64 other_machine=i386 ;; esac
rm -rf "$WORK"
mkdir -p "$WORK"

# control ARCH NAME [exports...] [versioned]: a DLL of that architecture
# exporting those entries, with a file version when the last word says so.
control() {
    local target=$1 name=$2 entry objects=()
    shift 2
    : > "$WORK/$name.c"
    for entry in "$@"; do
        [ "$entry" = versioned ] && continue
        printf '__declspec(dllexport) long %s(void) { return 0; }\n' "$entry" >> "$WORK/$name.c"
    done
    if [ "${*: -1}" = versioned ]; then
        printf '1 VERSIONINFO\nFILEVERSION 1,0,0,1\nBEGIN\nEND\n' > "$WORK/$name.rc"
        "$target-w64-mingw32-windres" "$WORK/$name.rc" -O coff -o "$WORK/$name.res.o" || return 1
        objects=("$WORK/$name.res.o")
    fi
    "$target-w64-mingw32-gcc" -shared -o "$WORK/$name.dll" "$WORK/$name.c" "${objects[@]}"
}

# build CONTROL [OPTION...]: build-package.sh's exit code, its message in
# WORK/message, over an earlier package left at the output path.
build() {
    local control=$1
    shift
    echo "an earlier package" > "$WORK/out.msi"
    bash "$BUILD_PACKAGE" --exe "$EXE" --dll "$control" --actions "$ACTIONS" --starter "$STARTER" --company "$COMPANY" \
        --windres "$WINDRES" --out "$WORK/out.msi" "$@" > "$WORK/message" 2>&1
}

# refused NAME FILE MESSAGE [OPTION...]: refused with that message, no package left.
refused() {
    local name=$1 file=$2 message=$3
    shift 3
    if build "$file" "$@"; then bad "$name: taken"; return; fi
    sed 's/^/    /' "$WORK/message"
    check "$name: refused, saying why ($message)" grep -qF -- "$message" "$WORK/message"
    check "$name: no package at the output path" [ ! -e "$WORK/out.msi" ]
}

printf 'this is no DLL\r\n' > "$WORK/text.dll"
control "$other" other-architecture DllRegisterServer DllUnregisterServer versioned &&
    control "$arch" no-register DllUnregisterServer versioned &&
    control "$arch" unversioned DllRegisterServer DllUnregisterServer ||
    { echo "FAIL: the mingw-w64 compilers could not make the DLLs to refuse"; exit 1; }

refused "a text file" "$WORK/text.dll" "refusing $WORK/text.dll as the control: it is no PE file"
refused "a DLL of the other architecture" "$WORK/other-architecture.dll" \
    "refusing $WORK/other-architecture.dll as the control: it is for $other_machine, the package's program for $machine"
refused "a program" "$EXE" "refusing $EXE as the control: it is a program, no DLL"
refused "a DLL without DllRegisterServer" "$WORK/no-register.dll" \
    "refusing $WORK/no-register.dll as the control: it exports no DllRegisterServer"
refused "a DLL without a file version" "$WORK/unversioned.dll" \
    "refusing $WORK/unversioned.dll as the control: it has no file version"
refused "the deployed version again" "$GOOD" "the version 1.2.0.7 (ProductVersion 1.2.7) is not above the deployed 1.2.0.7" \
    --version 1.2.0.7
refused "a version below it" "$GOOD" "is not above the deployed 1.2.0.7" --version 1.1.0.9
refused "a version numbered in its third field" "$GOOD" "the version 1.2.1.0 is no release number" --version 1.2.1.0
# The company name names the marker's key and the Manufacturer.
COMPANY='Tarvex\GmbH' refused "a company name that can't name a key" "$GOOD" "the company name 'Tarvex\GmbH' can't name a registry key"
COMPANY='Tärvex GmbH' refused "a company name beyond ASCII" "$GOOD" \
    "the company name 'Tärvex GmbH' holds characters beyond printable ASCII"
check "the tests' versioned stand-in is taken" build "$GOOD"
check "... and makes the package" [ "$(head -c 8 "$WORK/out.msi" | od -An -tx1 | tr -d ' ')" = d0cf11e0a1b11ae1 ]
checks_summary
