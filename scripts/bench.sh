#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks in Release (build-bench/) and runs them, then prints
# one table: each figure of the driver beside its baseline, their ratio and
# the goal. The benchmarks' own report goes to build-bench/bench.log.
# Arguments are passed on, e.g.
#   scripts/bench.sh --idle-seconds=3 --sales=1     a quicker run
#   scripts/bench.sh --benchmark_filter=Latency     some benchmarks only
#   scripts/bench.sh --baseline-against-itself --benchmark_filter=Latency
#                          the noise floor: a second baseline set in the driver's place
#   scripts/bench.sh --benchmark_filter=TraceToolSpeed --trace-mb=1024
#                          vu30-trace on a day-sized trace set (default 256 MB)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-bench
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVU30_WITH_QT=OFF \
  -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=ON "${launcher[@]}" >/dev/null
echo "== building the benchmarks in Release ($dir/)"
cmake --build "$dir" -j"$(nproc)" --target vu30_bench >"$dir/build.log" 2>&1 || {
  tail -n 30 "$dir/build.log"
  exit 1
}

echo "== running the benchmarks (about three minutes; report in $dir/bench.log)"
"$dir/bench/vu30_bench" --table="$dir/bench-table.md" "$@" >"$dir/bench.log" 2>&1 || {
  tail -n 30 "$dir/bench.log"
  exit 1
}
grep -E 'ERROR OCCURRED' "$dir/bench.log" || true
echo
cat "$dir/bench-table.md"
