#!/bin/bash
# Installs what building and testing need on Debian 12, as root; does
# nothing for what is already there.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(cmake make g++ googletest g++-mingw-w64-i686 wine wine32:i386 socat python3 zip memcached
          clang-14 libclang-rt-14-dev)
updated=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
