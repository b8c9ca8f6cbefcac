#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Free Pascal for Windows, made from Debian's packages only: Debian ships the
# compiler for Linux (fp-compiler) and its sources (fpc-source-3.2.2), but no
# Windows units. For each architecture this builds, once per build folder:
#  - i686: a cross compiler for i386-win32 from the compiler's sources (its
#    message texts made with the sources' own msg2inc), then the win32 units;
#  - x86_64: the win64 units, with Debian's own x86_64 compiler;
# and for both the packaged units a station host commonly uses (StrUtils,
# DateUtils, SyncObjs, IniFiles, Contnrs).
# Each gets a wrapper <dir>/fpc that compiles for that target with those units
# and nothing of the Linux configuration; FPC's internal assembler and linker
# make the .exe.
#   scripts/build-fpc-windows.sh            i686 and x86_64
#   scripts/build-fpc-windows.sh x86_64     one architecture
# Environment: VU30_WINDOWS_BUILD  build folder (default build-windows); the
#              compilers land in <build folder>/fpc/<arch>.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${VU30_WINDOWS_BUILD:-build-windows}
case "$root" in /*) ;; *) root=$PWD/$root ;; esac
archs=("$@")
[ ${#archs[@]} -eq 0 ] && archs=(i686 x86_64)
version=3.2.2
src=/usr/share/fpcsrc/$version
host=/usr/bin/ppcx64
msgfile=/usr/lib/x86_64-linux-gnu/fpc/$version/msg/errore.msg
if [ ! -x "$host" ] || [ ! -f "$msgfile" ] || [ ! -d "$src/compiler" ] || [ ! -d "$src/rtl" ]; then
  echo "Free Pascal $version and its sources are missing (fp-compiler, fpc-source-$version)" >&2
  exit 1
fi
# The stamp names what a cached build was made from: this script and the
# compiler's version; anything else rebuilds it.
stamp="$(sha256sum "$0" | cut -c1-16) $("$host" -iV)"

for arch in "${archs[@]}"; do
  case "$arch" in
    i686) cpu=i386; os=win32 ;;
    x86_64) cpu=x86_64; os=win64 ;;
    *) echo "unknown architecture: $arch (i686, x86_64)" >&2; exit 2 ;;
  esac
  dir=$root/fpc/$arch
  if [ -x "$dir/fpc" ] && [ "$(cat "$dir/stamp" 2>/dev/null)" = "$stamp" ]; then
    continue
  fi
  echo "== fpc $arch: Free Pascal $version for $cpu-$os in $dir"
  rm -rf "$dir"
  mkdir -p "$dir/units" "$dir/work"
  log=$dir/build.log

  compiler=$host
  if [ "$cpu" = i386 ]; then
    # The cross compiler. Debian's sources lack the message texts that the
    # build makes from msg/errore.msg; msg2inc, from the same sources, makes
    # them from the installed msg/errore.msg into the work folder, which the include path finds.
    gen=$dir/work/compiler
    mkdir -p "$gen/units"
    "$host" -FE"$gen" -FU"$gen/units" "$src/compiler/utils/msg2inc.pp" >>"$log" 2>&1
    (cd "$gen" && ./msg2inc "$msgfile" msg msg >>"$log" 2>&1)
    "$host" -di386 -dGDB -dBROWSERLOG -O2 -Xs -Fi"$gen" -Fu"$src/compiler" \
      -Fu"$src/compiler/i386" -Fu"$src/compiler/x86" -Fu"$src/compiler/systems" \
      -Fi"$src/compiler" -Fi"$src/compiler/i386" -Fi"$src/compiler/x86" -FU"$gen/units" -o"$dir/ppcross386" \
      "$src/compiler/pp.pas" >>"$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }
    compiler=$dir/ppcross386
  fi

  # The run-time library: system, objpas, then every unit of the target's
  # buildrtl, and the two units that read line information.
  rtl=$src/rtl
  unit=("$compiler" -n -T"$os" -O2 -FU"$dir/units" -Fu"$dir/units" -Fi"$rtl/inc" -Fi"$rtl/$cpu"
        -Fi"$rtl/win" -Fi"$rtl/$os" -Fu"$rtl/inc" -Fu"$rtl/$cpu" -Fu"$rtl/win" -Fu"$rtl/$os")
  {
    "${unit[@]}" -Us -Sg "$rtl/$os/system.pp" &&
      "${unit[@]}" -I"$rtl/objpas" "$rtl/objpas/objpas.pp" &&
      "${unit[@]}" -Fi"$rtl/objpas/sysutils" -Fi"$rtl/objpas/classes" -I"$rtl/objpas" \
        -I"$rtl/win/wininc" -Fu"$rtl/win/wininc" -Fu"$rtl/objpas" "$rtl/$os/buildrtl.pp" &&
      "${unit[@]}" "$rtl/inc/lineinfo.pp" &&
      "${unit[@]}" "$rtl/inc/lnfodwrf.pp"
  } >>"$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }

  # The units a station host commonly uses beside the run-time library:
  # StrUtils and DateUtils (rtl-objpas), SyncObjs, IniFiles and Contnrs
  # (fcl-base), each compiled from the sources into the same folder.
  objpas=$src/packages/rtl-objpas/src
  fcl=$src/packages/fcl-base/src
  for source in "$objpas/inc/strutils.pp" "$objpas/inc/dateutils.pp" "$fcl/contnrs.pp" \
    "$fcl/syncobjs.pp" "$fcl/inifiles.pp"; do
    "${unit[@]}" -Fi"$objpas/inc" -Fi"$objpas/$os" -Fi"$objpas/win" -Fi"$fcl" "$source" \
      >>"$log" 2>&1 || { tail -n 20 "$log" >&2; exit 1; }
  done

  # The wrapper: this target, these units, no configuration file.
  cat >"$dir/fpc" <<WRAPPER
#!/bin/sh
# Free Pascal $version for $cpu-$os (made by scripts/build-fpc-windows.sh).
exec "$compiler" -n -T$os -Fu"$dir/units" "\$@"
WRAPPER
  chmod +x "$dir/fpc"
  rm -rf "$dir/work"
  echo "$stamp" >"$dir/stamp"
done
