#!/usr/bin/env bash
# sign.sh program UNSIGNED.exe|.dll SIGNED.exe|.dll SIGNATURE.p7s
# sign.sh package UNSIGNED.msi SIGNED.msi
#
# Authenticode signatures with osslsigncode: SHA-256 digest, description
# "TarvexActiveXInstaller", the key and certificate chain of the PKCS#12 file
# TARVEX_SIGN_PFX (absolute, or relative to the source folder). Its password,
# TARVEX_SIGN_PASSWORD (may be empty), reaches osslsigncode through a pipe,
# never on a command line. With TARVEX_SIGN_TIMESTAMP_URL, RFC 3161 servers
# (one or more URLs, separated by blanks, tried in this order until one
# answers) time-stamp the signature; without it the signing time is the
# commit's (SOURCE_DATE_EPOCH when set), so that one commit signed with one
# key gives the same bytes. Proxy variables (http_proxy, no_proxy) are left
# as they are set: osslsigncode reaches the servers through them. "program" also writes the detached signature (DER PKCS#7):
# attached to an unsigned build of the same commit it gives the signed file.
#
# A failure says why and leaves neither a signed file nor a signature where
# they belong, not even an earlier one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
DESCRIPTION=TarvexActiveXInstaller

die() { echo "sign: $*" >&2; exit 1; }

signing_key() {
    local pfx=${TARVEX_SIGN_PFX:-}
    [ -n "$pfx" ] || die "TARVEX_SIGN_PFX is not set: configure the build again without it, or set it"
    case $pfx in /*) ;; *) pfx=$source_dir/$pfx ;; esac
    [ -f "$pfx" ] && [ -r "$pfx" ] || die "TARVEX_SIGN_PFX names no readable file: $pfx"
    printf '%s' "$pfx"
}

# The signing time: the commit's, or SOURCE_DATE_EPOCH.
signing_time() {
    if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then printf '%s' "$SOURCE_DATE_EPOCH"; return; fi
    git -C "$source_dir" log -1 --format=%ct 2>/dev/null ||
        die "can't tell the commit's time (no git checkout): set SOURCE_DATE_EPOCH or TARVEX_SIGN_TIMESTAMP_URL"
}

# sign_file IN OUT: OUT is IN signed, or absent.
sign_file() {
    local in=$1 out=$2 pfx tmp rc=0
    pfx=$(signing_key)
    local args=(sign -pkcs12 "$pfx" -h sha256 -n "$DESCRIPTION")
    if [ -n "${TARVEX_SIGN_TIMESTAMP_URL:-}" ]; then
        local url
        for url in $TARVEX_SIGN_TIMESTAMP_URL; do args+=(-ts "$url"); done
    else
        local time
        time=$(signing_time)
        args+=(-time "$time")
    fi
    tmp=$(mktemp "$out.XXXXXX")
    rm -f "$tmp"  # osslsigncode writes it anew
    if [ -n "${TARVEX_SIGN_PASSWORD:-}" ]; then
        osslsigncode "${args[@]}" -readpass <(printf '%s' "$TARVEX_SIGN_PASSWORD") -in "$in" -out "$tmp" \
            >"$tmp.log" 2>&1 || rc=$?
    else
        osslsigncode "${args[@]}" -in "$in" -out "$tmp" </dev/null >"$tmp.log" 2>&1 || rc=$?
    fi
    if [ $rc -ne 0 ]; then
        local why
        why=$(grep -vE '^(Succeeded$|Using environmental HTTP proxy|Connecting to)' "$tmp.log" | sed -n '1,3p' | tr '\n' ' ')
        local stamped=yes
        grep -q 'timestamping failed' "$tmp.log" && stamped=no
        rm -f "$tmp" "$tmp.log"
        [ "$stamped" = yes ] || die "no time-stamp server answered (TARVEX_SIGN_TIMESTAMP_URL: $TARVEX_SIGN_TIMESTAMP_URL;" \
            "a proxy in http_proxy must reach them, or no_proxy name them). osslsigncode: $why"
        if grep -qi 'password\|PKCS#12\|read key' <<< "$why"; then
            die "can't read the key in $pfx: wrong password (TARVEX_SIGN_PASSWORD) or not a PKCS#12 file. osslsigncode: $why"
        fi
        die "osslsigncode could not sign $in: $why"
    fi
    rm -f "$tmp.log"
    mv "$tmp" "$out"
}

# extract_signature SIGNED OUT: false when the signature can't be taken out.
extract_signature() {
    local tmp
    tmp=$(mktemp "$2.XXXXXX")
    rm -f "$tmp"
    osslsigncode extract-signature -in "$1" -out "$tmp" >/dev/null 2>&1 || { rm -f "$tmp"; return 1; }
    mv "$tmp" "$2"
}

case "${1:-}" in
program)
    [ $# -eq 4 ] || die "usage: sign.sh program UNSIGNED.exe SIGNED.exe SIGNATURE.p7s"
    mkdir -p "$(dirname "$3")" "$(dirname "$4")"
    rm -f "$3" "$4"
    sign_file "$2" "$3"
    extract_signature "$3" "$4" || { rm -f "$3"; die "can't take the signature out of $3"; }
    echo "sign: $3 and its detached signature $4"
    ;;
package)
    [ $# -eq 3 ] || die "usage: sign.sh package UNSIGNED.msi SIGNED.msi"
    mkdir -p "$(dirname "$3")"
    rm -f "$3"
    sign_file "$2" "$3"
    echo "sign: $3"
    ;;
*) die "usage: sign.sh program UNSIGNED.exe SIGNED.exe SIGNATURE.p7s | sign.sh package UNSIGNED.msi SIGNED.msi" ;;
esac
