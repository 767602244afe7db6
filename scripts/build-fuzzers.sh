#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, coverage and the sanitizers into the given folder.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DHOSTWARDEN_BUILD_FUZZERS=ON "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_C_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build "$1" --target fuzzers
