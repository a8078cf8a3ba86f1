#!/usr/bin/env bash
# signing.sh EXE ARCH COMPANY VERSION DLL WINDRES ACTIONS STARTER WORK
#
# Signs the tree's program EXE (X86 or amd64), its custom actions' DLL
# ACTIONS, the restart's starter STARTER, and a package of them with the
# control DLL, through
# packaging/sign.sh as the build does, with a throw-away certificate made here
# (openssl, RSA, code signing, valid two days, a password new each run), and
# checks the signatures with osslsigncode:
# - without a time-stamp: they verify with that certificate as trust anchor
#   and fail after one byte of code is changed; the signed program still
#   passes the EXE file check; removing the signature gives the unsigned
#   bytes back, the detached signature attached to the unsigned build gives
#   the signed bytes, signing twice gives the same bytes; a wrong password
#   stops the signing with its message and leaves nothing signed; the
#   password is on no command line;
# - time-stamped by a throw-away RFC 3161 server of ours on 127.0.0.1
#   (tsa-server.py, openssl ts), reached past a dead http_proxy through
#   no_proxy, after a first URL where nothing answers: the program and the
#   package carry a time-stamp that verifies, the signature still verifies
#   after the certificate has expired while one without a time-stamp fails
#   there, and the detached signature still gives the published bytes.
# Needs no Wine. Leaves the signed program in WORK/signed/ for the
# end-to-end run of it. Prints osslsigncode's verdicts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/../static/checks.sh"
SIGN=$here/../../packaging/sign.sh
BUILD_PACKAGE=$here/../../packaging/build-package.sh
TSA_START_TIMEOUT_S=20

[ $# -eq 9 ] || { echo "usage: $0 EXE X86|amd64 COMPANY VERSION DLL WINDRES ACTIONS STARTER WORK" >&2; exit 2; }
EXE=$1 ARCH=$2 COMPANY=$3 VERSION=$4 DLL=$5 WINDRES=$6 ACTIONS=$7 STARTER=$8 WORK=$9
case $ARCH in X86) OBJDUMP=i686-w64-mingw32-objdump ;; *) OBJDUMP=x86_64-w64-mingw32-objdump ;; esac
rm -rf "$WORK"
mkdir -p "$WORK/signed" "$WORK/tsa"
SIGNED=$WORK/signed/TarvexActiveXInstaller.exe SIGNATURE=$WORK/signed/TarvexActiveXInstaller.exe.p7s
SIGNED_ACTIONS=$WORK/signed/TarvexCustomActions.dll SIGNED_STARTER=$WORK/signed/TarvexRegisterAtRestart.exe
TSA_PID=''

# A throw-away code-signing certificate, valid two days, and its PKCS#12
# file; the password reaches openssl through the environment.
make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$WORK/key.pem" -out "$WORK/cert.pem" \
        -subj "/CN=Tarvex throw-away test signing" -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
        openssl pkcs12 -export -inkey "$WORK/key.pem" -in "$WORK/cert.pem" -out "$WORK/key.pfx" \
            -passout env:PASSWORD >/dev/null 2>&1
}

# A throw-away time-stamp authority, valid thirty days: its root, its
# time-stamping certificate, and the configuration openssl ts answers with.
make_tsa() {
    local tsa=$WORK/tsa
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$tsa/root.key" -out "$tsa/root.pem" \
        -subj "/CN=Tarvex throw-away TSA root" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1 &&
        openssl req -newkey rsa:2048 -nodes -keyout "$tsa/tsa.key" -out "$tsa/tsa.csr" \
            -subj "/CN=Tarvex throw-away TSA" >/dev/null 2>&1 &&
        printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
            extendedKeyUsage=critical,timeStamping > "$tsa/tsa.ext" &&
        openssl x509 -req -in "$tsa/tsa.csr" -CA "$tsa/root.pem" -CAkey "$tsa/root.key" -CAcreateserial -days 30 \
            -extfile "$tsa/tsa.ext" -out "$tsa/tsa.pem" >/dev/null 2>&1 || return 1
    echo 01 > "$tsa/serial"
    cat > "$tsa/tsa.cnf" <<'EOF'
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = ./serial
signer_cert = ./tsa.pem
signer_key = ./tsa.key
certs = ./root.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
}

