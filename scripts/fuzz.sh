#!/usr/bin/env bash
# Runs every libFuzzer target on its seed corpus (fuzz/corpus/<target>), new findings kept in a
# temporary folder, and fails when one crashes. The test command runs them briefly; run them long
# with scripts/fuzz-long.sh.
#   scripts/fuzz.sh FUZZ-BUILD-DIR -runs=N | -max_total_time=SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
limit=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  mkdir -p "$work/$name"
  if ! "$build/fuzz/$name" "$limit" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/" "$work/$name" "$seeds" >"$work/$name.log" 2>&1; then
    echo "FAILED: $name"
    tail -n 40 "$work/$name.log"
    exit 1
  fi
  echo "$name: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log") executions, no failure"
done
echo "fuzz: $(ls -d fuzz/corpus/*/ | wc -l) passed, 0 failed"
