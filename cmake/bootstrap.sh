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

for pkg in cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
           wine wine32:i386 wine64 xvfb xauth imagemagick googletest time; do
    have_pkg "$pkg" || need+=("$pkg")
done

if [ "${#need[@]}" -gt 0 ]; then
    echo "bootstrap: installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
echo "bootstrap: all tools present"