# Starts the time-stamp server; TSA_PORT is its port. Stopped by its id.
start_tsa() {
    python3 "$here/tsa-server.py" "$WORK/tsa/tsa.cnf" > "$WORK/tsa/port" 2> "$WORK/tsa/server.err" &
    TSA_PID=$!
    local tenths
    for ((tenths = 0; tenths < TSA_START_TIMEOUT_S * 10; tenths++)); do
        TSA_PORT=$(head -n 1 "$WORK/tsa/port")
        [ -z "$TSA_PORT" ] || return 0
        kill -0 "$TSA_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "FAIL: the time-stamp server did not start within $TSA_START_TIMEOUT_S s: $(head -c 300 "$WORK/tsa/server.err")"
    return 1
}
stop_tsa() {
    [ -n "$TSA_PID" ] || return 0
    kill "$TSA_PID" 2>/dev/null || true
    wait "$TSA_PID" 2>/dev/null || true
    TSA_PID=''
}
trap stop_tsa EXIT

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

# verify FILE [OPTION...]: osslsigncode's verdict with the certificates as
# trust anchors, kept in WORK/verify.txt.
verify() {
    local file=$1
    shift
    osslsigncode verify -CAfile "$WORK/cert.pem" -TSA-CAfile "$WORK/tsa/root.pem" "$@" -in "$file" \
        > "$WORK/verify.txt" 2>&1
}
verdict() {
    grep -E '^(Message digest algorithm|Signature verification|Number of verified|Succeeded|Failed)|Text description|Subject|Timestamp time' \
        "$WORK/verify.txt" | sed 's/^[[:space:]]*/    /'
}
signed_with_sha256_and_description() {
    grep -q '^Message digest algorithm  : SHA256' "$WORK/verify.txt" &&
        grep -q 'Text description: TarvexActiveXInstaller$' "$WORK/verify.txt"
}
verified() { grep -qx 'Succeeded' "$WORK/verify.txt"; }
time_stamped() { verified && grep -q 'Timestamp time:' "$WORK/verify.txt"; }

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
    check "osslsigncode verifies the program with the certificate as trust anchor" verified
    verdict
    check "SHA-256 digest, description TarvexActiveXInstaller" signed_with_sha256_and_description
    check "the signed program passes the EXE file check" \
        bash "$here/../static/check-exe.sh" "$SIGNED" "$ARCH" "$COMPANY" "$VERSION" "${EXE%.exe}.map" > "$WORK/check-exe.txt"
    grep -E '^(ok: size|FAIL)' "$WORK/check-exe.txt" | sed 's/^/    /'
    check "one byte of code changed: the verification fails" tampered_copy
    check "... osslsigncode rejects it" bash -c '! osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1' _ \
        "$WORK/cert.pem" "$WORK/tampered.exe"
    check "the custom actions' DLL is signed" sign program "$ACTIONS" "$SIGNED_ACTIONS" "$SIGNED_ACTIONS.p7s"
    verify "$SIGNED_ACTIONS"
    check "... and verifies" verified
    check "the restart's starter is signed" sign program "$STARTER" "$SIGNED_STARTER" "$SIGNED_STARTER.p7s"
    verify "$SIGNED_STARTER"
    check "... and verifies" verified
    check "... and still passes its file check" \
        bash "$here/../static/check-exe.sh" --starter "$SIGNED_STARTER" "$ARCH" "$COMPANY" "$VERSION" > "$WORK/check-starter.txt"
}

# attaches_back UNSIGNED SIGNATURE SIGNED: the detached signature on the unsigned file gives the signed bytes.
attaches_back() {
    rm -f "$WORK/attached.exe"  # osslsigncode writes no file that is there
    osslsigncode attach-signature -sigin "$2" -CAfile "$WORK/cert.pem" -TSA-CAfile "$WORK/tsa/root.pem" -in "$1" \
        -out "$WORK/attached.exe" >/dev/null 2>&1 && cmp -s "$WORK/attached.exe" "$3"
}

check_same_bytes() {
    osslsigncode remove-signature -in "$SIGNED" -out "$WORK/removed.exe" >/dev/null 2>&1
    check "removing the signature gives back the unsigned bytes" cmp -s "$WORK/removed.exe" "$EXE"
    check "the detached signature on the unsigned build gives the signed bytes" attaches_back "$EXE" "$SIGNATURE" "$SIGNED"
    sign program "$EXE" "$WORK/again.exe" "$WORK/again.p7s" >/dev/null
    check "signing twice gives the same bytes" cmp -s "$WORK/again.exe" "$SIGNED"
    echo "    unsigned $(stat -c %s "$EXE") bytes, signed $(stat -c %s "$SIGNED") bytes, signature $(stat -c %s "$SIGNATURE") bytes"
}

# build_signed_package PROGRAM ACTIONS STARTER OUT: the package of these, signed.
build_signed_package() {
    bash "$BUILD_PACKAGE" --exe "$1" --dll "$DLL" --actions "$2" --starter "$3" --company "$COMPANY" \
        --windres "$WINDRES" --out "$WORK/unsigned.msi" >/dev/null && sign package "$WORK/unsigned.msi" "$4"
}

