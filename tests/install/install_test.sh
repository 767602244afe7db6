#!/usr/bin/env bash
# Installs the client into a temporary root, runs the installed program's start-up against the
# reference service, and builds the Debian packages to check their contents and dependencies.
# Usage: install_test.sh BUILD-DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

# The installed tree.
DESTDIR="$work/root" cmake --install "$build" --component client >/dev/null
root="$work/root"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
for file in lib/hostwarden/Hostwarden lib/hostwarden/loader.exe lib/hostwarden/lang.ini bin/hostwarden \
            share/applications/hostwarden.desktop share/icons/hicolor/16x16/apps/hostwarden.png; do
  [ -e "$root$prefix/$file" ] || fail "not installed: $prefix/$file"
done
etc=$prefix/etc
[ "$prefix" = /usr ] && etc=/etc
[ -e "$root$etc/xdg/autostart/hostwarden.desktop" ] || fail "no autostart entry in $etc"
[ ! -e "$root/etc" ] || [ "$etc" = /etc ] || fail "installed into the machine's /etc under the prefix $prefix"
grep -q '^Exec=hostwarden$' "$root$prefix/share/applications/hostwarden.desktop" || fail "desktop entry"
grep -q '^Keywords=.*DDNS;' "$root$prefix/share/applications/hostwarden.desktop" || fail "no Keywords in the desktop entry"
man -l "$root$prefix/share/man/man1/hostwarden.1.gz" >/dev/null || fail "the client's manual page"
# What software centres show: valid AppStream metadata that names the desktop entry.
metainfo="$root$prefix/share/metainfo/test.hostwarden.Hostwarden.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$work/appstream.txt" 2>&1 || { cat "$work/appstream.txt"; fail "AppStream metadata"; }
grep -q '<launchable type="desktop-id">hostwarden.desktop</launchable>' "$metainfo" || fail "the metadata names no launcher"

# The daemon's installed tree: run through the link on the path, it finds its language file.
DESTDIR="$work/root" cmake --install "$build" --component daemon >/dev/null
for file in lib/hostwarden-daemon/hostwarden-daemon lib/hostwarden-daemon/lang.ini bin/hostwarden-daemon \
            lib/systemd/system/hostwarden-daemon.service lib/systemd/user/hostwarden-daemon.service; do
  [ -e "$root$prefix/$file" ] || fail "not installed: $prefix/$file"
done
[ -L "$root$prefix/bin/hostwarden-daemon" ] || fail "bin/hostwarden-daemon is no link"
daemon_status=0
HOSTWARDEN_TEST_SETTINGS_DB="$work/daemon-settings.db" "$root$prefix/bin/hostwarden-daemon" status \
  >"$work/daemon.out" 2>&1 || daemon_status=$?
[ "$daemon_status" = 3 ] && grep -q "^Account: none$" "$work/daemon.out" ||
  fail "the installed daemon did not report the missing account ($daemon_status): $(cat "$work/daemon.out")"

# The installed program's start-up, through its launcher, against the real service.
"$build/service/hostwarden-service" --listen 127.0.0.1:0 --port-file "$work/port" --metrics-listen 127.0.0.1:0 \
  --database "sqlite:$work/dns.db" --clock-start "2013-06-15 10:00:00" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the service did not start: $(cat "$work/service.log")"
mkdir -p "$work/runtime"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" LC_ALL=en_US.UTF-8 \
  HOSTWARDEN_TEST_SETTINGS_DB="$work/settings.db" HOSTWARDEN_TEST_TRACE="$work/trace" \
  HOSTWARDEN_TEST_SERVICE_HOST="http://127.0.0.1:$(cat "$work/port")" HOSTWARDEN_TEST_ACTIONS=Exit1 \
  timeout 60 "$root$prefix/bin/hostwarden" 2>"$work/client.log" || fail "the installed client did not end well"
grep -q "event loop" "$work/trace" || fail "the installed client did not reach its event loop: $(cat "$work/client.log")"
grep -q "GET /now.php 200" "$work/service.log" || fail "the installed client did not read the service's clock"

# The packages.
(cd "$build" && cpack -G DEB -B "$work/packages" >/dev/null)
client=$(ls "$work"/packages/hostwarden_*.deb)
service=$(ls "$work"/packages/hostwarden-service_*.deb)
daemon=$(ls "$work"/packages/hostwarden-daemon_*.deb)
contents=$(dpkg-deb -c "$client")
for file in ./usr/lib/hostwarden/Hostwarden ./usr/lib/hostwarden/loader.exe ./usr/lib/hostwarden/lang.ini \
            ./usr/bin/hostwarden ./etc/xdg/autostart/hostwarden.desktop ./usr/share/applications/hostwarden.desktop; do
  grep -q " $file\$" <<<"$contents" || fail "the client package lacks $file"
