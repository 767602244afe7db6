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
#       actions                                       postgresql pdns    pdns.service policy-rc.d
expect "no-main-cluster block-starts disable-pdns"    missing    missing other        absent
expect "no-main-cluster disable-pdns"                 missing    missing other        present
expect "block-starts disable-pdns"                    present    missing other        absent
expect "block-starts"                                 present    missing enabled      absent
expect "no-main-cluster block-starts"                 missing    present enabled      absent
expect ""                                             present    present enabled      absent
expect ""                                             present    present other        present
[ $failed = 0 ] && echo "install step decisions: all cases passed"
exit $failed
