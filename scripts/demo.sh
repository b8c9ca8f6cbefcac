#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is needed, builds the library and runs the station demo: a host
# that drives several posts of the dispenser simulator through the driver.
# Arguments are passed to the demo (see: scripts/demo.sh --help); with --trace FILE
# it writes a line trace, which build/tools/trace/vu30-trace explains.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh
vu30_configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vu30 vu30-demo vu30-trace vu30-trace-tool
exec build/demo/vu30-demo "$@"
