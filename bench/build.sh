# Sourced by the service benchmarks: bench_build TARGET... installs what is missing and builds the
# targets in a Release build without tests, in build-bench (set as $build).
bench_build() {
  bash scripts/install-deps.sh >/dev/null
  build=build-bench
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOSTWARDEN_BUILD_TESTS=OFF \
    -DHOSTWARDEN_BUILD_BENCHMARKS=ON >/dev/null
  cmake --build "$build" --target "$@" | grep -E "error|warning" || true
}
