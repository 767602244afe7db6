#!/usr/bin/env bash
# Updates through the package manager, end to end, with real apt and dpkg: two versions of the
# daemon's packages are built for a repository at http://127.0.0.1:17861/apt, published one after
# the other with scripts/publish-apt.sh and served by the reference service. apt runs in a root of
# the test's own, an overlay of this machine's (so the libraries the packages need are there and the
# machine's own apt state and files stay untouched), in a network namespace of its own with loopback
# only. Also: a repository signed by another key and a package that differs from its index are
# refused, and nothing is installed from them.
#   apt_test.sh BUILD-DIR SOURCE-DIR
# Skipped (77) when not root: the root of its own is a mount and apt installs as root.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
if [ "$(id -u)" -ne 0 ]; then echo "skipped: apt installs as root"; exit 77; fi
work=$(mktemp -d /var/tmp/hostwarden-apt-XXXXXX)
# The agents gpg started for the two keys go with the test.
trap 'gpgconf --homedir "$work/signing" --kill all 2>/dev/null; gpgconf --homedir "$work/stranger" --kill all 2>/dev/null
  rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
export HOSTWARDEN_APT_GNUPG=$work/signing
url=http://127.0.0.1:17861/apt

# Version A and version B of the daemon and of the repository's own package, from one build folder
# (the second version rebuilds only what names the version).
"$source/scripts/publish-apt.sh" --keyring "$work/keyring.gpg"
for version in 1.3.0.1 1.3.0.2; do
  cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOSTWARDEN_BUILD_TESTS=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DHOSTWARDEN_VERSION=$version -DHOSTWARDEN_APT_URL=$url \
    -DHOSTWARDEN_APT_KEYRING="$work/keyring.gpg" >/dev/null
  cmake --build "$work/build" --target hostwarden-daemon hw_man_pages >/dev/null
  (cd "$work/build" && cpack -G DEB -D CPACK_COMPONENTS_ALL="daemon;archive" -B "$work/debs-$version" >/dev/null)
