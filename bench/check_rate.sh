#!/usr/bin/env bash
# Checks per second of the reference service beside nginx answering the same POST with a fixed 200,
# under the same wrk load on the same machine (2 threads, 64 kept connections), in one run:
#   - one registered account, whose password was verified before;
#   - ACCOUNTS accounts, the same one checking;
#   - the first checks after a restart: every account in random order, from the first second;
#   - two instances on the same database behind HAProxy (the trusted proxy, X-Forwarded-For).
# Release build, SQLite, the load generator on the same machine as the servers.
#   bench/check_rate.sh [ACCOUNTS] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
accounts=${1:-100000}
seconds=${2:-10}
source bench/build.sh
bench_build hostwarden-service hw_service_load
source scripts/servers.sh

work=$(mktemp -d)
chmod 755 "$work"
trap 'stop_everything; rm -rf "$work"' EXIT
wait_for_port() {
  wait_for 30 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" || { echo "nothing answered on port $1"; exit 1; }
}

# The service on a database of the run's ("one" or "many"), on a port given; prints nothing.
start_instance() {
  local database=$1 port=$2
  shift 2
  "$build/service/hostwarden-service" --listen "127.0.0.1:$port" --metrics-listen none --max-per-address 1000 \
    --database "sqlite:$work/$database.db" "$@" 2>>"$work/service-$port.log" >/dev/null &
  hw_pids+=($!)
  wait_for_port "$port"
}
# A database with N verified accounts, made by the service and filled by the load tool.
make_database() {
  local database=$1 count=$2 port
  port=$(free_port)
  start_instance "$database" "$port"
  stop_everything
  "$build/bench/hw_service_load" seed "$work/$database.db" "$count" "$work/$database.db.key"
}

# wrk's figures for a Lua script against a port: "checks/s p50 p99 errors".
load() {
  local script=$1 port=$2 length=$3 output
  output=$(wrk -t2 -c64 -d"${length}s" --latency -s "$script" "http://127.0.0.1:$port/fo.php")
  awk '/Requests\/sec/ {rate = $2} / 50% / {p50 = $2} / 99% / {p99 = $2}
       /Non-2xx/ {errors = $NF} /Socket errors/ {socket = $0}
       END {printf "%s checks/s, latency p50 %s p99 %s, non-2xx %s%s\n", rate, p50, p99, errors + 0, socket ? "; " socket : ""}' \
    <<<"$output"
}
rate_of() { sed 's/ .*//' <<<"$1"; }

# One account's check, and every account's in random order.
envelope=$("$build/bench/hw_service_load" envelopes 1)
cat >"$work/one.lua" <<LUA
wrk.method = "POST"
wrk.body = "$envelope"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA
"$build/bench/hw_service_load" envelopes "$accounts" >"$work/envelopes"
cat >"$work/every.lua" <<LUA
local bodies = {}
for line in io.lines("$work/envelopes") do bodies[#bodies + 1] = line end
local headers = {["Content-Type"] = "application/x-www-form-urlencoded"}
request = function() return wrk.format("POST", "/fo.php", headers, bodies[math.random(#bodies)]) end
LUA

echo "check_rate: $accounts accounts, $seconds s a run, wrk -t2 -c64, $(nproc) cores, $(date -u +%Y-%m-%d)"

# nginx: the same POST, a fixed reply of a check's length.
nginx_port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx.conf" <<CONF
worker_processes $(nproc);
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  server {
    listen 127.0.0.1:$nginx_port;
    location / { return 200 "##127.0.0.1-100000"; }
  }
}
CONF
nginx -c "$work/nginx.conf" -g 'daemon off;' &
hw_pids+=($!)
wait_for_port "$nginx_port"
nginx_figures=$(load "$work/one.lua" "$nginx_port" "$seconds")
echo "nginx, fixed 200:                    $nginx_figures"
stop_everything
nginx_rate=$(rate_of "$nginx_figures")
ratio() { awk -v s="$(rate_of "$1")" -v n="$nginx_rate" 'BEGIN {printf "%.3f", s / n}'; }

# measure LABEL DATABASE: one account checking through a service started on that database.
measure() {
  local port figures
  port=$(free_port)
  start_instance "$2" "$port"
  figures=$(load "$work/one.lua" "$port" "$seconds")
  printf '%-37s %s (ratio %s)\n' "$1:" "$figures" "$(ratio "$figures")"
  stop_everything
}
make_database one 1
measure "service, 1 account" one
make_database many "$accounts"
measure "service, $accounts accounts, one checks" many

# The same database again: a restart, and every account checking from the first second.
port=$(free_port)
start_instance many "$port"
figures=$(load "$work/every.lua" "$port" 1)
echo "after a restart, every account, 1st s: $figures (ratio $(ratio "$figures"))"
figures=$(load "$work/every.lua" "$port" "$seconds")
echo "after a restart, every account, then:  $figures (ratio $(ratio "$figures"))"
echo "  replies other than \"##\" in the log: $(grep -c " 200 \*\*\| 200 !!\| 200 @@" "$work/service-$port.log" || true)"
stop_everything

# Two instances on the same database behind HAProxy.
first=$(free_port) second=$(free_port) proxy=$(free_port)
start_instance many "$first" --trusted-proxy 127.0.0.1
start_instance many "$second" --trusted-proxy 127.0.0.1
haproxy_config "$work/haproxy.cfg" "$proxy" "$first" "$second"
haproxy -f "$work/haproxy.cfg" -db &
hw_pids+=($!)
wait_for_port "$proxy"
figures=$(load "$work/one.lua" "$proxy" "$seconds")
echo "two instances behind HAProxy:        $figures (ratio $(ratio "$figures"))"
stop_everything
