# Sourced by test.sh: a throwaway PostgreSQL cluster in a temporary folder, for the service's DNS
# test on PostgreSQL. It listens only on a socket in that folder, runs as the postgres user when the
# tests run as root, and is stopped and removed when the test script ends.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pg_dir=$(mktemp -d /tmp/hostwarden-pg-XXXXXX)
as_pg=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$pg_dir"
  as_pg=(runuser -u postgres --)
fi
stop_postgres() {
  "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$pg_dir"
}
trap stop_postgres EXIT
pg_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_pg[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -A trust -U hostwarden >/dev/null
"${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w \
  -o "-k $pg_dir -p $pg_port -c listen_addresses=''" start >/dev/null
"${as_pg[@]}" "$pg_bin/createdb" -h "$pg_dir" -p "$pg_port" -U hostwarden hostwarden
export HOSTWARDEN_TEST_POSTGRES="host=$pg_dir port=$pg_port user=hostwarden dbname=hostwarden"
