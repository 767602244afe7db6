# Sourced by the scripts that start servers of their own (the run command, the desktop and topology
# tests): the reference service, PowerDNS, and the helpers to wait for them and stop them. Everything
# started here is recorded in hw_pids and stopped by stop_everything (the callers trap it on exit).

hw_pids=()
hw_dns_port=
hw_service_port=

# PostgreSQL clusters of the caller's own, run as the postgres user when the caller is root.
hw_clusters=()
hw_pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
hw_as_pg=()
[ "$(id -u)" -eq 0 ] && hw_as_pg=(runuser -u postgres --)

# start_cluster FOLDER PORT [PRIMARY]: a cluster in FOLDER/data with a role hostwarden, listening
# only on a socket in FOLDER (named by PORT); made from a base backup of PRIMARY (folder:port), as
# its streaming replica, when one is given. Stopped by stop_everything.
start_cluster() {
  local folder=$1 port=$2 primary=${3:-}
  mkdir -p "$folder"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$folder"
  if [ -z "$primary" ]; then
    "${hw_as_pg[@]}" "$hw_pg_bin/initdb" -D "$folder/data" -A trust -U hostwarden >/dev/null
  else
    "${hw_as_pg[@]}" "$hw_pg_bin/pg_basebackup" -h "${primary%:*}" -p "${primary#*:}" -U hostwarden -D "$folder/data" \
      -R -X stream -c fast
  fi
  "${hw_as_pg[@]}" "$hw_pg_bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w \
    -o "-k $folder -p $port -c listen_addresses=''" start >/dev/null
  hw_clusters+=("$folder/data")
}

# free_port: a TCP port on the loopback that the system has just handed out and taken back.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# A port for PowerDNS, free for UDP and TCP alike, below the ephemeral range (32768 and up) where
# other programs' listeners and outgoing connections would take theirs meanwhile.
free_dns_port() {
  python3 -c '
import random, socket
while True:
    port = random.randrange(20000, 32000)
    try:
        for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
            with socket.socket(socket.AF_INET, kind) as s:
                s.bind(("127.0.0.1", port))
    except OSError:
        continue
    print(port)
    break
'
}

# start_service BUILD-DIR FOLDER PORT [service options...]: the reference service on 127.0.0.1:PORT
# (0: any free port) with its SQLite database in FOLDER, and PowerDNS on a free port reading it.
start_service() {
  local build=$1 folder=$2 port=$3
  shift 3
  rm -f "$folder/service.port"
  "$build/service/hostwarden-service" --listen "127.0.0.1:$port" --port-file "$folder/service.port" \
    --metrics-listen 127.0.0.1:0 \
    --database "sqlite:$folder/dns.db" --builds "$folder/builds" "$@" 2>>"$folder/service.log" &
  hw_pids+=($!)
  wait_for 10 test -s "$folder/service.port" || { echo "the service did not start:"; tail -n 5 "$folder/service.log"; return 1; }
  hw_service_port=$(cat "$folder/service.port")
  start_pdns "$folder" --launch=gsqlite3 --gsqlite3-database="$folder/dns.db"
}

# client_envelope NAME PASSWORD MACHINE: the client's form body for that account and machine.
client_envelope() {
  python3 - "$@" <<'PY'
import base64, sys
plain = ("GDS\r\n%s\r\n%s\r\n%s" % tuple(sys.argv[1:4])).encode() + b"\0"
shifted = bytes((byte + i + 5) & 0xFF for i, byte in enumerate(plain))
print("a=" + base64.b64encode(base64.b64encode(shifted)).decode())
PY
}

pdns_answers() { [[ "$(ask_dns hostwarden.test SOA)" == *hostmaster* ]]; }

# start_pdns FOLDER BACKEND-OPTIONS...: PowerDNS on a free loopback port (hw_dns_port) reading the
# records from that backend, with every cache off so that a change shows at once; its files in
# FOLDER/pdns.
start_pdns() {
  local folder=$1
  shift
  hw_dns_port=$(free_dns_port)
  mkdir -p "$folder/pdns"
  /usr/sbin/pdns_server --config-dir="$folder/pdns" --socket-dir="$folder/pdns" "$@" \
    --local-address=127.0.0.1 --local-port="$hw_dns_port" \
    --guardian=no --daemon=no --write-pid=no --security-poll-suffix= --cache-ttl=0 --query-cache-ttl=0 \
    --negquery-cache-ttl=0 --zone-cache-refresh-interval=0 >"$folder/pdns.log" 2>&1 &
  hw_pids+=($!)
  wait_for 10 pdns_answers && return 0
  echo "PowerDNS did not answer:"; tail -n 5 "$folder/pdns.log"; return 1
}

# ask_dns NAME [TYPE]: PowerDNS's short answer, or NXDOMAIN.
ask_dns() {
  local answer
  answer=$(dig @127.0.0.1 -p "$hw_dns_port" +time=2 +tries=1 "$1" "${2:-A}")
  if grep -q "status: NXDOMAIN" <<<"$answer"; then echo NXDOMAIN; return; fi
  dig @127.0.0.1 -p "$hw_dns_port" +time=2 +tries=1 +short "$1" "${2:-A}"
}

stop_everything() {
  local pid cluster
  for cluster in "${hw_clusters[@]}"; do
    "${hw_as_pg[@]}" "$hw_pg_bin/pg_ctl" -D "$cluster" -m immediate stop >/dev/null 2>&1 || true
  done
  hw_clusters=()
  for pid in "${hw_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A part that has not ended 5 s after TERM (xfce4-panel may not) is killed.
  for pid in "${hw_pids[@]}"; do
    for _ in $(seq 1 50); do running "$pid" || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  hw_pids=()
}

# running PID: the process exists and has not ended (a child that ended but was not waited for has).
running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state:0:1}" != Z ]
}

# wait_for SECONDS COMMAND...: runs the command until it succeeds, for at most that long.
wait_for() {
  local seconds=$1 tries
  shift
  for tries in $(seq 1 $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}


# haproxy_config FILE PORT BACKEND-PORT...: HAProxy on 127.0.0.1:PORT in front of service instances on
# those loopback ports, in turn, naming each client to them in X-Forwarded-For (the instances take it
# from the proxy's address, --trusted-proxy 127.0.0.1).
haproxy_config() {
  local file=$1 port=$2 backend n=0
  shift 2
  {
    printf 'global\n  maxconn 4000\n  nbthread %s\n' "$(nproc)"
    printf 'defaults\n  mode http\n  timeout connect 5s\n  timeout client 30s\n  timeout server 30s\n'
    printf '  option forwardfor\n  http-reuse always\n'
    printf 'frontend checks\n  bind 127.0.0.1:%s\n  default_backend services\n' "$port"
    printf 'backend services\n  balance roundrobin\n'
    for backend in "$@"; do printf '  server instance%s 127.0.0.1:%s\n' $((n += 1)) "$backend"; done
  } >"$file"
}
