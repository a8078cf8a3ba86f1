#!/usr/bin/env bash
# signing.sh EXE ARCH COMPANY VERSION DLL WINDRES WORK
#
# Signs the tree's program EXE (X86 or amd64) and a package of it with the
# control DLL through packaging/sign.sh, as the build does, with a throw-away
# certificate made here (openssl, RSA, code signing, a password new each run),
# and checks the signatures with osslsigncode: they verify with that
# certificate as trust anchor and fail after one byte of code is changed; the
# signed program still passes the EXE file check; removing the signature gives
# the unsigned bytes back, the detached signature attached to the unsigned
# build gives the signed bytes, signing twice gives the same bytes; a wrong
# password stops the signing with its message and leaves nothing signed; the
# password is on no command line. Needs no Wine. Leaves the signed program in
# WORK/signed/ for the end-to-end run of it. Prints osslsigncode's verdicts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../static/checks.sh"
SIGN=$here/../../packaging/sign.sh
BUILD_PACKAGE=$here/../../packaging/build-package.sh

[ $# -eq 7 ] || { echo "usage: $0 EXE X86|amd64 COMPANY VERSION DLL WINDRES WORK" >&2; exit 2; }
EXE=$1 ARCH=$2 COMPANY=$3 VERSION=$4 DLL=$5 WINDRES=$6 WORK=$7
case $ARCH in X86) OBJDUMP=i686-w64-mingw32-objdump ;; *) OBJDUMP=x86_64-w64-mingw32-objdump ;; esac
rm -rf "$WORK"
mkdir -p "$WORK/signed"
SIGNED=$WORK/signed/TarvexActiveXInstaller.exe SIGNATURE=$WORK/signed/TarvexActiveXInstaller.exe.p7s

# A throw-away code-signing certificate and its PKCS#12 file; the password
# reaches openssl through the environment.
make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$WORK/key.pem" -out "$WORK/cert.pem" \
        -subj "/CN=Tarvex throw-away test signing" -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
        openssl pkcs12 -export -inkey "$WORK/key.pem" -in "$WORK/cert.pem" -out "$WORK/key.pfx" \
            -passout env:PASSWORD >/dev/null 2>&1
}

# The build's signing: osslsigncode through a shim that records its arguments.
sign() {
    PATH=$WORK/shim:$PATH TARVEX_SIGN_PFX=$WORK/key.pfx TARVEX_SIGN_PASSWORD=$PASSWORD bash "$SIGN" "$@"
}
make_shim() {
    mkdir -p "$WORK/shim"
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\nexec "%s" "$@"\n' "$WORK/osslsigncode-arguments" \
        "$(command -v osslsigncode)" > "$WORK/shim/osslsigncode"
    chmod +x "$WORK/shim/osslsigncode"
}

# verify FILE: osslsigncode's verdict with the certificate as trust anchor,
# kept in WORK/verify.txt.
verify() { osslsigncode verify -CAfile "$WORK/cert.pem" -in "$1" > "$WORK/verify.txt" 2>&1; }
verdict() {
    grep -E '^(Message digest algorithm|Signature verification|Number of verified|Succeeded|Failed)|Text description|Subject' \
        "$WORK/verify.txt" | sed 's/^[[:space:]]*/    /'
}
signed_with_sha256_and_description() {
    grep -q '^Message digest algorithm  : SHA256' "$WORK/verify.txt" &&
        grep -q 'Text description: TarvexActiveXInstaller$' "$WORK/verify.txt"
}

