#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is needed, builds everything and runs the test suites: once
# as built (and the HTML reference), once under AddressSanitizer with
# UndefinedBehaviorSanitizer, once under ThreadSanitizer; the Windows builds
# (scripts/test-windows.sh); installing and packaging
# (scripts/test-install.sh); the fuzz targets and the short soak
# (scripts/test-fuzz.sh).
#   scripts/test.sh            all runs
#   scripts/test.sh plain      only the plain run (also: address, thread, windows, install, fuzz)
# A failed run does not stop the others. The end is a summary: each run
# passed or failed, and every step skipped because this machine lacks what it
# needs, with the reason. The exit status is non-zero when any run failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh

runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(plain address thread windows install fuzz)
for run in "${runs[@]}"; do
  case "$run" in
    plain | address | thread | windows | install | fuzz) ;;
    *) echo "unknown run: $run (plain, address, thread, windows, install, fuzz)" >&2; exit 2 ;;
  esac
done
jobs=$(nproc)
VU30_SUMMARY=$(mktemp)
export VU30_SUMMARY
trap 'rm -f "$VU30_SUMMARY"' EXIT

# suite RUN: configures, builds and tests one of the Linux runs.
suite() {
  local run=$1 dir opts
  case "$run" in
    plain) dir=build; opts=(-DVU30_SANITIZE= -DVU30_WITH_QT=ON -DVU30_BUILD_BENCH=ON -DVU30_BUILD_DOCS=ON) ;;
    # Qt's own libraries are not instrumented; the sanitizer runs cover the
    # library and its toolkit-free logic, the plain run covers the Qt view too.
    address) dir=build-asan; opts=(-DVU30_SANITIZE=address -DVU30_WITH_QT=OFF -DVU30_BUILD_BENCH=OFF -DVU30_BUILD_DOCS=OFF) ;;
    thread) dir=build-tsan; opts=(-DVU30_SANITIZE=thread -DVU30_WITH_QT=OFF -DVU30_BUILD_BENCH=OFF -DVU30_BUILD_DOCS=OFF) ;;
  esac
  echo "== $run: configure and build in $dir"
  vu30_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVU30_WERROR=ON \
    -DVU30_BUILD_TESTS=ON "${opts[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  if [ "$run" = plain ]; then
    # The HTML reference: any Doxygen warning, an undocumented declaration
    # included, fails the run.
    echo "== $run: the HTML reference"
    cmake --build "$dir" --target docs
  fi
  echo "== $run: tests"
  export QT_QPA_PLATFORM=offscreen
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

results=()
failed=0
for run in "${runs[@]}"; do
  start=$SECONDS
  case "$run" in
    windows) step=(scripts/test-windows.sh) ;;
    install) step=(scripts/test-install.sh) ;;
    fuzz) echo "== fuzz: fuzz targets and the short soak"; step=(scripts/test-fuzz.sh) ;;
    *) step=(suite "$run") ;;
  esac
  # A subshell, so that a failing command ends this run only (not tested by
  # an if: there errexit would be off inside it).
  set +e
  ("${step[@]}")
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then
    results+=("$(printf 'passed   %s (%d s)' "$run" $((SECONDS - start)))")
  else
    results+=("$(printf 'FAILED   %s (%d s)' "$run" $((SECONDS - start)))")
    failed=1
  fi
done

echo "== summary"
printf '%s\n' "${results[@]}"
cat "$VU30_SUMMARY"
[ "$failed" -eq 0 ]
