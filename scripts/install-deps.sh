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
          nodejs fp-compiler fpc-source-3.2.2 lintian doxygen)

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
# A mirror in the middle of a sync serves an index that does not match its
# Release file ("File has unexpected size ... Mirror sync in progress?"), and
# apt-get update then fails on that one index. Such a mirror is whole again
# within minutes: the update is tried a few times with a pause. When an index
# still fails, the install goes on with what is known, and says precisely
# which package it cannot get; a failed install stays fatal.
updated=0
for attempt in 1 2 3 4 5; do
  if update_log=$($SUDO apt-get update -qq 2>&1); then
    updated=1
    break
  fi
  echo "apt-get update failed (attempt $attempt of 5):" >&2
  printf '%s\n' "$update_log" | sed -n '/^[EW]:/p' >&2
  [ "$attempt" -lt 5 ] && sleep $((attempt * 15))
done
if [ "$updated" -eq 0 ]; then
  echo "apt-get update still reports a failed index; installing from the indexes it did get" >&2
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
