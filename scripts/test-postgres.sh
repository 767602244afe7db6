# Sourced by test.sh: a throwaway PostgreSQL cluster in a temporary folder, for the service's DNS
# test on PostgreSQL. It listens only on a socket in that folder, runs as the postgres user when the
# tests run as root, and is stopped and removed when the test script ends.
source "$(dirname "${BASH_SOURCE[0]}")/servers.sh"
pg_dir=$(mktemp -d /tmp/hostwarden-pg-XXXXXX)
stop_postgres() {
  stop_everything
  rm -rf "$pg_dir"
}
trap stop_postgres EXIT
pg_port=$(free_port)
start_cluster "$pg_dir" "$pg_port"
"${hw_as_pg[@]}" "$hw_pg_bin/createdb" -h "$pg_dir" -p "$pg_port" -U hostwarden hostwarden
export HOSTWARDEN_TEST_POSTGRES="host=$pg_dir port=$pg_port user=hostwarden dbname=hostwarden"
