#!/usr/bin/env bash
# Certificate reloads: each SIGHUP serves new connections from a new daemon on the same socket, while
# the one before serves its open connections on until they end or the drain deadline passes
# (--reload-drain 2). A client that keeps its connection busy cannot hold a retired daemon (and its
# threads) for ever: after five reloads the service runs as many threads as before them, and the
# client's connection has been ended.
#   tls_reload_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1
source "$2/scripts/servers.sh"
work=$(mktemp -d)
trap 'stop_everything; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; tail -n 20 "$work/service.log"; exit 1; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
"$build/service/hostwarden-service" --listen 127.0.0.1:0 --port-file "$work/port" --metrics-listen none \
  --database "sqlite:$work/dns.db" --tls-cert "$work/cert.pem" --tls-key "$work/key.pem" --reload-drain 2 \
  2>"$work/service.log" &
service=$!
hw_pids+=($service)
wait_for 30 test -s "$work/port" || fail "the service did not start"
threads() { ls "/proc/$service/task" | wc -l; }
threads_at_most() { [ "$(threads)" -le "$1" ]; }
reloads_logged() { [ "$(grep -c 'TLS certificate read again' "$work/service.log")" -ge "$1" ]; }
before=$(threads)

# A client that asks every 0.2 s on one kept connection, and writes down when the service ends it.
python3 - "$(cat "$work/port")" "$work/cert.pem" "$work/client" <<'PY' &
import socket, ssl, sys, time
port, authority, report = int(sys.argv[1]), sys.argv[2], sys.argv[3]
context = ssl.create_default_context(cafile=authority)
with socket.create_connection(("127.0.0.1", port)) as raw, context.wrap_socket(raw, server_hostname="127.0.0.1") as tls:
    began = time.monotonic()
    open(report, "w").write("connected\n")
    while time.monotonic() - began < 60:
        try:
            tls.sendall(b"GET /now.php HTTP/1.1\r\nHost: x\r\n\r\n")
            if not tls.recv(4096):
                break
        except OSError:
            break
        time.sleep(0.2)
    open(report, "a").write("ended after %.1f s\n" % (time.monotonic() - began))
PY
client=$!
hw_pids+=($client)  # stopped with the rest if the test fails before it ends
wait_for 30 grep -q connected "$work/client" || fail "the client did not connect"
for reload in 1 2 3 4 5; do
  kill -HUP "$service"
  wait_for 10 reloads_logged "$reload" || fail "reload $reload"
done
wait "$client" || true
grep "ended after" "$work/client" || fail "the client's connection was never ended"
[ "$(awk '/ended after/ {print int($3)}' "$work/client")" -lt 30 ] || fail "the retired daemon outlived its deadline"
wait_for 10 threads_at_most "$before" || fail "$(threads) threads after five reloads, $before before"
curl -s --max-time 10 --cacert "$work/cert.pem" "https://127.0.0.1:$(cat "$work/port")/now.php" | grep "^20" >/dev/null ||
  fail "new connections are not served after the reloads"
echo "tls reload: all checks passed ($before threads before and after)"
