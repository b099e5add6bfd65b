#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test bench need.
# Quick when everything is present: it checks first and calls apt-get only
# for what is missing.
set -euo pipefail

need_i386=1
missing=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(
  cmake make
  g++-mingw-w64-i686-posix
  libz-mingw-w64-dev
  googletest libgtest-dev
  wine wine32:i386
  xvfb xauth
  zip unzip p7zip-full minizip zlib1g-dev
  tmux bsdutils
  wine64 g++-mingw-w64-x86-64-posix
  clang libclang-rt-14-dev g++
  python3 fp-utils nsis
)

if dpkg --print-foreign-architectures | grep -qx i386; then need_i386=0; fi
for p in "${packages[@]}"; do
  have "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ] && [ "$need_i386" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
if [ "$need_i386" -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
