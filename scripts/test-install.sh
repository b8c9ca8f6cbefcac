#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the library as a host builder gets it:
#  1. the library alone, every option off, configures and builds in a clean folder,
#     and the default options configure where GoogleTest, Google Benchmark and
#     Qt are missing (hidden from CMake here);
#  2. `cmake --install` into a temporary prefix installs exactly the expected files;
#  3. the C example host, the C simulator rig and the trace rig build against
#     that tree through find_package(vu30) and through pkg-config, and run;
#     the installed vu30-trace reads the rig's trace;
#  4. scripts/package.sh builds the .deb packages (warnings are errors); their
#     contents are listed, lintian finds no error in them, and the examples
#     build and run against them, unpacked;
#  5. the Pascal units: installed and in libvu30-dev, the same as the source,
#     in the Windows bundles (where scripts/build-windows.sh has made them),
#     and they compile with Free Pascal in objfpc and delphi modes; the Pascal
#     example host and the Pascal simulator rig build against the installed
#     tree and run.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-install
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cflags="-Wall -Wextra -Wpedantic -Werror"

echo "== install: the library alone, every option off, in a clean $dir"
rm -rf "$dir"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_LIBDIR=lib \
  -DVU30_WITH_QT=OFF -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=OFF -DVU30_WERROR=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"

echo "== install: default options without the optional dependencies"
cmake -S . -B "$work/auto" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON | grep 'VU30_'

echo "== install: installed tree"
prefix=$work/prefix
cmake --install "$dir" --prefix "$prefix" >/dev/null
actual=$(cd "$prefix" && find . \( -type f -o -type l \) | sort)
expected=$(sort <<'LIST'
./bin/vu30-trace
./include/vu30.h
./include/vu30_calls.h
./include/vu30_sim.h
./include/vu30_trace.h
./lib/libvu30-calls.so
./lib/libvu30-calls.so.2
./lib/libvu30-calls.so.2.41
./lib/libvu30-sim.so
./lib/libvu30-sim.so.2
./lib/libvu30-sim.so.2.41
./lib/libvu30-trace.so
./lib/libvu30-trace.so.2
./lib/libvu30-trace.so.2.41
./lib/libvu30.so
./lib/libvu30.so.2
./lib/libvu30.so.2.41
./lib/cmake/vu30/vu30Config.cmake
./lib/cmake/vu30/vu30ConfigVersion.cmake
./lib/cmake/vu30/vu30Targets.cmake
./lib/cmake/vu30/vu30Targets-relwithdebinfo.cmake
./lib/pkgconfig/vu30-calls.pc
./lib/pkgconfig/vu30-sim.pc
./lib/pkgconfig/vu30-trace.pc
./lib/pkgconfig/vu30.pc
./share/man/man1/vu30-trace.1
./share/vu30/pascal/vu30.pas
./share/vu30/pascal/vu30sim.pas
LIST
)
echo "$actual"
if [ "$actual" != "$expected" ]; then
  echo "the installed tree differs from the expected one:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
[ "$(readlink "$prefix/lib/libvu30.so")" = libvu30.so.2 ]
[ "$(readlink "$prefix/lib/libvu30.so.2")" = libvu30.so.2.41 ]
# Listings are read whole before they are searched: a grep -q at the end of a
# pipe leaves at its first match, and under pipefail the writer's SIGPIPE on
# its next line would fail the check at random.
headers=$(objdump -p "$prefix/lib/libvu30.so.2.41")
grep -q 'SONAME *libvu30.so.2$' <<<"$headers"
[ "$(readlink "$prefix/lib/libvu30-calls.so")" = libvu30-calls.so.2 ]
headers=$(objdump -p "$prefix/lib/libvu30-calls.so.2.41")
grep -q 'SONAME *libvu30-calls.so.2$' <<<"$headers"
headers=$(objdump -p "$prefix/lib/libvu30-sim.so.2.41")
grep -q 'SONAME *libvu30-sim.so.2$' <<<"$headers"
cmp docs/vu30-trace.1 "$prefix/share/man/man1/vu30-trace.1"

