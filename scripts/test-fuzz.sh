#!/usr/bin/env bash
# CI's fuzz run: every fuzz target for about a minute (a finding fails the
# run), then the short soak: the station's sales on 30 posts, 10 each, with
# 5 % injected faults.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/fuzz.sh "${VU30_FUZZ_SECONDS:-60}"
scripts/soak.sh 10
