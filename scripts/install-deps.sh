#!/usr/bin/env bash
# Installs everything the client and its tests need on a fresh Debian machine.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  build-essential cmake ninja-build pkg-config python3 dpkg-dev clang libclang-rt-14-dev
  qt6-base-dev libgl-dev libsqlite3-dev libicu-dev libcurl4-openssl-dev libsodium-dev
  libgtest-dev libgmock-dev
  libcpp-httplib-dev libpq-dev pdns-server pdns-backend-sqlite3 pdns-backend-pgsql postgresql dnsutils
  locales fonts-dejavu-core fonts-liberation fonts-wqy-microhei
  xvfb openbox trayer xdotool x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Locales the log-stamp tests format weekdays in.
need_locales=(en_US.UTF-8 de_DE.UTF-8 zh_TW.UTF-8)
regen=0
for l in "${need_locales[@]}"; do
  norm=$(echo "$l" | sed 's/UTF-8/utf8/')
  if ! locale -a 2>/dev/null | grep -qx "$norm"; then
    $SUDO sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    regen=1
  fi
done
[ $regen = 0 ] || $SUDO locale-gen >/dev/null
