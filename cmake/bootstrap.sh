#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, and nothing that is already there.
# Safe to run again and again; every install goes through apt-get.
#
# A Debian mirror in the middle of a sync can fail one index ("File has
# unexpected size ... Mirror sync in progress?"), and then the i386 half of a
# multiarch pair may be left without a matching version. So the update is
# tried a few times, and an install that still can't be made is made again
# with the machine's own release as the target release, which needs only the
# release's main suite. TARVEX_APT_RETRY_PAUSE sets the pause between tries
# (seconds; the tests set 0).
set -euo pipefail

APT_UPDATE_TRIES=3
retry_pause=${TARVEX_APT_RETRY_PAUSE:-15}

need=()
have_pkg() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *'install ok installed' ]]; }
die() { echo "bootstrap: $*" >&2; exit 1; }

# The release this machine was installed from (bookworm, say); empty when unknown.
base_release() {
    # shellcheck disable=SC1091  # the machine's own file, read for one value
    (. /etc/os-release 2>/dev/null && printf '%s' "${VERSION_CODENAME:-}") || true
}

# True when an update succeeded within APT_UPDATE_TRIES tries.
update_indexes() {
    local try
    for try in $(seq "$APT_UPDATE_TRIES"); do
        apt-get update -qq && return 0
        [ "$try" -eq "$APT_UPDATE_TRIES" ] || {
            echo "bootstrap: apt-get update failed (try $try of $APT_UPDATE_TRIES); again in ${retry_pause} s"
            sleep "$retry_pause"
        }
    done
    return 1
}

install_needed() {
    local updated=yes release
    export DEBIAN_FRONTEND=noninteractive
    update_indexes || updated=no
    if [ "$updated" = yes ] && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
        return 0
    fi
    release=$(base_release)
    [ -n "$release" ] || die "apt-get could not install ${need[*]}, and /etc/os-release names no release to fall back on." \
        "Try again later (a mirror may be syncing), or run: apt-get update && apt-get install ${need[*]}"
    if [ "$updated" = yes ]; then
        echo "bootstrap: the install could not be resolved; installing from the base release $release (apt-get -t $release)"
    else
        echo "bootstrap: an index still fails to download (a mirror may be syncing); installing from the base release $release (apt-get -t $release)"
    fi
    apt-get install -y -qq --no-install-recommends -t "$release" "${need[@]}" >/dev/null ||
        die "apt-get could not install ${need[*]}, not even from the base release $release." \
            "Try again later (a mirror may be syncing), or check /etc/apt/sources.list.d and the network."
}

# wine32 comes from the i386 architecture.
if ! grep -qx i386 <<< "$(dpkg --print-foreign-architectures)"; then
    dpkg --add-architecture i386
fi

# Both thread models of both compilers: win32 for the EXE, posix for the tests.
for pkg in cmake make \
           g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
           g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           wine wine32:i386 wine64 xvfb xauth imagemagick googletest time locales \
           wixl msitools osslsigncode openssl python3 shellcheck procps stress-ng; do
    have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ]; then
    echo "bootstrap: installing ${need[*]}"
    install_needed
fi
# The registry tests also run in a double-byte ANSI code page (932, Japanese),
# which Wine takes from the Unix locale.
if ! grep -qix 'ja_JP.utf-\?8' <<< "$(locale -a 2>/dev/null)"; then
    echo "bootstrap: generating the locale ja_JP.UTF-8"
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
echo "bootstrap: all tools present"
