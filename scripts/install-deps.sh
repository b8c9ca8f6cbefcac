#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the project needs to build, test and run on a Debian machine.
# Runs as root (or through sudo when it is there). The i686 Windows build is
# tested under 32-bit Wine, whose packages are of Debian's i386 architecture:
# that architecture is added to dpkg's foreign ones when missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev fonts-dejavu-core clang-format dpkg-dev file clang-14 libfuzzer-14-dev
          libclang-rt-14-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine64 wine32:i386 xvfb
          nodejs fp-compiler fpc-source-3.2.2)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
foreign=$(dpkg --print-foreign-architectures)
if ! grep -qx i386 <<<"$foreign"; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
