#!/usr/bin/env bash
# Beyond one machine: two service instances on one PostgreSQL database behind HAProxy (the trusted
# proxy, naming each client in X-Forwarded-For), and PowerDNS reading a streaming replica of that
# database, a second PostgreSQL cluster. A registration and checks through either instance are
# answered by the replica's DNS, the log names each client rather than the proxy, and an instance
# that held an account in memory follows the other instance's change of it.
#   topology_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1
source "$2/scripts/servers.sh"
work=$(mktemp -d /tmp/hostwarden-topology-XXXXXX)
chmod 755 "$work"
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_pg=()
[ "$(id -u)" -eq 0 ] && as_pg=(runuser -u postgres --)
clusters=()
cleanup() {
  local cluster
  stop_everything
  for cluster in "${clusters[@]}"; do "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$cluster" -m immediate stop >/dev/null 2>&1 || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for log in "$work"/*.log; do echo "--- $log"; tail -n 15 "$log"; done
  exit 1
}

# A cluster in FOLDER listening only on a socket there (named by PORT); started from a base backup
# of PRIMARY (folder:port) as its streaming replica when one is given.
start_cluster() {
  local folder=$1 port=$2 primary=${3:-}
  mkdir -p "$folder"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$folder"
  if [ -z "$primary" ]; then
    "${as_pg[@]}" "$pg_bin/initdb" -D "$folder/data" -A trust -U hostwarden >/dev/null
  else
    "${as_pg[@]}" "$pg_bin/pg_basebackup" -h "${primary%:*}" -p "${primary#*:}" -U hostwarden -D "$folder/data" -R -X stream -c fast
  fi
  "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w \
    -o "-k $folder -p $port -c listen_addresses='' -c wal_level=replica" start >/dev/null
  clusters+=("$folder/data")
}
primary_port=$(free_port) replica_port=$(free_port)
start_cluster "$work/primary" "$primary_port"
"${as_pg[@]}" "$pg_bin/createdb" -h "$work/primary" -p "$primary_port" -U hostwarden hostwarden
start_cluster "$work/replica" "$replica_port" "$work/primary:$primary_port"
[ "$("${as_pg[@]}" "$pg_bin/psql" -h "$work/replica" -p "$replica_port" -U hostwarden -Atc 'SELECT pg_is_in_recovery()' hostwarden)" = t ] ||
  fail "the replica is not a standby"

# The two instances, one after the other (the first makes the tables), sharing one key file.
database="host=$work/primary port=$primary_port user=hostwarden dbname=hostwarden"
for instance in first second; do
  "$build/service/hostwarden-service" --listen 127.0.0.1:0 --port-file "$work/$instance.port" --metrics-listen none \
    --database "$database" --key-file "$work/service.key" --trusted-proxy 127.0.0.1 2>"$work/$instance.log" &
  hw_pids+=($!)
  wait_for 30 test -s "$work/$instance.port" || fail "the $instance instance did not start"
done

proxy_port=$(free_port)
haproxy_config "$work/haproxy.cfg" "$proxy_port" "$(cat "$work/first.port")" "$(cat "$work/second.port")"
haproxy -f "$work/haproxy.cfg" -db >"$work/haproxy.log" 2>&1 &
hw_pids+=($!)
wait_for 30 bash -c "exec 3<>/dev/tcp/127.0.0.1/$proxy_port" || fail "HAProxy did not start"

start_pdns "$work" --launch=gpgsql --gpgsql-host="$work/replica" --gpgsql-port="$replica_port" \
  --gpgsql-user=hostwarden --gpgsql-dbname=hostwarden || fail "PowerDNS on the replica did not start"

# The client's form body for an account "topo" with password "secret1" on machine 0011223344AA.
envelope=$(python3 -c '
import base64
plain = b"GDS\r\ntopo\r\nsecret1\r\n0011223344AA\0"
shifted = bytes((byte + i + 5) & 0xFF for i, byte in enumerate(plain))
print("a=" + base64.b64encode(base64.b64encode(shifted)).decode())')
# post FROM PATH [PORT [FORWARDED]]: the reply to the client's post from that loopback address.
post() {
  local from=$1 path=$2 port=${3:-$proxy_port} forwarded=${4:-}
  curl -s --max-time 20 --interface "$from" ${forwarded:+-H "X-Forwarded-For: $forwarded"} \
    -H "Content-Type: application/x-www-form-urlencoded" --data-binary "$envelope" "http://127.0.0.1:$port$path"
}
# The replica's DNS answers ADDRESS for the account: how long it took after the reply, in ms.
replica_answers() {
  local address=$1 began
  began=$(date +%s%N)
  wait_for 30 test "$(ask_dns topo.hostwarden.test)" = "$address" || fail "the replica's DNS never answered $address"
  echo $((($(date +%s%N) - began) / 1000000))
}

reply=$(post 127.0.0.5 /sj.php)
[[ "$reply" == "##topo.hostwarden.test now points to 127.0.0.5" ]] || fail "registration through the proxy: $reply"
echo "registered through the first instance; the replica's DNS answered after $(replica_answers 127.0.0.5) ms"
reply=$(post 127.0.0.6 /fo.php)
[[ "$reply" == "**127.0.0.6-"* ]] || fail "check through the second instance: $reply"
echo "checked through the second instance; the replica's DNS answered after $(replica_answers 127.0.0.6) ms"
reply=$(post 127.0.0.7 /fo.php)
[[ "$reply" == "**127.0.0.7-"* ]] || fail "check through the first instance: $reply"
echo "checked through the first instance; the replica's DNS answered after $(replica_answers 127.0.0.7) ms"
for instance in first second; do
  grep -q "hostwarden-service: 127.0.0.[567] POST /" "$work/$instance.log" || fail "the $instance instance logged no client"
done
grep -q "hostwarden-service: 127.0.0.1 POST" "$work/first.log" "$work/second.log" && fail "the proxy was taken for a client"

# The second instance held the account in memory at 127.0.0.6; the first moved it since. Asked
# directly (as the proxy would), the second soon answers a check from 127.0.0.6 as a change again.
wait_for 10 bash -c "[[ \"\$(curl -s --interface 127.0.0.1 -H 'X-Forwarded-For: 127.0.0.6' \
  -H 'Content-Type: application/x-www-form-urlencoded' --data-binary '$envelope' \
  http://127.0.0.1:$(cat "$work/second.port")/fo.php)\" == '**127.0.0.6-'* ]]" ||
  fail "the second instance kept answering from what it held before the first one's change"
echo "the second instance followed the first one's change; the replica's DNS answered after $(replica_answers 127.0.0.6) ms"
echo "topology: all checks passed"
