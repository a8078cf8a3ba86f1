#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, and nothing that is already there.
# Safe to run again and again; every install goes through apt-get.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# wine32 comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

# Both thread models of both compilers: win32 for the EXE, posix for the tests.
for pkg in cmake make \
           g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
           g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           wine wine32:i386 wine64 xvfb xauth imagemagick googletest time locales \
           wixl msitools osslsigncode openssl; do
    have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ]; then
    echo "bootstrap: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
# The registry tests also run in a double-byte ANSI code page (932, Japanese),
# which Wine takes from the Unix locale.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
    echo "bootstrap: generating the locale ja_JP.UTF-8"
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
echo "bootstrap: all tools present"
