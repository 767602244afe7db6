#!/usr/bin/env bash
# Installs everything the client and its tests need on a fresh Debian machine, and leaves the machine
# as it was apart from the packages: it starts no server and enables none. Debian's PowerDNS,
# PostgreSQL, HAProxy and nginx packages would start and enable their own servers (port 53 on every
# address, a "main" cluster on port 5432, port 80); our scripts never use them, as they start and
# stop servers of their own. A server the machine already had is never stopped or disabled.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  build-essential cmake ninja-build pkg-config python3 dpkg-dev lintian systemd clang libclang-rt-14-dev
  qt6-base-dev libgl-dev libsqlite3-dev libicu-dev libcurl4-openssl-dev libsodium-dev libssl-dev
  libgtest-dev libgmock-dev
  libmicrohttpd-dev libcpp-httplib-dev libpq-dev pdns-server pdns-backend-sqlite3 pdns-backend-pgsql postgresql dnsutils
  locales fonts-dejavu-core fonts-liberation fonts-wqy-microhei
  xvfb openbox trayer xdotool x11-utils x11-xserver-utils imagemagick openssl curl iproute2 util-linux strace
  appstream dbus dbus-x11 libglib2.0-bin python3-dbus-next jq xfce4-panel sway waybar xwayland qt6-wayland grim libxcb1-dev
  haproxy nginx-light wrk apt-utils gnupg
)
# The packages that bring a server of their own, each with the unit it enables.
server_packages=(pdns-server:pdns.service haproxy:haproxy.service nginx-light:nginx.service)
# The units whose enabling this step must not leave behind.
watched_units=(postgresql@15-main.service "${server_packages[@]#*:}")

# What the step does around the package installation, from what the machine has:
#   $1 postgresql: missing|present   $2 /usr/sbin/policy-rc.d: present|absent
#   then for each server package: PACKAGE:missing|present:enabled|other (its unit before the step)
# Prints the actions, one a line:
#   no-main-cluster  the PostgreSQL packages make no cluster (only when this step installs them)
#   block-starts     no service starts while the packages install (a policy-rc.d of our own)
#   disable-UNIT     the unit that a newly installed package enabled is disabled again
install_plan() {
  local postgresql=$1 policy=$2 server package state before block=no disables=()
  shift 2
  [ "$postgresql" = missing ] && echo no-main-cluster && block=yes
  for server in "$@"; do
    IFS=: read -r package state before <<<"$server"
    [ "$state" = missing ] || continue
    block=yes
    [ "$before" = enabled ] || disables+=("disable-$(unit_of "$package")")
  done
  [ "$policy" = absent ] && [ $block = yes ] && echo block-starts
  [ ${#disables[@]} = 0 ] || printf '%s\n' "${disables[@]}"
  return 0
}

# The unit a server package enables.
unit_of() {
  local entry
  for entry in "${server_packages[@]}"; do [ "${entry%%:*}" = "$1" ] && echo "${entry#*:}"; done
}

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# "enabled", or another word for any other state (also when systemd is not there at all).
unit_state() {
  local state
  state=$(systemctl is-enabled "$1" 2>/dev/null) || true
  echo "${state:-absent}"
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$@"
}

# The changes to the machine's configuration that last only as long as the installation, newest
# first; undone when it ends, and when the script ends in any other way.
undo_steps=()
undo_all() {
  local step
  for step in "${undo_steps[@]}"; do eval "$step"; done
  undo_steps=()
}

# Runs the installation of the missing packages as the plan says.
install_missing() {
  local plan=$1
  shift
  local conf=/etc/postgresql-common/createcluster.conf policy=/usr/sbin/policy-rc.d
  trap undo_all EXIT
  $SUDO apt-get update -q
  if grep -qx block-starts <<<"$plan"; then
    printf '#!/bin/sh\n# Written by the Hostwarden install step for the length of one installation.\nexit 101\n' |
      $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    undo_steps=("$SUDO rm -f $policy" "${undo_steps[@]}")
  fi
  if grep -qx no-main-cluster <<<"$plan"; then
    is_installed postgresql-common || apt_install postgresql-common
    $SUDO cp -p "$conf" "$conf.hostwarden-saved"
    undo_steps=("$SUDO mv $conf.hostwarden-saved $conf" "${undo_steps[@]}")
    $SUDO sed -i 's/^#\?[[:space:]]*create_main_cluster[[:space:]]*=.*/create_main_cluster = false/' "$conf"
    grep -qx 'create_main_cluster = false' "$conf" || echo 'create_main_cluster = false' | $SUDO tee -a "$conf" >/dev/null
  fi
  apt_install "$@"
  undo_all
  local unit
  command -v systemctl >/dev/null || return 0
  for unit in $(sed -n 's/^disable-//p' <<<"$plan"); do
    $SUDO systemctl disable --quiet "$unit" 2>/dev/null || true
  done
}

# Fails when a watched unit is enabled now that was not before the step.
check_no_new_servers() {
  if ! command -v systemctl >/dev/null; then
    echo "install step: no systemd here; the check for newly enabled servers did not apply"
    return 0
  fi
  local i unit now failed=0
  for i in "${!watched_units[@]}"; do
    unit=${watched_units[$i]}
    now=$(unit_state "$unit")
    if [ "$now" = enabled ] && [ "${before[$i]}" != enabled ]; then
      echo "install step: FAILED: it left $unit enabled" >&2
      failed=1
    fi
  done
  [ $failed = 0 ] && echo "install step: no server enabled or started (${watched_units[*]} as before)"
  return $failed
}

main() {
  local p missing=()
  for p in "${packages[@]}"; do is_installed "$p" || missing+=("$p"); done
  before=()
  for p in "${watched_units[@]}"; do before+=("$(unit_state "$p")"); done
  if [ ${#missing[@]} -gt 0 ]; then
    local postgresql=present policy=absent plan entry package state servers=()
    is_installed postgresql || postgresql=missing
    for entry in "${server_packages[@]}"; do
      package=${entry%%:*} state=missing
      is_installed "$package" && state=present
      servers+=("$package:$state:$(unit_state "${entry#*:}")")
    done
    [ -e /usr/sbin/policy-rc.d ] && policy=present
    plan=$(install_plan "$postgresql" "$policy" "${servers[@]}")
    install_missing "$plan" "${missing[@]}"
  fi
  check_no_new_servers

  # Locales the log-stamp tests format weekdays in.
  local need_locales=(en_US.UTF-8 de_DE.UTF-8 zh_TW.UTF-8 zh_CN.UTF-8) regen=0 l norm
  for l in "${need_locales[@]}"; do
    norm=$(echo "$l" | sed 's/UTF-8/utf8/')
    if ! locale -a 2>/dev/null | grep -qx "$norm"; then
      $SUDO sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
      grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
      regen=1
    fi
  done
  [ $regen = 0 ] || $SUDO locale-gen >/dev/null
}

# Sourced by a test, the functions alone; run, the installation.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
