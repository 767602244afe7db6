#!/usr/bin/env bash
# The reference service under load on loopback, with the real password hash cost: ACCOUNTS
# registered accounts check over many kept connections while IDLE idle connections are held open.
# Prints the first checks (each an Argon2id verification), then checks per second and the latency
# percentiles of verified accounts, beside the figures of the former front (13 checks a second;
# eight slow connections stopped it).
#   bench/service_bench.sh [ACCOUNTS] [SECONDS] [IDLE] [CONNECTIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
accounts=${1:-10000}
seconds=${2:-30}
idle=${3:-10000}
connections=${4:-64}
source bench/build.sh
bench_build hostwarden-service hw_service_load

work=$(mktemp -d)
pid=
stop_service() {
  [ -z "$pid" ] && return 0
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
}
trap 'stop_service; rm -rf "$work"' EXIT
start_service() {
  rm -f "$work/port"
  "$build/service/hostwarden-service" --listen 127.0.0.1:0 --port-file "$work/port" --metrics-listen none \
    --database "sqlite:$work/dns.db" 2>>"$work/service.log" &
  pid=$!
  for _ in $(seq 1 100); do [ -s "$work/port" ] && return 0; sleep 0.1; done
  echo "the service did not start:"; tail -n 5 "$work/service.log"; exit 1
}

start_service  # makes the database
stop_service
"$build/bench/hw_service_load" seed "$work/dns.db" "$accounts"
start_service
echo "service: $accounts accounts, Argon2id at the interactive cost, $(nproc) cores"
echo "former front (cpp-httplib, every check an Argon2 verification): 13 checks/s; 8 slow connections stopped it"
"$build/bench/hw_service_load" run "$(cat "$work/port")" "$accounts" "$seconds" "$connections" "$idle"
echo "service resident memory at the end: $(awk '/VmRSS/ {print $2 " kB"}' "/proc/$pid/status")"
