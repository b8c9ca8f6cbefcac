#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the test suites: once
# as built, once under AddressSanitizer with UndefinedBehaviorSanitizer, once
# under ThreadSanitizer; the Windows builds (scripts/test-windows.sh);
# installing and packaging (scripts/test-install.sh); the fuzz targets and
# the short soak (scripts/test-fuzz.sh).
#   scripts/test.sh            all runs
#   scripts/test.sh plain      only the plain run (also: address, thread, windows, install, fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(plain address thread windows install fuzz)
jobs=$(nproc)

for run in "${runs[@]}"; do
  if [ "$run" = install ]; then scripts/test-install.sh; continue; fi
  if [ "$run" = fuzz ]; then
    echo "== fuzz: fuzz targets and the short soak"
    scripts/test-fuzz.sh
    continue
  fi
  case "$run" in
    windows) scripts/test-windows.sh; continue ;;
    plain) dir=build; opts=(-DVU30_SANITIZE= -DVU30_WITH_QT=ON -DVU30_BUILD_BENCH=ON) ;;
    # Qt's own libraries are not instrumented; the sanitizer runs cover the
    # library and its toolkit-free logic, the plain run covers the Qt view too.
    address) dir=build-asan; opts=(-DVU30_SANITIZE=address -DVU30_WITH_QT=OFF -DVU30_BUILD_BENCH=OFF) ;;
    thread) dir=build-tsan; opts=(-DVU30_SANITIZE=thread -DVU30_WITH_QT=OFF -DVU30_BUILD_BENCH=OFF) ;;
    *) echo "unknown run: $run" >&2; exit 2 ;;
  esac
  echo "== $run: configure and build in $dir"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVU30_WERROR=ON \
    -DVU30_BUILD_TESTS=ON "${opts[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $run: tests"
  export QT_QPA_PLATFORM=offscreen
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
done