done
depends=$(dpkg-deb -f "$client" Depends)
for package in libqt6widgets6 libsqlite3-0 libcurl4 libsodium23 libssl3 fonts-liberation; do
  grep -q "$package" <<<"$depends" || fail "the client package does not depend on $package: $depends"
done
dpkg-deb -I "$client" postinst | grep -q "install -d -o root -g hostwarden -m 2770 /var/lib/hostwarden" ||
  fail "the client package does not make the settings folder"
grep -q " ./usr/lib/systemd/system/hostwarden-service.service$" <<<"$(dpkg-deb -c "$service")" || fail "no service unit"
grep -q "pdns-backend-sqlite3" <<<"$(dpkg-deb -f "$service" Depends)" || fail "the service package lacks PowerDNS"
daemon_contents=$(dpkg-deb -c "$daemon")
for file in ./usr/lib/hostwarden-daemon/hostwarden-daemon ./usr/lib/hostwarden-daemon/lang.ini \
            ./usr/lib/systemd/system/hostwarden-daemon.service ./usr/lib/systemd/user/hostwarden-daemon.service; do
  grep -q " $file\$" <<<"$daemon_contents" || fail "the daemon package lacks $file"
done
grep -q " ./usr/bin/hostwarden-daemon -> ../lib/hostwarden-daemon/hostwarden-daemon$" <<<"$daemon_contents" ||
  fail "the daemon package lacks its link on the path"
grep -q "libssl3" <<<"$(dpkg-deb -f "$daemon" Depends)" || fail "the daemon package does not depend on libssl3"
! grep -qi "qt6\|libx11\|libgl" <<<"$(dpkg-deb -f "$daemon" Depends)" ||
  fail "the daemon package pulls a desktop: $(dpkg-deb -f "$daemon" Depends)"
dpkg-deb -I "$daemon" postinst | grep -q "adduser --quiet --system --ingroup hostwarden" ||
  fail "the daemon package does not make its user"
dpkg-deb -I "$service" conffiles | grep -qx /etc/hostwarden/pdns/pdns.conf || fail "pdns.conf is no conffile"
dpkg-deb -I "$client" conffiles | grep -qx /etc/xdg/autostart/hostwarden.desktop || fail "the autostart entry is no conffile"

# Debian's own checks: lintian finds no error (the warnings it prints are listed in the README), and
# the units pass systemd's verification, with their exposure printed.
lint=0
lintian --fail-on error "$client" "$daemon" "$service" >"$work/lintian.txt" 2>&1 || lint=$?
grep -v "running with root privileges" "$work/lintian.txt" || true
[ "$lint" = 0 ] || fail "lintian found errors in the packages"
# Debian's hardening: no binary without fortified functions, immediate binding or the like.
lintian --pedantic "$client" "$daemon" "$service" 2>/dev/null | grep -E "hardening-|no-manual-page" &&
  fail "lintian finds hardening or a manual page missing"
mkdir "$work/units"
dpkg-deb -x "$service" "$work/extracted"
dpkg-deb -x "$daemon" "$work/extracted"
for page in man1/hostwarden-daemon.1.gz man8/hostwarden-service.8.gz; do
  man -l "$work/extracted/usr/share/man/$page" >/dev/null || fail "no manual page $page in the packages"
done
cp "$work/extracted/usr/lib/systemd/user/hostwarden-daemon.service" "$work/units/hostwarden-daemon-user.service"
for unit in hostwarden-service hostwarden-pdns hostwarden-daemon hostwarden-daemon-user; do
  # The programs as this build made them: the units name the installed ones, which this machine lacks.
  source_unit="$work/extracted/usr/lib/systemd/system/$unit.service"
  [ -e "$source_unit" ] || source_unit="$work/units/$unit.service"
  sed -e "s|/usr/bin/hostwarden-service|$build/service/hostwarden-service|" \
      -e "s|/usr/bin/hostwarden-daemon|$build/bin/hostwarden-daemon|" "$source_unit" >"$work/units/$unit.tmp"
  mv "$work/units/$unit.tmp" "$work/units/$unit.service"
done
(cd "$work/units" && systemd-analyze verify hostwarden-service.service hostwarden-pdns.service \
  hostwarden-daemon.service hostwarden-daemon-user.service) || fail "systemd-analyze verify refused the units"
for unit in hostwarden-service hostwarden-pdns hostwarden-daemon; do
  (cd "$work/units" && systemd-analyze security --offline=yes "$unit.service" | tail -n 1)
done
echo "installation and packages: all checks passed"
