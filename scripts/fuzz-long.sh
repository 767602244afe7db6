#!/usr/bin/env bash
# Builds the fuzzers and runs each of them for the given time (default 600 s).
#   scripts/fuzz-long.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build-fuzzers.sh build-fuzz
bash scripts/fuzz.sh build-fuzz "-max_total_time=${1:-600}"
