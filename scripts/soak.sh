#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The soak a release is checked with: the station demo's sales on 30 posts at
# once, at 1200 baud, with 5 % of frames and messages hit by injected faults,
# ending with the demo's audit of every sale against the simulated
# dispensers. Exits non-zero on any mismatch, lost sale or stopped post, and
# prints one line of figures.
#   scripts/soak.sh [sales-per-post]        default 1000 (1..1000)
# Options before the count: --posts N (default 30), --fault-rate R (0.05),
# --seed S (1), --baud B (1200), --demo PATH (a built vu30-demo; otherwise
# the demo is built in Release in build-soak/).
set -euo pipefail
cd "$(dirname "$0")/.."

posts=30
rate=0.05
seed=1
baud=1200
demo=""
while [ $# -gt 0 ]; do
  case "$1" in
    --posts) posts=$2; shift 2 ;;
    --fault-rate) rate=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --baud) baud=$2; shift 2 ;;
    --demo) demo=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
sales=${1:-1000}
case "$sales" in ''|*[!0-9]*) echo "soak: sales per post must be a number" >&2; exit 2 ;; esac

if [ -z "$demo" ]; then
  dir=build-soak
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVU30_WITH_QT=OFF \
    -DVU30_BUILD_TESTS=OFF -DVU30_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target vu30-demo vu30
  demo=$dir/demo/vu30-demo
  mkdir -p "$dir"
  log=$dir/soak.log
else
  log=$(mktemp /tmp/vu30-soak.XXXXXX)
fi

echo "== soak: $posts posts x $sales sales, fault rate $rate, $baud baud, seed $seed (log: $log)"
start=$(date +%s.%N)
status=0
"$demo" --posts "$posts" --sales "$sales" --fault-rate "$rate" --seed "$seed" --baud "$baud" \
  >"$log" 2>&1 || status=$?
end=$(date +%s.%N)

# The audit: the demo's summary table after "Sales checked", one row a sale:
# post, nozzle, preset (number and unit), volume, money, counter growth,
# retries, verdict ("ok", "ok, sold whole 0.01 L: ..." for a money preset,
# "ok (refused after a fault, repeated)", or the mismatch).
read -r sold repeated retries bad stopped < <(awk '
  /^Sales checked/ { audit = 1; next }
  audit && /^ *[0-9]+ +[0-9]+ / {
    retries += $8
    verdict = $9; for (i = 10; i <= NF; ++i) verdict = verdict " " $i
    if (verdict ~ /^ok \(refused/) repeated++
    else if (verdict ~ /^ok/) sold++
    else bad++
  }
  audit && /^ERROR / { stopped++ }
  END { printf "%d %d %d %d %d\n", sold, repeated, retries, bad, stopped }' "$log")

expected=$((posts * sales))
duration=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')
echo "soak: $sold of $expected sales sold and agreeing, $repeated repeated after a fault," \
  "$retries retries, $bad mismatches, $stopped posts stopped, ${duration} s"
if [ "$status" -ne 0 ] || [ "$sold" -ne "$expected" ] || [ "$bad" -ne 0 ] || [ "$stopped" -ne 0 ]; then
  grep -E '^ERROR|MISMATCH|differs|recorded' "$log" | head -n 20 || true
  echo "soak: FAILED (demo exit status $status)" >&2
  exit 1
fi
echo "soak: passed"
