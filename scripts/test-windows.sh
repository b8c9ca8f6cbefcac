#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows builds, tested on this Linux machine under Wine (Debian's
# loaders called directly, a fresh prefix in each build folder), one test
# program per Wine process:
#  - i686, the build station hosts load: the whole suite under 32-bit Wine,
#    the station demo from the release bundle with injected faults, and the
#    export table of vu30.dll (the one undecorated stdcall GetVU30);
#  - x86_64: the whole suite under 64-bit Wine and the station demo;
#  - both: the Pascal hosts (tests/pascal), built with Free Pascal for Windows
#    (scripts/build-fpc-windows.sh); a C host (examples/trace_rig.c) linked
#    from the release bundle alone, through its import libraries, and run
#    where Wine runs it.
# Where this machine's kernel runs no 32-bit programs (IA-32 emulation off),
# the i686 build, its bundle and its test programs are still made and the
# checks that need no Wine run (export table, import library); running under
# 32-bit Wine is skipped, with one line that says so.
#   scripts/test-windows.sh            both
#   scripts/test-windows.sh i686       one architecture
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh
export VU30_WINDOWS_BUILD=${VU30_WINDOWS_BUILD:-build-windows}
root=$VU30_WINDOWS_BUILD
jobs=$(nproc)
archs=("$@")
[ ${#archs[@]} -eq 0 ] && archs=(i686 x86_64)
version=$(sed -n 's/^project(vu30 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Wine names Windows files in the Unix locale's character set: without a
# UTF-8 locale (a fresh machine has none set) it can hold no file name
# outside ASCII. Wine's processes here get one; nothing outside changes.
case "$(locale charmap 2>/dev/null || true)" in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The dialog tests make real windows: Wine and its server run on a display of
# their own, and without a window manager's waits.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=$display

# bundle_host ARCH [LOADER]: builds the trace rig, a C host of the driver, the
# simulator and the line trace, from the bundle's headers and import
# libraries alone, as a Windows host builder links them; runs it with LOADER.
bundle_host() {
  local arch=$1 loader=${2:-} bundle=$root/vu30-$version-windows-$1
  echo "== windows $arch: a C host linked from the bundle"
  "$arch-w64-mingw32-gcc" -std=c11 -Wall -Wextra -Wpedantic -Werror -I"$bundle" \
    examples/trace_rig.c -L"$bundle" -lvu30 -lvu30-sim -lvu30-trace -o "$bundle/trace-rig.exe"
  if [ -n "$loader" ]; then
    (cd "$bundle" && "$loader" trace-rig.exe rig.trace && rm -f rig.trace)
  fi
  rm -f "$bundle/trace-rig.exe"
}

# The Pascal hosts (tests/pascal): Free Pascal for each architecture is built
# once per build folder (scripts/build-fpc-windows.sh) and the programs with
# it; they run with the rest of the suite.
for arch in "${archs[@]}"; do
  case "$arch" in
    i686) loader=/usr/lib/wine/wine; export WINEARCH=win32 ;;
    x86_64) loader=/usr/lib/wine/wine64; export WINEARCH=win64 ;;
    *) echo "unknown architecture: $arch (i686, x86_64)" >&2; exit 2 ;;
  esac
  build=$root/$arch/build
  scripts/build-fpc-windows.sh "$arch"
  fpc=$(cd "$root" && pwd)/fpc/$arch/fpc
  no_wine=""
  if [ "$arch" = i686 ]; then
    if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
      no_wine="32-bit Wine (wine32:i386) is not installed: scripts/install-deps.sh could not get it from the mirror"
    elif ! vu30_runs_i386; then
      no_wine="this kernel runs no 32-bit programs (IA-32 emulation off)"
    fi
  fi
  if [ -n "$no_wine" ]; then
    VU30_WINDOWS_CMAKE_ARGS="${VU30_WINDOWS_CMAKE_ARGS:-} -DVU30_FPC=$fpc -DVU30_WINE_RUN=OFF" \
      scripts/build-windows.sh "$arch"
    echo "== windows $arch: the checks that need no Wine"
    ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
    bundle_host "$arch"
    vu30_skip "i686 under Wine" "$no_wine"
    continue
  fi
  VU30_WINDOWS_CMAKE_ARGS="${VU30_WINDOWS_CMAKE_ARGS:-} -DVU30_FPC=$fpc -DVU30_WINE_RUN=ON" \
    scripts/build-windows.sh "$arch"
  export WINEPREFIX=$PWD/$build/wineprefix
  rm -rf "$WINEPREFIX"
  echo "== windows $arch: Wine prefix"
  if ! out=$("$loader" wineboot -i 2>&1); then
    echo "$out" | tail -n 20 >&2
    echo "windows $arch: wineboot failed" >&2
    exit 1
  fi
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  echo "== windows $arch: tests under Wine"
  ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
  echo "== windows $arch: station demo from the bundle under Wine, with faults"
  bundle=$root/vu30-$version-windows-$arch
  cp "$build/vu30-demo.exe" "$bundle/"
  (cd "$bundle" && "$loader" vu30-demo.exe --posts 30 --sales 3 --baud 0 --fault-rate 0.1 |
    tail -n 3)
  rm -f "$bundle/vu30-demo.exe"
  bundle_host "$arch" "$loader"
  /usr/lib/wine/wineserver -w
done