# A copy of the signed program with one byte of its code changed.
tampered_copy() {
    local offset byte
    offset=$("$OBJDUMP" -h "$SIGNED" | awk '$2 == ".text" { print $6; exit }')
    [ -n "$offset" ] || return 1
    offset=$((16#$offset + 64))
    cp "$SIGNED" "$WORK/tampered.exe"
    byte=$(od -An -tu1 -j "$offset" -N 1 "$SIGNED" | tr -d ' ')
    printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
        dd of="$WORK/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
    ! cmp -s "$SIGNED" "$WORK/tampered.exe"
}

check_program() {
    check "the program is signed" sign program "$EXE" "$SIGNED" "$SIGNATURE"
    verify "$SIGNED"
    check "osslsigncode verifies the program with the certificate as trust anchor" grep -qx 'Succeeded' "$WORK/verify.txt"
    verdict
    check "SHA-256 digest, description TarvexActiveXInstaller" signed_with_sha256_and_description
    check "the signed program passes the EXE file check" \
        bash "$here/../static/check-exe.sh" "$SIGNED" "$ARCH" "$COMPANY" "$VERSION" "${EXE%.exe}.map" > "$WORK/check-exe.txt"
    grep -E '^(ok: size|FAIL)' "$WORK/check-exe.txt" | sed 's/^/    /'
    check "one byte of code changed: the verification fails" tampered_copy
    check "... osslsigncode rejects it" bash -c '! osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1' _ \
        "$WORK/cert.pem" "$WORK/tampered.exe"
}

check_same_bytes() {
    osslsigncode remove-signature -in "$SIGNED" -out "$WORK/removed.exe" >/dev/null 2>&1
    check "removing the signature gives back the unsigned bytes" cmp -s "$WORK/removed.exe" "$EXE"
    osslsigncode attach-signature -sigin "$SIGNATURE" -CAfile "$WORK/cert.pem" -in "$EXE" -out "$WORK/attached.exe" \
        >/dev/null 2>&1
    check "the detached signature on the unsigned build gives the signed bytes" cmp -s "$WORK/attached.exe" "$SIGNED"
    sign program "$EXE" "$WORK/again.exe" "$WORK/again.p7s" >/dev/null
    check "signing twice gives the same bytes" cmp -s "$WORK/again.exe" "$SIGNED"
    echo "    unsigned $(stat -c %s "$EXE") bytes, signed $(stat -c %s "$SIGNED") bytes, signature $(stat -c %s "$SIGNATURE") bytes"
}

check_package() {
    local unpacked
    bash "$BUILD_PACKAGE" --exe "$SIGNED" --dll "$DLL" --company "$COMPANY" --windres "$WINDRES" \
        --out "$WORK/unsigned.msi" >/dev/null
    check "the package is signed" sign package "$WORK/unsigned.msi" "$WORK/signed.msi"
    verify "$WORK/signed.msi"
    check "osslsigncode verifies the package with the certificate as trust anchor" grep -qx 'Succeeded' "$WORK/verify.txt"
    verdict
    unpacked=$WORK/unpacked
    msiextract -C "$unpacked" "$WORK/signed.msi" >/dev/null 2>&1
    check "the package carries the signed program" \
        cmp -s "$(find "$unpacked" -name TarvexActiveXInstaller.exe | head -n 1)" "$SIGNED"
}

check_wrong_password() {
    local out=$WORK/wrong/TarvexActiveXInstaller.exe
    mkdir -p "$WORK/wrong"
    cp "$SIGNED" "$out" && cp "$SIGNATURE" "$out.p7s"  # as an earlier build left them
    PASSWORD=not-$PASSWORD sign program "$EXE" "$out" "$out.p7s" 2> "$WORK/wrong.txt"
    check "a wrong password stops the signing" [ $? -ne 0 ]
    sed 's/^/    /' "$WORK/wrong.txt"
    check "... with its message" grep -q 'wrong password' "$WORK/wrong.txt"
    check "... and leaves no signed file and no signature" [ -z "$(ls -A "$WORK/wrong")" ]
}

check_password_unseen() {
    check "the password is on no command line of osslsigncode" \
        bash -c '! grep -qF -- "$1" "$2"' _ "$PASSWORD" "$WORK/osslsigncode-arguments"
    check "... and in no file the signing wrote" bash -c '! grep -rqF -- "$1" "$2/signed" "$2/wrong"' _ "$PASSWORD" "$WORK"
}

PASSWORD=$(openssl rand -hex 12)
export PASSWORD
make_certificate || { echo "FAIL: openssl could not make the throw-away certificate"; exit 1; }
make_shim
echo "signing $EXE ($ARCH) with a throw-away certificate"
check_program
check_same_bytes
check_package
check_wrong_password
check_password_unseen
checks_summary
