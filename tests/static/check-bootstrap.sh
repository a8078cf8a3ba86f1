#!/usr/bin/env bash
# check-bootstrap.sh: cmake/bootstrap.sh against a stub mirror. apt-get,
# dpkg, dpkg-query and locale are stubs first on PATH, each case telling them
# how the mirror behaves; the pause between tries is 0. No real apt runs and
# nothing on the machine changes. Each case: what the stubs do, the exit code
# expected, a line the output must hold, and the apt-get calls in order.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/static/checks.sh
source "$here/checks.sh"
BOOTSTRAP=$here/../../cmake/bootstrap.sh
STUBS=$(mktemp -d)
trap 'rm -rf "$STUBS"' EXIT

# The stubs. STUB_INSTALLED=yes: every package is there. STUB_UPDATE: one
# exit code per try of apt-get update, the last one repeated. STUB_INSTALL,
# STUB_INSTALL_T: the exit code of apt-get install without and with -t.
write_stubs() {
    cat > "$STUBS/apt-get" <<'STUB'
#!/usr/bin/env bash
target=''
[[ " $* " != *" -t "* ]] || target=" -t $(sed 's/.* -t \([^ ]*\).*/\1/' <<< "$*")"
echo "apt-get $1$target" >> "$STUB_CALLS"
case $1 in
update)
    tries=$(grep -c '^apt-get update' "$STUB_CALLS")
    read -r -a codes <<< "$STUB_UPDATE"
    code=${codes[tries - 1]:-${codes[${#codes[@]} - 1]}}
    [ "$code" = 0 ] || echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    exit "$code" ;;
install)
    if [[ " $* " == *" -t "* ]]; then exit "$STUB_INSTALL_T"; fi
    [ "$STUB_INSTALL" = 0 ] || echo "E: Unable to correct problems, you have held broken packages." >&2
    exit "$STUB_INSTALL" ;;
esac
STUB
    cat > "$STUBS/dpkg-query" <<'STUB'
#!/usr/bin/env bash
[ "$STUB_INSTALLED" = yes ] && printf 'install ok installed'
STUB
    cat > "$STUBS/dpkg" <<'STUB'
#!/usr/bin/env bash
case $1 in --print-foreign-architectures) echo i386 ;; *) echo "dpkg $*" >> "$STUB_CALLS" ;; esac
STUB
    printf '#!/bin/sh\necho ja_JP.utf8\n' > "$STUBS/locale"
    chmod +x "$STUBS"/*
}

# run_case NAME INSTALLED UPDATE INSTALL INSTALL_T EXPECTED_EXIT LINE CALLS
run_case() {
    local name=$1 rc=0 calls
    : > "$STUBS/calls"
    env PATH="$STUBS:$PATH" TARVEX_APT_RETRY_PAUSE=0 STUB_CALLS="$STUBS/calls" STUB_INSTALLED="$2" \
        STUB_UPDATE="$3" STUB_INSTALL="$4" STUB_INSTALL_T="$5" bash "$BOOTSTRAP" > "$STUBS/out" 2>&1 || rc=$?
    calls=$(tr '\n' '|' < "$STUBS/calls")
    sed 's/^/    | /' "$STUBS/out"
    check "$name: exit code $6" [ "$rc" -eq "$6" ]
    [ -z "$7" ] || check "$name: says \"$7\"" grep -qF -- "$7" "$STUBS/out"
    check "$name: apt-get calls $8" [ "$calls" = "$8" ]
}

write_stubs
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
run_case "an up-to-date machine" yes 0 0 0 0 "all tools present" ""
run_case "a mirror mid-sync for one try" no "100 0" 0 0 0 "again in 0 s" \
    "apt-get update|apt-get update|apt-get install|"
run_case "an index that keeps failing" no 100 100 0 0 "installing from the base release $release" \
    "apt-get update|apt-get update|apt-get update|apt-get install -t $release|"
run_case "an install that can't be resolved" no 0 100 0 0 "the install could not be resolved" \
    "apt-get update|apt-get install|apt-get install -t $release|"
run_case "everything failing" no 100 100 100 1 "not even from the base release $release" \
    "apt-get update|apt-get update|apt-get update|apt-get install -t $release|"
checks_summary
