#!/usr/bin/env bash
# Hostwarden's signed apt repository, made from the packages cpack builds:
#   scripts/publish-apt.sh REPOSITORY PACKAGE.deb...      publishes the packages beside those already
#                                                          there, and signs the indexes anew
#   scripts/publish-apt.sh REPOSITORY --remove NAME VERSION   takes one version of a package out
#   scripts/publish-apt.sh --keyring FILE                 writes the repository's public keyring, for
#                                                          the packages' Signed-By (HOSTWARDEN_APT_KEYRING)
# The repository is a folder to serve as it is ("hostwarden-service --apt REPOSITORY", or any static
# web server): pool/main/ holds every version published and not removed, dists/stable/ the indexes,
# with Release, its detached signature Release.gpg and the signed InRelease. apt-ftparchive writes the
# indexes from the pool alone (no database to keep beside it, every version in the pool listed).
# The signing key (Ed25519, no passphrase, for an unattended publisher) is made on first use in
# HOSTWARDEN_APT_GNUPG (default ~/.local/share/hostwarden/apt-signing), outside any source tree;
# keep a copy of that folder: packages that carry the keyring trust this key only.
set -euo pipefail
gnupg=${HOSTWARDEN_APT_GNUPG:-$HOME/.local/share/hostwarden/apt-signing}
signer="Hostwarden archive <archive@hostwarden.test>"
gpg_() { gpg --homedir "$gnupg" --batch --quiet "$@"; }

ensure_key() {
  mkdir -p "$gnupg"
  chmod 700 "$gnupg"
  gpg_ --list-secret-keys "$signer" >/dev/null 2>&1 ||
    gpg_ --passphrase '' --quick-gen-key "$signer" ed25519 sign never
}

# The indexes and their signatures, from what the pool holds now.
index() {
  local repository=$1 arch
  arch=$(dpkg --print-architecture)
  mkdir -p "$repository/pool/main" "$repository/dists/stable/main/binary-$arch"
  (
    cd "$repository"
    apt-ftparchive packages pool >"dists/stable/main/binary-$arch/Packages"
    gzip -9nc "dists/stable/main/binary-$arch/Packages" >"dists/stable/main/binary-$arch/Packages.gz"
    apt-ftparchive -o APT::FTPArchive::Release::Origin=Hostwarden -o APT::FTPArchive::Release::Label=Hostwarden \
      -o APT::FTPArchive::Release::Suite=stable -o APT::FTPArchive::Release::Codename=stable \
      -o APT::FTPArchive::Release::Architectures="$arch all" -o APT::FTPArchive::Release::Components=main \
      release dists/stable >dists/.Release.draft  # inside the repository; dists is not indexed
    mv dists/.Release.draft dists/stable/Release
    gpg_ --yes --local-user "$signer" --clearsign -o dists/stable/InRelease dists/stable/Release
    gpg_ --yes --local-user "$signer" --armor --detach-sign -o dists/stable/Release.gpg dists/stable/Release
  )
  # For a machine's first installation: the key the indexes are signed with, to fetch once.
  gpg_ --export "$signer" >"$repository/hostwarden-archive-keyring.gpg"
}

if [ "${1:-}" = --keyring ]; then
  [ $# = 2 ] || { echo "usage: $0 --keyring FILE" >&2; exit 2; }
  ensure_key
  gpg_ --export "$signer" >"$2"
  exit 0
fi
[ $# -ge 2 ] || { sed -n '2,8p' "$0" >&2; exit 2; }
repository=$(mkdir -p "$1" && cd "$1" && pwd)
shift
ensure_key
if [ "$1" = --remove ]; then
  [ $# = 3 ] || { echo "usage: $0 REPOSITORY --remove NAME VERSION" >&2; exit 2; }
  removed=0
  for deb in "$repository"/pool/main/*.deb; do
    [ -e "$deb" ] || continue
    if [ "$(dpkg-deb -f "$deb" Package)" = "$2" ] && [ "$(dpkg-deb -f "$deb" Version)" = "$3" ]; then
      rm "$deb"
      removed=1
    fi
  done
  [ $removed = 1 ] || { echo "$2 $3 is not in the repository" >&2; exit 1; }
else
  mkdir -p "$repository/pool/main"
  for deb in "$@"; do
    dpkg-deb -f "$deb" Package >/dev/null || { echo "$deb is no Debian package" >&2; exit 1; }
    cp "$deb" "$repository/pool/main/"
  done
fi
index "$repository"
echo "published: $(cd "$repository/pool/main" && ls | tr '\n' ' ')"
