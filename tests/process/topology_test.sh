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
cleanup() {
  stop_everything
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for log in "$work"/*.log; do echo "--- $log"; tail -n 15 "$log"; done
  exit 1
}

primary_port=$(free_port) replica_port=$(free_port)
start_cluster "$work/primary" "$primary_port"
"${hw_as_pg[@]}" "$hw_pg_bin/createdb" -h "$work/primary" -p "$primary_port" -U hostwarden hostwarden
start_cluster "$work/replica" "$replica_port" "$work/primary:$primary_port"
[ "$("${hw_as_pg[@]}" "$hw_pg_bin/psql" -h "$work/replica" -p "$replica_port" -U hostwarden -Atc 'SELECT pg_is_in_recovery()' hostwarden)" = t ] ||
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
envelope=$(client_envelope topo secret1 0011223344AA)
# post FROM PATH [PORT [FORWARDED]]: the reply to the client's post from that loopback address.
post() {
  local from=$1 path=$2 port=${3:-$proxy_port} forwarded=${4:-}
  curl -s --max-time 20 --interface "$from" ${forwarded:+-H "X-Forwarded-For: $forwarded"} \
    -H "Content-Type: application/x-www-form-urlencoded" --data-binary "$envelope" "http://127.0.0.1:$port$path"
}
dns_is() { [ "$(ask_dns topo.hostwarden.test)" = "$1" ]; }
# The replica's DNS answers ADDRESS for the account; replica_ms: how long it took after the reply.
# (Run on its own line, not inside $(...), so that its failure ends the test.)
replica_answers() {
  local address=$1 began
  began=$(date +%s%N)
  wait_for 30 dns_is "$address" || fail "the replica's DNS never answered $address"
  replica_ms=$((($(date +%s%N) - began) / 1000000))
}

reply=$(post 127.0.0.5 /sj.php)
[[ "$reply" == "##topo.hostwarden.test now points to 127.0.0.5" ]] || fail "registration through the proxy: $reply"
replica_answers 127.0.0.5
echo "registered through the first instance; the replica's DNS answered after $replica_ms ms"
reply=$(post 127.0.0.6 /fo.php)
[[ "$reply" == "**127.0.0.6-"* ]] || fail "check through the second instance: $reply"
replica_answers 127.0.0.6
echo "checked through the second instance; the replica's DNS answered after $replica_ms ms"
reply=$(post 127.0.0.7 /fo.php)
[[ "$reply" == "**127.0.0.7-"* ]] || fail "check through the first instance: $reply"
replica_answers 127.0.0.7
echo "checked through the first instance; the replica's DNS answered after $replica_ms ms"
for instance in first second; do
  grep -q "hostwarden-service: 127.0.0.[567] POST /" "$work/$instance.log" || fail "the $instance instance logged no client"
done
grep -q "hostwarden-service: 127.0.0.1 POST" "$work/first.log" "$work/second.log" && fail "the proxy was taken for a client"

# The second instance held the account in memory at 127.0.0.6; the first moved it since. Asked
# directly (as the proxy would), the second soon answers a check from 127.0.0.6 as a change again.
second_follows() { [[ "$(post 127.0.0.1 /fo.php "$(cat "$work/second.port")" 127.0.0.6)" == '**127.0.0.6-'* ]]; }
wait_for 10 second_follows || fail "the second instance kept answering from what it held before the first one's change"
replica_answers 127.0.0.6
echo "the second instance followed the first one's change; the replica's DNS answered after $replica_ms ms"
echo "topology: all checks passed"
