#!/usr/bin/env bash
# A client counts under its IPv6 /64 for the connection share, as a single host commonly holds a
# whole /64: with --max-per-address 4, four connections from four addresses of one /64 are served,
# a fifth from a fifth address of it is closed unanswered, and another /64 is still served. Run in a
# network namespace of the test's own, where two /64 networks are local to the loopback.
#   ipv6_share_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1
if [ -z "${HOSTWARDEN_TEST_IN_NAMESPACE:-}" ]; then
  HOSTWARDEN_TEST_IN_NAMESPACE=1 exec "$2/tests/process/in-network-namespace.sh" bash "$0" "$@"
fi
source "$2/scripts/servers.sh"
work=$(mktemp -d)
trap 'stop_everything; rm -rf "$work"' EXIT
sysctl -qw net.ipv6.ip_nonlocal_bind=1  # a source address from the local /64 routes
ip -6 route add local 2001:db8:1:2::/64 dev lo
ip -6 route add local 2001:db8:1:3::/64 dev lo
"$build/service/hostwarden-service" --listen "[::1]:0" --port-file "$work/port" --metrics-listen none \
  --database "sqlite:$work/dns.db" --max-per-address 4 2>"$work/service.log" &
hw_pids+=($!)
wait_for 30 test -s "$work/port" || { cat "$work/service.log"; exit 1; }
python3 - "$(cat "$work/port")" <<'PY'
import socket, sys
port = int(sys.argv[1])

def connect(source):
    s = socket.socket(socket.AF_INET6)
    s.bind((source, 0))
    s.connect(("::1", port))
    s.settimeout(10)
    return s

def ask(s):
    s.sendall(b"GET /now.php HTTP/1.1\r\nHost: x\r\n\r\n")
    return s.recv(12)

held = [connect("2001:db8:1:2::%d" % n) for n in range(1, 5)]
for s in held:
    assert ask(s) == b"HTTP/1.1 200", "one of the first four was not served"
fifth = connect("2001:db8:1:2::ffff:5")
try:
    reply = ask(fifth)
except (ConnectionResetError, BrokenPipeError):
    reply = b""
assert reply == b"", "a fifth connection from the same /64 was served: %r" % reply
assert ask(connect("2001:db8:1:3::1")) == b"HTTP/1.1 200", "another /64 was not served"
print("ipv6 share: all checks passed")
PY
