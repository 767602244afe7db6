#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (unit, widget, process, desktop,
# installation), then the whole suite again under the sanitizers, then the fuzzers briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${HOSTWARDEN_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOSTWARDEN_BUILD_TESTS=ON
python3 scripts/check-layers.py
cmake --build "$build"
source scripts/test-postgres.sh
export HOSTWARDEN_TEST_REQUIRE_SERVERS=1  # a test that needs a server this script started fails without it
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer: any finding,
# a leak included, fails its test.
sanitized="$build-sanitized"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHOSTWARDEN_BUILD_TESTS=ON \
  "-DCMAKE_CXX_FLAGS=$sanitize" "-DCMAKE_C_FLAGS=$sanitize" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$sanitized"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$sanitized" --output-on-failure -j "$(nproc)"

# Every fuzzer for a short, fixed number of runs on its seeds (scripts/fuzz-long.sh runs them long).
bash scripts/build-fuzzers.sh "$build-fuzz"
bash scripts/fuzz.sh "$build-fuzz" -runs=20000
