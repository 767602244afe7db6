#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (unit, widget, process).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${HOSTWARDEN_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOSTWARDEN_BUILD_TESTS=ON
python3 scripts/check-layers.py
cmake --build "$build"
source scripts/test-postgres.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
