#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI's fuzz run: every fuzz target for about a minute (a finding fails the
# run), then the short soak: the station's sales on 30 posts, 10 each, with
# 5 % injected faults. Ends with one line of passed and failed steps.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${VU30_FUZZ_SECONDS:-60}
passed=0
failed=0
for target in check_reply route_message ini trace_reader; do
  if scripts/fuzz.sh "$seconds" "$target"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
if scripts/soak.sh 10; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
