#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the driver for Windows with mingw-w64 and makes the release
# bundles: per architecture a folder holding vu30.dll (stripped) with its
# import library libvu30.dll.a, vu30.h and the Pascal unit vu30.pas, the line
# trace (vu30-trace.dll with libvu30-trace.dll.a, vu30_trace.h,
# vu30-trace.exe), the dispenser simulator (vu30-sim.dll with its import
# library libvu30-sim.dll.a, vu30_sim.h and the Pascal unit vu30sim.pas) and
# the runtime DLLs they import, zipped. Warnings are errors in these builds,
# as in every build of the test command. By default vu30.dll links the
# compiler's runtime statically, so a host needs nothing beside it but the
# system's own DLLs; a build with -DVU30_WIN32_CXX_EXCEPTIONS=ON imports the
# runtime DLLs, which then go into the bundle.
#   scripts/build-windows.sh               i686 and x86_64
#   scripts/build-windows.sh x86_64        one architecture
# Environment: VU30_WINDOWS_BUILD       build folder (default build-windows)
#              VU30_WINDOWS_TARGETS     what to build (default: everything and the
#                                       bundle; with targets named, no bundle)
#              VU30_WINDOWS_CMAKE_ARGS  more CMake options
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

root=${VU30_WINDOWS_BUILD:-build-windows}
archs=("$@")
[ ${#archs[@]} -eq 0 ] && archs=(i686 x86_64)
jobs=$(nproc)
version=$(sed -n 's/^project(vu30 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

for arch in "${archs[@]}"; do
  case "$arch" in
    i686 | x86_64) ;;
    *) echo "unknown architecture: $arch (i686, x86_64)" >&2; exit 2 ;;
  esac
  toolchain=$PWD/cmake/toolchains/mingw-w64-$arch.cmake
  triple=$arch-w64-mingw32
  dir=$root/$arch

  # GoogleTest from Debian's source package, cross-built once per build folder.
  gtest=$PWD/$dir/googletest
  if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "== $arch: GoogleTest"
    cmake -S /usr/src/googletest -B "$dir/googletest-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=ON -Dgtest_force_shared_crt=OFF \
      "${launcher[@]}" >/dev/null
    cmake --build "$dir/googletest-build" -j"$jobs" >/dev/null
    cmake --install "$dir/googletest-build" >/dev/null
  fi

  echo "== $arch: configure and build in $dir/build"
  cmake -S . -B "$dir/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVU30_WITH_QT=OFF -DVU30_BUILD_BENCH=OFF -DVU30_WERROR=ON \
    -DGTest_DIR="$gtest/lib/cmake/GTest" "${launcher[@]}" ${VU30_WINDOWS_CMAKE_ARGS:-} >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir/build" -j"$jobs" ${VU30_WINDOWS_TARGETS:+--target $VU30_WINDOWS_TARGETS}
  # Some targets only: no bundle, which needs them all.
  if [ -n "${VU30_WINDOWS_TARGETS:-}" ]; then continue; fi

  bundle=$root/vu30-$version-windows-$arch
  rm -rf "$bundle" "$bundle.zip"
  mkdir -p "$bundle"
  "$triple-strip" -o "$bundle/vu30.dll" "$dir/build/vu30.dll"
  # The line trace: its library, its header and the program that explains it.
  "$triple-strip" -o "$bundle/vu30-trace.dll" "$dir/build/vu30-trace.dll"
  "$triple-strip" -o "$bundle/vu30-trace.exe" "$dir/build/vu30-trace.exe"
  cp include/vu30.h include/vu30_trace.h bindings/pascal/vu30.pas "$bundle/"
  # The import libraries a C or C++ host links (-lvu30, -lvu30-trace).
  cp "$dir/build/libvu30.dll.a" "$dir/build/libvu30-trace.dll.a" "$bundle/"
  # The dispenser simulator, for testing a host without a forecourt: its
  # library, the import library a C or C++ host links, its header and unit.
  "$triple-strip" -o "$bundle/vu30-sim.dll" "$dir/build/vu30-sim.dll"
  cp "$dir/build/libvu30-sim.dll.a" include/vu30_sim.h bindings/pascal/vu30sim.pas "$bundle/"
  # The compiler's runtime DLLs that vu30.dll needs, and those they need.
  runtime_dirs=("$(dirname "$("$triple-g++-posix" -print-libgcc-file-name)")" "/usr/$triple/lib")
  for _ in 1 2 3; do
    for dll in "$bundle"/*.dll; do
      for name in $("$triple-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        [ -e "$bundle/$name" ] && continue
        for d in "${runtime_dirs[@]}"; do
          if [ -f "$d/$name" ]; then
            "$triple-strip" -o "$bundle/$name" "$d/$name"
            break
          fi
        done
      done
    done
  done
  (cd "$root" && cmake -E tar cf "$(basename "$bundle").zip" --format=zip "$(basename "$bundle")")
  echo "== $arch: $bundle.zip"
done
