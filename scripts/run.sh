#!/usr/bin/env bash
# Installs what is missing, builds the client and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${HOSTWARDEN_RUN_BUILD_DIR:-build-run}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOSTWARDEN_BUILD_TESTS=OFF
cmake --build "$build" --target Hostwarden

# The settings file is per machine; give this user its folder once.
db_dir=$(sed -n 's/^HOSTWARDEN_SETTINGS_DB:FILEPATH=\(.*\)\/[^/]*$/\1/p' "$build/CMakeCache.txt")
if [ -n "$db_dir" ] && [ ! -w "$db_dir" ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO install -d -m 0755 -o "$(id -u)" -g "$(id -g)" "$db_dir"
fi

exec "$build/bin/Hostwarden"
