#!/bin/sh
# Runs a test program in a network and mount namespace of its own, so that it may add and remove
# addresses without touching the machine's interfaces: loopback up, and a hosts file of its own that
# names the fake service by one name with an IPv4 and an IPv6 address.
set -eu
as_root=""
[ "$(id -u)" = 0 ] || as_root=--map-root-user
exec unshare $as_root --net --mount sh -c '
  set -eu
  ip link set lo up
  hosts=$(mktemp)
  printf "127.0.0.1 localhost\n127.0.0.1 service.test\n::1 service.test\n" > "$hosts"
  mount --bind "$hosts" /etc/hosts
  rm -f "$hosts"
  exec "$@"' sh "$@"
