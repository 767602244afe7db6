#!/usr/bin/env bash
# The install step's decisions, as a table: what it does around the package installation for each
# state of the machine, so that it starts and enables no server and never touches one it had.
set -euo pipefail
source "$(dirname "$0")/../../scripts/install-deps.sh"
failed=0
expect() {
  local expected=$1 got
  shift
  got=$(install_plan "$@" | paste -sd' ' -)
  if [ "$got" != "$expected" ]; then
    echo "FAILED: install_plan $* gave '$got', not '$expected'"
    failed=1
  fi
}
#       actions                                                postgresql policy-rc.d  server packages (PACKAGE:state:unit before)
expect "no-main-cluster block-starts disable-pdns.service"     missing    absent  pdns-server:missing:other
expect "no-main-cluster disable-pdns.service"                  missing    present pdns-server:missing:other
expect "block-starts disable-pdns.service"                     present    absent  pdns-server:missing:other
expect "block-starts"                                          present    absent  pdns-server:missing:enabled
expect "no-main-cluster block-starts"                          missing    absent  pdns-server:present:enabled
expect ""                                                      present    absent  pdns-server:present:enabled
expect ""                                                      present    present pdns-server:present:other
expect "block-starts disable-nginx.service"                    present    absent  pdns-server:present:other nginx-light:missing:other
expect "block-starts disable-haproxy.service"                  present    absent  haproxy:missing:other nginx-light:missing:enabled
expect ""                                                      present    absent  haproxy:present:other nginx-light:present:other
[ $failed = 0 ] && echo "install step decisions: all cases passed"
exit $failed
