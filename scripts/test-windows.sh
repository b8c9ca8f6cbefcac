#!/usr/bin/env bash
# The Windows builds, tested on this Linux machine:
#  - x86_64: the whole suite and the station demo under 64-bit Wine (Debian's
#    wine64 loader called directly, a fresh prefix in the build folder), one
#    test program per Wine process;
#  - i686 (32-bit programs cannot run here): the library, the demo and the
#    Windows-only sources compiled, and the export table of vu30.dll checked
#    for the one undecorated stdcall GetVU30.
set -euo pipefail
cd "$(dirname "$0")/.."
export VU30_WINDOWS_BUILD=${VU30_WINDOWS_BUILD:-build-windows}
root=$VU30_WINDOWS_BUILD
jobs=$(nproc)

scripts/build-windows.sh x86_64
build=$root/x86_64/build
export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
# The dialog tests make real windows: Wine and its server run on a display of
# their own, and without a window manager's waits.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=$display
echo "== windows x86_64: Wine prefix"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
echo "== windows x86_64: tests under Wine"
ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 600
echo "== windows x86_64: station demo under Wine"
(cd "$build" && /usr/lib/wine/wine64 vu30-demo.exe --posts 4 --sales 2 --baud 0 --fault-rate 0.1 |
  tail -n 3)
/usr/lib/wine/wineserver -w

VU30_WINDOWS_TARGETS="vu30 vu30-demo vu30_structured_errors_host vu30_platform_tests" \
  scripts/build-windows.sh i686
echo "== windows i686: export table"
ctest --test-dir "$root/i686/build" --output-on-failure -R '^vu30_exports_only_GetVU30$'
