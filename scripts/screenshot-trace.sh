#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes docs/line-trace.md's picture of the trace's page: runs the station demo
# with a trace, writes the page with vu30-trace and photographs it with
# headless Chromium into docs/trace-page.png. Installs Chromium when it is
# missing (needs root). CI does not run it.
#   scripts/screenshot-trace.sh [build folder]     default build-trace-shot
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-trace-shot}

if ! command -v chromium >/dev/null; then
  apt-get update >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends chromium >/dev/null
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVU30_WITH_QT=OFF \
  -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target vu30 vu30-demo vu30-trace vu30-trace-tool

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Six posts, two sales each, on a 9600 baud line where 4 % of the frames and
# messages are hit by a fault: good exchanges, rejected replies and failures.
"$build/demo/vu30-demo" --posts 6 --sales 2 --baud 9600 --fault-rate 0.04 --seed 3 \
  --trace "$work/station.trace" >/dev/null || true
tool=$(realpath "$build/tools/trace/vu30-trace")
(cd "$work" && "$tool" html station.trace -o station.html)
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --hide-scrollbars --window-size=1100,420 \
  --screenshot="$PWD/docs/trace-page.png" "file://$work/station.html" 2>/dev/null
echo "docs/trace-page.png"
