#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of the library with CPack:
#   libvu30-<soname>_<version>_<arch>.deb  the shared libraries (the driver, its
#                                          calls, the line trace, the dispenser
#                                          simulator), vu30-trace and its manual
#                                          page
#   libvu30-dev_<version>_<arch>.deb       the headers, the CMake package, the .pc
#                                          files, the Pascal units
# into <build-dir>/packages (default build-package/packages) and lists them.
#   scripts/package.sh [build-dir]
# Environment: VU30_PACKAGE_CMAKE_ARGS  more CMake options (the install test
#                                       passes -DVU30_WERROR=ON)
# Install them with: apt-get install ./build-package/packages/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh
dir=${1:-build-package}

# shellcheck disable=SC2086
vu30_configure "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=OFF ${VU30_PACKAGE_CMAKE_ARGS:-} >/dev/null
cmake --build "$dir" -j"$(nproc)" --target vu30 vu30-calls vu30-trace vu30-trace-tool vu30-sim \
  vu30-package-docs
rm -rf "$dir/packages"
(cd "$dir" && cpack -G DEB -B "$PWD/packages" >/dev/null)
rm -rf "$dir/packages/_CPack_Packages"
for deb in "$dir"/packages/*.deb; do
  echo "== $deb"
  dpkg-deb -f "$deb" Package Version Architecture Depends
done
