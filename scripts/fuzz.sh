#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for the given
# number of seconds (default 300), starting from its seed inputs in
# fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/<target>/, a
# finding to build-fuzz/findings/; any finding makes the exit status non-zero.
# The trace reader runs under a tighter memory limit: what it holds must not
# grow with the trace its inputs make (AddressSanitizer keeps little freed
# memory aside for it, so that the limit measures what the reader holds).
#   scripts/fuzz.sh [seconds] [target...]     targets: check_reply route_message ini trace_reader
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
case "$seconds" in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [seconds] [target...]" >&2; exit 2 ;; esac
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(check_reply route_message ini trace_reader)

dir=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVU30_FUZZ=ON -DVU30_WITH_QT=OFF -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]/#/vu30_fuzz_}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  corpus="$dir/corpus/$target"
  findings="$dir/findings"
  mkdir -p "$corpus" "$findings"
  limits=(-timeout=10 -rss_limit_mb=2048)
  asan=$ASAN_OPTIONS
  if [ "$target" = trace_reader ]; then
    limits=(-timeout=30 -rss_limit_mb=256)
    asan=$ASAN_OPTIONS:quarantine_size_mb=16
  fi
  echo "== fuzz $target for ${seconds}s"
  if ! ASAN_OPTIONS=$asan "$dir/fuzz/vu30_fuzz_$target" -max_total_time="$seconds" "${limits[@]}" \
       -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" "fuzz/corpus/$target" \
       >"$dir/fuzz-$target.log" 2>&1; then
    tail -n 40 "$dir/fuzz-$target.log"
    failed+=("$target")
  else
    grep -E '^stat::number_of_executed_units|^Done' "$dir/fuzz-$target.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $dir/findings/)" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no finding"