# example <prefix> <label>: builds the C example, the simulator rig and the
# trace rig both ways against <prefix> and runs them; the prefix's
# vu30-trace reads the trace rig's trace.
example() {
  local p=$1 label=$2
  echo "== install: example host via find_package ($label)"
  cmake -S examples -B "$work/example-$label" -G Ninja -DCMAKE_PREFIX_PATH="$p" \
    -DCMAKE_C_FLAGS="$cflags" >/dev/null
  cmake --build "$work/example-$label"
  WINDIR=$work "$work/example-$label/vu30-example-host"
  WINDIR=$work "$work/example-$label/vu30-sim-rig"
  WINDIR=$work "$work/example-$label/vu30-trace-rig" "$work/rig-$label.trace"
  summary=$("$p/bin/vu30-trace" summary "$work/rig-$label.trace")
  echo "$summary"
  grep -q 'SetPrice 1' <<<"$summary"

  echo "== install: example host via pkg-config ($label)"
  local pc
  pc=$(dirname "$(find "$p" -name vu30.pc)")
  # shellcheck disable=SC2046
  cc -std=c11 $cflags examples/example_host.c \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vu30-calls) -o "$work/example-$label-pc"
  WINDIR=$work LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir vu30) \
    "$work/example-$label-pc"
  # shellcheck disable=SC2046
  cc -std=c11 $cflags examples/sim_rig.c \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vu30-sim vu30-calls) -o "$work/sim-rig-$label-pc"
  WINDIR=$work LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir vu30-sim) \
    "$work/sim-rig-$label-pc"
  # shellcheck disable=SC2046
  cc -std=c11 $cflags examples/trace_rig.c \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs vu30-sim vu30-trace) \
    -o "$work/trace-rig-$label-pc"
  WINDIR=$work LD_LIBRARY_PATH=$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir vu30-trace) \
    "$work/trace-rig-$label-pc" "$work/rig-$label-pc.trace"
}
example "$prefix" installed

echo "== install: Debian packages"
VU30_PACKAGE_CMAKE_ARGS=-DVU30_WERROR=ON scripts/package.sh "$dir-package"
echo "== install: lintian"
# An error fails the run (lintian's exit status); its warnings are shown.
if ! lintian_out=$(lintian --tag-display-limit 0 "$dir-package"/packages/*.deb 2>&1); then
  echo "$lintian_out"
  echo "lintian finds errors in the packages" >&2
  exit 1
fi
echo "$lintian_out"
mkdir "$work/deb"
for deb in "$dir-package"/packages/*.deb; do
  echo "-- dpkg-deb -c $deb"
  dpkg-deb -c "$deb"
  dpkg-deb -x "$deb" "$work/deb"
done
example "$work/deb/usr" deb

echo "== install: the Pascal units"
listing=$(dpkg-deb -c "$dir-package"/packages/libvu30-dev_*.deb)
for unit in vu30 vu30sim; do
  cmp "bindings/pascal/$unit.pas" "$prefix/share/vu30/pascal/$unit.pas"
  cmp "bindings/pascal/$unit.pas" "$work/deb/usr/share/vu30/pascal/$unit.pas"
  grep -q " ./usr/share/vu30/pascal/$unit.pas\$" <<<"$listing"
done
runtime=$(dpkg-deb -c "$dir-package"/packages/libvu30-2_*.deb)
grep -q ' ./usr/lib/.*libvu30-sim.so.2.41$' <<<"$runtime"
zcmp docs/vu30-trace.1 "$work/deb/usr/share/man/man1/vu30-trace.1.gz"
version=$(sed -n 's/^project(vu30 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for arch in i686 x86_64; do
  zip=${VU30_WINDOWS_BUILD:-build-windows}/vu30-$version-windows-$arch.zip
  if [ ! -f "$zip" ]; then
    echo "-- $zip: not built here (scripts/build-windows.sh makes it)"
    continue
  fi
  zip=$(realpath "$zip")
  listing=$(cd "$work" && cmake -E tar tf "$zip")
  for file in vu30.dll libvu30.dll.a vu30.pas vu30sim.pas vu30-trace.dll libvu30-trace.dll.a \
    vu30-sim.dll libvu30-sim.dll.a vu30_sim.h; do
    grep -qx "vu30-$version-windows-$arch/$file" <<<"$listing"
  done
  echo "-- $zip: the DLLs with their import libraries, vu30.pas, vu30sim.pas, vu30_sim.h"
done
for mode in objfpc delphi; do
  mkdir "$work/pascal-$mode"
  for unit in vu30 vu30sim; do
    fpc -M"$mode" -vew -Sew -Fu"$prefix/share/vu30/pascal" -FU"$work/pascal-$mode" \
      "$prefix/share/vu30/pascal/$unit.pas"
  done
done
echo "== install: the Pascal example host against the installed tree"
mkdir "$work/pascal-example"
fpc -vew -Sew -Fu"$prefix/share/vu30/pascal" -Fl"$prefix/lib" -FU"$work/pascal-example" \
  -o"$work/pascal-example/example_host" examples/example_host.pas
WINDIR=$work LD_LIBRARY_PATH=$prefix/lib "$work/pascal-example/example_host"

echo "== install: the Pascal simulator rig against the installed tree"
mkdir "$work/pascal-rig"
fpc -vew -Sew -Fu"$prefix/share/vu30/pascal" -FU"$work/pascal-rig" -Fl"$prefix/lib" \
  -o"$work/pascal-rig/sim_rig" examples/sim_rig.pas
WINDIR=$work LD_LIBRARY_PATH=$prefix/lib "$work/pascal-rig/sim_rig"
echo "== install: ok"
