#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the project needs to build, test and run on a Debian machine.
# Runs as root (or through sudo when it is there). The i686 Windows build is
# tested under 32-bit Wine, whose packages are of Debian's i386 architecture:
# that architecture is added to dpkg's foreign ones when missing. 32-bit Wine
# is installed on its own, after the rest: see i386_packages below.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev fonts-dejavu-core clang-format dpkg-dev file clang-14 libfuzzer-14-dev
          libclang-rt-14-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest wine64 xvfb
          nodejs fp-compiler fpc-source-3.2.2 lintian doxygen python3)
# Only the run of the i686 build under Wine needs these; scripts/test-windows.sh
# skips that run, saying why, on a machine without them.
i386_packages=(wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
missing_i386=()
for p in "${i386_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing_i386+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
foreign=$(dpkg --print-foreign-architectures)
if ! grep -qx i386 <<<"$foreign"; then
  $SUDO dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]} ${missing_i386[*]}"
# A mirror in the middle of a sync serves an index that does not match its
# Release file ("File has unexpected size ... Mirror sync in progress?"), and
# apt-get update then fails on that one index. Such a mirror is whole again
# within minutes: the update is tried a few times with a pause. When an index
# still fails, the install goes on with what is known, and says precisely
# which package it cannot get; a failed install stays fatal.
updated=0
failed_indexes=""
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
  failed_indexes=$(printf '%s\n' "$update_log" | sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p')
  echo "apt-get update still reports a failed index; installing from the indexes it did get" >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# 32-bit Wine depends on i386 builds of libraries whose amd64 builds are
# installed, at the very same version. When the i386 index of the archive that
# holds the newer version failed to download, those cannot be matched, and
# the i386 packages cannot be installed until the mirror is whole: that is
# said, and the Windows run goes on without the i686 build under Wine. In
# every other case a failed install stays fatal.
if [ ${#missing_i386[@]} -gt 0 ]; then
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing_i386[@]}" >/dev/null; then
    if ! grep -q 'binary-i386' <<<"$failed_indexes"; then exit 1; fi
    echo "cannot install ${missing_i386[*]}: the mirror's i386 index failed to download:" >&2
    grep 'binary-i386' <<<"$failed_indexes" | sed 's/^/  /' >&2
    echo "the i686 build will not be run under Wine on this machine until the mirror is whole" >&2
  fi
fi
