#!/usr/bin/env bash
# The client's and the daemon's maintainer scripts for the shared settings folder, run as dpkg runs
# them, as root, in a mount namespace where /etc and /var/lib are overlays of the test's own: the
# machine's users, groups, package database and /var/lib stay untouched.
#   maintainer_scripts_test.sh BUILD-DIR
# Skipped (77) when not root: the scripts make system groups and root-owned files.
set -euo pipefail
build=$(cd "$1" && pwd)
if [ "$(id -u)" -ne 0 ]; then echo "skipped: the maintainer scripts run as root"; exit 77; fi
if [ -z "${HOSTWARDEN_TEST_OVERLAID:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work"/{etc,var}/{up,work}
  HOSTWARDEN_TEST_OVERLAID=$work unshare --mount --propagation private bash -c '
    set -e
    mount -t overlay overlay -o lowerdir=/etc,upperdir=$HOSTWARDEN_TEST_OVERLAID/etc/up,workdir=$HOSTWARDEN_TEST_OVERLAID/etc/work /etc
    mount -t overlay overlay -o lowerdir=/var/lib,upperdir=$HOSTWARDEN_TEST_OVERLAID/var/up,workdir=$HOSTWARDEN_TEST_OVERLAID/var/work /var/lib
    exec bash "$0" "$1"' "$0" "$build"
  exit
fi

failed=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
scripts=$build/packaging
folder=/var/lib/hostwarden
planted_target=$HOSTWARDEN_TEST_OVERLAID/planted-target  # the test's own, not the machine's /tmp
rm -rf "$folder" "$planted_target"

# run_script PACKAGE SCRIPT ARGUMENTS...: a maintainer script as dpkg runs it.
run_script() {
  DPKG_MAINTSCRIPT_PACKAGE=$1 DPKG_MAINTSCRIPT_NAME=${2##*/} "$scripts/$2" "${@:3}"
}

# A first installation makes the group, the folder and the file, as the programs need them, and
# changes no owner or mode by a name inside the folder, where a member of the group could swap in a
# link between two steps (traced).
strace -f -qq -o "$HOSTWARDEN_TEST_OVERLAID/trace" -e trace=chmod,fchmodat,chown,fchownat,lchown \
  env DPKG_MAINTSCRIPT_PACKAGE=hostwarden DPKG_MAINTSCRIPT_NAME=postinst "$scripts/client-scripts/postinst" configure
check "no owner or mode changed by a name inside the folder" \
  test -z "$(grep '"/var/lib/hostwarden/' "$HOSTWARDEN_TEST_OVERLAID/trace" || true)"
check "the folder is root's, the group's, closed to others, setgid" test "$(stat -c '%U %G %a' "$folder")" = "root hostwarden 2770"
check "the settings file is root's and the group's, 0660" test "$(stat -c '%U %G %a %F' "$folder/settings.db")" = "root hostwarden 660 regular empty file"
check "no draft is left in /var/lib" test -z "$(ls -A /var/lib | grep '^\.hostwarden-settings' || true)"

# A file there is never replaced; a link planted where none is (by a member of the group) is, and
# its target is never made.
echo "stored account" >"$folder/settings.db"
run_script hostwarden-daemon daemon-scripts/postinst configure
check "an existing settings file keeps its content" grep -q "stored account" "$folder/settings.db"
rm "$folder/settings.db"
ln -s "$planted_target" "$folder/settings.db"
run_script hostwarden client-scripts/postinst configure
check "a planted link is replaced by the settings file" test -f "$folder/settings.db" -a ! -L "$folder/settings.db"
check "the link's target was never made" test ! -e "$planted_target"

# Purge: the folder stays while the other package is installed, and goes with the last one.
cat >>/var/lib/dpkg/status <<STATUS

Package: hostwarden-daemon
Status: install ok installed
Architecture: amd64
Version: 1.0

STATUS
run_script hostwarden client-scripts/postrm purge
check "purging the client keeps the folder while the daemon is installed" test -f "$folder/settings.db"
run_script hostwarden-daemon daemon-scripts/postrm purge
check "purging the daemon, the last of the two, removes the folder" test ! -e "$folder"
check "the group stays" getent group hostwarden
exit $failed
