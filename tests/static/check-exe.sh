#!/usr/bin/env bash
# check-exe.sh [--starter] EXE X86|amd64 COMPANY VERSION [MAP]
# Checks the program's EXE file without running it, for what Wine would never
# notice: Wine loads imports that old Windows lacks and ignores the PE header's
# version fields and the manifest's architecture. Reads the file with the
# mingw-w64 binutils (objdump, windres) and od; prints one line per check and
# the whole import list; the exit code is the number of failed checks (at most 1).
# VERSION is the release's, a.b.c.d; its texts read "a.bb.dddd".
# --starter checks the starter of the package's one-shot service instead of
# the program: the same header, imports and hardening; its own version
# information and manifest (asInvoker); no stack protector, no size limit.
# MAP is the link map of the build that made EXE (default: beside it, EXE's
# name with .map), which the stripped EXE needs for its stack protector's check.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/imports.sh"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# le32 FILE OFFSET: the little-endian 32-bit number at OFFSET.
le32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

# header_field NAME: a field of objdump's PE header listing.
header_field() { awk -v name="$1" '$1 == name { print $2; exit }' <<< "$HEADER"; }

# version_at_most MAJOR MINOR LIMIT_MAJOR LIMIT_MINOR
version_at_most() { [ "$1" -lt "$3" ] || { [ "$1" -eq "$3" ] && [ "$2" -le "$4" ]; }; }

# expect_in TEXT WHAT LINE: LINE stands, whole, in TEXT.
expect_in() { grep -qxF -- "$3" <<< "$1" && ok "$2" || bad "$2: no line '$3'"; }

# map_address MAP SYMBOL: the symbol's address in the link map.
map_address() { awk -v name="$2" '$1 ~ /^0x/ && $2 == name { print $1; exit }' "$1"; }

# check_stack_protector MAP: the guard and its handler are ours (not libssp's,
# which loads DLLs before the program's first line), the entry point is the one
# that seeds the guard, and many functions check it. The stripped EXE has no
# symbols: its link map names the addresses.
check_stack_protector() {
    local map=$1 fail_at entry image_base entry_point calls
    [ -f "$map" ] || { bad "stack protector: no link map $map"; return; }
    check "stack protector: the guard is the program's own" \
        grep -qE '^ +0x[0-9a-f]+ +0x[0-9a-f]+ .*StackGuard\.cpp\.obj' <(grep -A1 '^ \.data\$__stack_chk_guard' "$map")
    check "stack protector: no libssp linked" bash -c '! grep -q libssp "$1"' _ "$map"
    entry=$(map_address "$map" TarvexEntry)
    image_base=$(header_field ImageBase) entry_point=$(header_field AddressOfEntryPoint)
    check "stack protector: the entry point is TarvexEntry, which seeds the guard" \
        [ "$((16#$image_base + 16#$entry_point))" -eq "$((${entry:-0}))" ]
    fail_at=$(map_address "$map" __stack_chk_fail)
    calls=0
    [ -n "$fail_at" ] && calls=$(grep -cE "call +(0x)?$(printf '%x' $((fail_at)))( |$)" <<< "$CODE")
    check "stack protector: $calls functions check the guard" [ "$calls" -ge 20 ]
}