done
version_a=("$work"/debs-1.3.0.1/*.deb)
version_b=("$work"/debs-1.3.0.2/*.deb)
[ "${#version_a[@]}" = 2 ] || fail "version A: ${version_a[*]}"
dpkg-deb -c "$work"/debs-1.3.0.1/hostwarden-archive_*.deb | grep "./etc/apt/sources.list.d/hostwarden.sources$" >/dev/null ||
  fail "the repository's package has no source"
"$source/scripts/publish-apt.sh" "$work/repository" "${version_a[@]}" >/dev/null

# Another repository signed by a stranger's key, and one whose package differs from its index.
HOSTWARDEN_APT_GNUPG=$work/stranger "$source/scripts/publish-apt.sh" "$work/forged" "${version_b[@]}" >/dev/null
"$source/scripts/publish-apt.sh" "$work/tampered" "${version_b[@]}" >/dev/null
for deb in "$work/tampered"/pool/main/hostwarden-daemon_*.deb; do printf 'x' >>"$deb"; done

# Everything else happens in the namespaces: the services, the root of its own, and apt.
export build work url source
unshare --net --mount --propagation private bash -s <<'INSIDE'
set -euo pipefail
fail() { echo "FAILED: $*"; exit 1; }
ip link set lo up
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
serve() {
  "$build/service/hostwarden-service" --listen "127.0.0.1:$1" --metrics-listen none --database "sqlite:$work/dns-$1.db" \
    --apt "$2" 2>"$work/service-$1.log" &
  pids+=($!)
  for _ in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  fail "the service on $1 did not start"
}
serve 17861 "$work/repository"
serve 17862 "$work/forged"
serve 17863 "$work/tampered"

root=$work/root
mkdir -p "$work/upper" "$work/overlay-work" "$root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/tmp"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@"; }
# Only the repositories of the test: the machine's own sources are out of reach here anyway.
rm -f "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*
apt_() { in_root apt-get -q -o Dpkg::Options::=--force-confold -o APT::Sandbox::User=root "$@"; }

# A machine's first installation: the repository's key and source, as the README tells a user.
curl -sf "$url/hostwarden-archive-keyring.gpg" -o "$root/usr/share/keyrings/hostwarden-archive-keyring.gpg" ||
  fail "the keyring is not served"
printf 'Types: deb\nURIs: %s\nSuites: stable\nComponents: main\nSigned-By: /usr/share/keyrings/hostwarden-archive-keyring.gpg\n' \
  "$url" >"$root/etc/apt/sources.list.d/hostwarden.sources"
apt_ update >"$work/update-a.txt" 2>&1 || { cat "$work/update-a.txt"; fail "apt-get update (A)"; }
apt_ install -y hostwarden-daemon >"$work/install-a.txt" 2>&1 || { cat "$work/install-a.txt"; fail "install A"; }
[ "$(in_root hostwarden-daemon --version)" = "hostwarden-daemon 1.3.0.1" ] || fail "A reports $(in_root hostwarden-daemon --version)"
grep -qx "URIs: $url" "$root/etc/apt/sources.list.d/hostwarden.sources" || fail "the installed source names another address"
grep -qx "Signed-By: /usr/share/keyrings/hostwarden-archive-keyring.gpg" "$root/etc/apt/sources.list.d/hostwarden.sources" ||
  fail "the installed source names no keyring"
in_root dpkg -S /etc/apt/sources.list.d/hostwarden.sources | grep '^hostwarden-archive:' >/dev/null || fail "the source is no package's"

version() { in_root dpkg-query -W -f='${Version}' hostwarden-daemon; }

# A repository that is not signed by the key, and a package that differs from its index: apt refuses
# both, and the machine stays at A.
for refused in forged:17862 tampered:17863; do
  printf 'Types: deb\nURIs: http://127.0.0.1:%s/apt\nSuites: stable\nComponents: main\nSigned-By: /usr/share/keyrings/hostwarden-archive-keyring.gpg\n' \
    "${refused#*:}" >"$root/etc/apt/sources.list.d/${refused%:*}.sources"
  apt_ update >"$work/update-${refused%:*}.txt" 2>&1 || true
  apt_ upgrade -y >"$work/upgrade-${refused%:*}.txt" 2>&1 || true
  [ "$(version)" = 1.3.0.1 ] || fail "installed $(version) from the ${refused%:*} repository"
  rm "$root/etc/apt/sources.list.d/${refused%:*}.sources"
done
grep -q "NO_PUBKEY\|is not signed" "$work/update-forged.txt" || { cat "$work/update-forged.txt"; fail "the forged index was not refused"; }
grep -q "Hash Sum mismatch\|unexpected size" "$work/upgrade-tampered.txt" ||
  { cat "$work/upgrade-tampered.txt"; fail "the tampered package was not refused"; }

# The operator publishes B beside A; the machine's next upgrade takes it, and A stays installable
# until the operator removes it.
"$source/scripts/publish-apt.sh" "$work/repository" "$work"/debs-1.3.0.2/*.deb >/dev/null
apt_ update >"$work/update-b.txt" 2>&1 || { cat "$work/update-b.txt"; fail "apt-get update (B)"; }
in_root apt-cache madison hostwarden-daemon | grep 1.3.0.1 >/dev/null || fail "A is no longer offered"
apt_ upgrade -y >"$work/upgrade-b.txt" 2>&1 || { cat "$work/upgrade-b.txt"; fail "apt-get upgrade (B)"; }
[ "$(version)" = 1.3.0.2 ] || fail "the upgrade left $(version)"
[ "$(in_root hostwarden-daemon --version)" = "hostwarden-daemon 1.3.0.2" ] || fail "B reports $(in_root hostwarden-daemon --version)"
"$source/scripts/publish-apt.sh" "$work/repository" --remove hostwarden-daemon 1.3.0.1 >/dev/null
apt_ update >/dev/null 2>&1 || fail "apt-get update after the removal"
in_root apt-cache madison hostwarden-daemon | grep 1.3.0.1 >/dev/null && fail "A is still offered after its removal"
echo "--- what apt printed in the upgrade to B"
cat "$work/upgrade-b.txt"
INSIDE
echo "apt: all checks passed"
