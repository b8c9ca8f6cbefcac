#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the picture of the Win32 port type dialog (docs/port-type-dialog-win32.png)
# under Xvfb and 64-bit Wine, from an x86_64 Windows build that holds
# tests/dialog/vu30_dialog_win32_shot.exe.
#   scripts/screenshot-win32-dialog.sh BUILD_DIR [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: $0 BUILD_DIR [OUT.png]}
need=()
for p in xvfb imagemagick wine64; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq "${need[@]}" >/dev/null
fi
out=${2:-docs/port-type-dialog-win32.png}
build=$(cd "$build" && pwd)
exe=$build/tests/dialog/vu30_dialog_win32_shot.exe
[ -f "$exe" ] || { echo "no $exe: build the x86_64 Windows tree first" >&2; exit 1; }

export WINEPREFIX=$build/wineprefix-shot WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# The mingw runtime DLLs, where the program was not linked statically.
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="Z:${runtime//\//\\};Z:\\usr\\x86_64-w64-mingw32\\lib"
mkdir -p "$WINEPREFIX"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/shot.sh" <<INNER
#!/usr/bin/env bash
set -euo pipefail
/usr/lib/wine/wine64 "$exe" >"$work/out.txt" 2>&1 &
pid=\$!
for _ in \$(seq 1 240); do grep -q '^ready' "$work/out.txt" && break; sleep 0.25; done
read -r _ x y w h < <(grep '^ready' "$work/out.txt")
import -window root -crop "\${w}x\${h}+\${x}+\${y}" +repage "$work/shot.png"
wait \$pid
/usr/lib/wine/wineserver -w
INNER
chmod +x "$work/shot.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$work/shot.sh"
cp "$work/shot.png" "$out"
echo "written: $out"