main() {
    local exe=$1 arch=$2 company=$3 version=$4 fields text
    IFS=. read -r -a fields <<< "$version"
    [ "${#fields[@]}" -eq 4 ] || { echo "FAIL: the version $version has not four fields"; return 2; }
    text=$(printf '%d.%02d.%04d' "${fields[0]}" "${fields[1]}" "${fields[3]}")
    case $arch in
    X86) OBJDUMP=i686-w64-mingw32-objdump WINDRES=i686-w64-mingw32-windres MAGIC="010b" MAX_OS="5 1" ;;
    # 64-bit Windows begins with XP x64 (5.2).
    amd64) OBJDUMP=x86_64-w64-mingw32-objdump WINDRES=x86_64-w64-mingw32-windres MAGIC="020b" MAX_OS="5 2" ;;
    *) echo "usage: $0 EXE X86|amd64 COMPANY VERSION [MAP]" >&2; return 2 ;;
    esac
    [ -f "$exe" ] || { echo "FAIL: no file $exe"; return 1; }
    HEADER=$("$OBJDUMP" -p "$exe") || { echo "FAIL: $OBJDUMP cannot read $exe"; return 1; }
    local size
    size=$(stat -c %s "$exe")
    # The shipped EXE stays small; the 64-bit variant is only for testing.
    [ "$arch" = X86 ] && [ "$NAME" = TarvexActiveXInstaller ] && check "size $size bytes is at most 224 KiB" [ "$size" -le $((224 * 1024)) ]

    # ---- PE header
    check "PE magic $MAGIC" [ "$(header_field Magic)" = "$MAGIC" ]
    check "subsystem 2 (Windows GUI)" [ "$(header_field Subsystem)" = 00000002 ]
    local pe time_stamp major minor
    pe=$(le32 "$exe" 60)
    time_stamp=$(le32 "$exe" $((pe + 8)))
    check "no link time in the header (time stamp $time_stamp)" [ "$time_stamp" = 0 ]
    local field name
    for field in OSystem Subsystem; do
        major=$(header_field "Major${field}Version") minor=$(header_field "Minor${field}Version")
        name=${field/OSystem/operating system}
        # shellcheck disable=SC2086 # MAX_OS is two numbers
        check "${name,,} version $major.$minor is at most ${MAX_OS/ /.}" version_at_most "$major" "$minor" $MAX_OS
    done

    # ---- imports
    local imports dlls offenders dll
    imports=$(imports_of "$OBJDUMP" "$exe")
    dlls=$(awk '{ print $1 }' <<< "$imports" | sort -uf)
    if [ -z "$imports" ]; then
        bad "no imports found"
    elif check_imports $dlls > /dev/null; then
        ok "imports only Windows' own DLLs: $(tr '\n' ' ' <<< "$dlls")"
    else
        check_imports $dlls
        failures=$((failures + 1))
    fi
    local planted=""
    for dll in $dlls; do is_known_dll "$dll" || planted+="$dll "; done
    if [ -z "$planted" ]; then ok "imports only DLLs that Windows takes from its system folder alone"
    else bad "imports DLLs that a file beside the EXE could stand in for: $planted"; fi
    if [ "$arch" = X86 ]; then
        offenders=$(xp_offenders "$imports")
        if [ -z "$offenders" ]; then ok "imports nothing that Windows XP SP3 lacks"
        else bad "imports what Windows XP SP3 lacks: $offenders"; fi
    fi

    # ---- hardening (CODE: the disassembly)
    check_hardening "$OBJDUMP" "$exe"
    [ "$NAME" != TarvexActiveXInstaller ] || check_stack_protector "${5:-${exe%.exe}.map}"

    # ---- version information and manifest
    local resources manifest
    resources=$("$WINDRES" -J coff -i "$exe" -O rc 2>&1) || { bad "$WINDRES cannot read the resources"; resources=; }
    resources=$(sed 's/^[[:space:]]*//' <<< "$resources")
    expect_in "$resources" "file version $version" "FILEVERSION ${fields[0]}, ${fields[1]}, ${fields[2]}, ${fields[3]}"
    expect_in "$resources" "string table German, Unicode" 'BLOCK "040704B0"'
    expect_in "$resources" "CompanyName $company" "VALUE \"CompanyName\", \"$company\""
    expect_in "$resources" "FileVersion $text" "VALUE \"FileVersion\", \"$text\""
    expect_in "$resources" "ProductVersion $text" "VALUE \"ProductVersion\", \"$text\""
    expect_in "$resources" "InternalName" "VALUE \"InternalName\", \"$NAME\""
    expect_in "$resources" "OriginalFilename" "VALUE \"OriginalFilename\", \"$NAME.exe\""
    expect_in "$resources" "translation 0x407, 1200" 'VALUE "Translation", 0x407, 1200'
    # The manifest as text: windres quotes it line by line, quotes doubled.
    manifest=$(awk '/RT_MANIFEST/ { on = 1; next } on && /^END/ { exit } on && /^"/ { print }' <<< "$resources" |
               sed 's/^"//; s/\\n"$//; s/"$//; s/""/"/g' | tr '\n' ' ' | tr -s ' ')
    manifest_has() { grep -qF -- "$1" <<< "$manifest"; }
    if [ "$NAME" = TarvexActiveXInstaller ]; then
        check "manifest: identity TarvexActiveXInstaller 1.1.0.3 for $arch" manifest_has \
            "<assemblyIdentity name=\"TarvexActiveXInstaller\" version=\"1.1.0.3\" type=\"win32\" processorArchitecture=\"$arch\"/>"
        check "manifest: Common Controls 6.0.0.0 for $arch" manifest_has \
            "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"$arch\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        check "manifest: administrator rights" manifest_has \
            '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
    else
        check "manifest: identity $NAME $version for $arch" manifest_has \
            "<assemblyIdentity name=\"$NAME\" version=\"$version\" type=\"win32\" processorArchitecture=\"$arch\"/>"
        check "manifest: the rights it is started with (as the service's, SYSTEM)" manifest_has \
            '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
    fi
    check "manifest: no other architecture" [ "$(grep -o 'processorArchitecture="[^"]*"' <<< "$manifest" | sort -u)" = "processorArchitecture=\"$arch\"" ]

    echo "imported functions:"
    awk '{ print "  " $1 " " $2 }' <<< "$imports"
    checks_summary
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    NAME=TarvexActiveXInstaller
    if [ "${1:-}" = --starter ]; then NAME=TarvexRegisterAtRestart; shift; fi
    [ $# -eq 4 ] || [ $# -eq 5 ] || { echo "usage: $0 [--starter] EXE X86|amd64 COMPANY VERSION [MAP]" >&2; exit 2; }
    main "$@"
fi