check_package() {
    local unpacked=$WORK/unpacked
    check "the package is signed" build_signed_package "$SIGNED" "$SIGNED_ACTIONS" "$SIGNED_STARTER" "$WORK/signed.msi"
    verify "$WORK/signed.msi"
    check "osslsigncode verifies the package with the certificate as trust anchor" verified
    verdict
    msiextract -C "$unpacked" "$WORK/signed.msi" >/dev/null 2>&1
    check "the package carries the signed program" \
        cmp -s "$(find "$unpacked" -name TarvexActiveXInstaller.exe -print -quit)" "$SIGNED"
    msiinfo extract "$WORK/signed.msi" Binary.TarvexActions > "$WORK/actions-stream.dll" 2>/dev/null
    check "... and the signed custom actions" cmp -s "$WORK/actions-stream.dll" "$SIGNED_ACTIONS"
    check "... and the signed starter" \
        cmp -s "$(find "$unpacked" -name TarvexRegisterAtRestart.exe -print -quit)" "$SIGNED_STARTER"
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
    check "... and in no file the signing wrote" \
        bash -c '! grep -rqF -- "$1" "$2/signed" "$2/wrong" "$2/stamped"' _ "$PASSWORD" "$WORK"
}

# sign_stamped ARG...: sign.sh as a release signs, time-stamped, past a proxy
# that answers nothing: the first URL has no server, the second is ours, and
# no_proxy names the loopback address.
sign_stamped() {
    http_proxy=http://127.0.0.1:9 no_proxy=127.0.0.1 \
        TARVEX_SIGN_TIMESTAMP_URL="http://127.0.0.1:1/ http://127.0.0.1:$TSA_PORT/" sign "$@"
}

build_stamped_package() {
    http_proxy=http://127.0.0.1:9 no_proxy=127.0.0.1 \
        TARVEX_SIGN_TIMESTAMP_URL="http://127.0.0.1:1/ http://127.0.0.1:$TSA_PORT/" build_signed_package "$@"
}

check_time_stamped() {
    local stamped=$WORK/stamped/TarvexActiveXInstaller.exe expired
    mkdir -p "$WORK/stamped"
    echo "time-stamped, by http://127.0.0.1:$TSA_PORT/ after http://127.0.0.1:1/, past the proxy http://127.0.0.1:9"
    check "the program is signed and time-stamped (the dead first URL falls through to the second)" \
        sign_stamped program "$EXE" "$stamped" "$stamped.p7s"
    check "... both URLs were handed to osslsigncode, in order" \
        grep -qF -- "-ts http://127.0.0.1:1/ -ts http://127.0.0.1:$TSA_PORT/" "$WORK/osslsigncode-arguments"
    verify "$stamped"
    check "the program's time-stamp verifies" time_stamped
    verdict
    expired=$(($(date -d "$(openssl x509 -in "$WORK/cert.pem" -noout -enddate | cut -d= -f2)" +%s) + 86400))
    verify "$stamped" -time "$expired"
    check "a day after the certificate expired the time-stamped signature still verifies" verified
    verify "$SIGNED" -time "$expired"
    check "... while the one without a time-stamp fails then" bash -c '! grep -qx Succeeded "$1"' _ "$WORK/verify.txt"
    check "the detached time-stamped signature on the unsigned build gives the published bytes" \
        attaches_back "$EXE" "$stamped.p7s" "$stamped"
    sign_stamped program "$ACTIONS" "$WORK/stamped/TarvexCustomActions.dll" "$WORK/stamped/TarvexCustomActions.dll.p7s" >/dev/null
    check "the package is signed and time-stamped" build_stamped_package "$stamped" \
        "$WORK/stamped/TarvexCustomActions.dll" "$SIGNED_STARTER" "$WORK/stamped.msi"
    verify "$WORK/stamped.msi"
    check "the package's time-stamp verifies" time_stamped
}

PASSWORD=$(openssl rand -hex 12)
export PASSWORD
make_certificate || { echo "FAIL: openssl could not make the throw-away certificate"; exit 1; }
make_tsa || { echo "FAIL: openssl could not make the throw-away time-stamp authority"; exit 1; }
make_shim
echo "signing $EXE ($ARCH) with a throw-away certificate"
check_program
check_same_bytes
check_package
check_wrong_password
if start_tsa; then check_time_stamped; else failures=$((failures + 1)); fi
stop_tsa
check_password_unseen
checks_summary
