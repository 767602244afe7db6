#!/usr/bin/env bash
# Installs what is missing, builds, starts the reference service and PowerDNS on loopback (their
# SQLite database under the user's state folder) and the client against them, and stops them when
# the client ends. With a desktop session the client simply starts (in the tray; on a first run the
# registration dialog opens). Without one it starts a virtual display with a tray host and walks
# through a first start as a person would, printing the log, the DNS answer and where it saved a
# screenshot of each window.
#
#   scripts/run.sh [--keep-account] [--clock-start 'YYYY-MM-DD HH:MM:SS']
#     --keep-account   a second run: keep the account and the records of the last run
#     --clock-start    where the service's clock starts; by default 2013-06-15 10:00:00, two weeks
#                      before the service's closing date (a later instant shows the closed service)
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
clock=(--clock-start "2013-06-15 10:00:00")
while [ $# -gt 0 ]; do
  case "$1" in
    --keep-account) keep=1 ;;
    --clock-start) clock=(--clock-start "${2:?--clock-start needs an instant}"); shift ;;
    *) grep '^#   ' "$0"; exit 2 ;;
  esac
  shift
done

bash scripts/install-deps.sh
state=${XDG_STATE_HOME:-$HOME/.local/state}/hostwarden
mkdir -p "$state"
build=${HOSTWARDEN_RUN_BUILD_DIR:-build-run}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOSTWARDEN_BUILD_TESTS=OFF \
  -DHOSTWARDEN_SETTINGS_DB="$state/settings.db" >/dev/null
cmake --build "$build" --target Hostwarden loader hostwarden-service

source scripts/desktop/session.sh
tail_pid=
shots=
summary=()
# Whatever happens, the walk-through ends with its summary and the folder of its screenshots.
finish() {
  local status=$?
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null
  stop_everything
  if [ -n "$shots" ]; then
    echo
    echo "Screenshots: $shots"
    printf '%s\n' "${summary[@]}"
    grep -q '^FAILED' <(printf '%s\n' "${summary[@]}") && status=1
  fi
  exit "$status"
}
trap finish EXIT
[ "$keep" = 1 ] || rm -f "$state/settings.db" "$state"/dns.db*
: >"$state/service.log"
start_service "$build" "$state" 17861 "${clock[@]}"
echo "The service answers on 127.0.0.1:17861, PowerDNS on 127.0.0.1:$hw_dns_port (state in $state)."

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$build/bin/Hostwarden"
  exit 0
fi

# No desktop: a virtual one, and a first start walked through by simulated keys and clicks.
shots="$state/screenshots-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$shots"
start_display "$state" || exit 1
step() {  # step DESCRIPTION COMMAND...: runs it and notes whether it worked
  local what=$1
  shift
  if "$@"; then summary+=("worked:  $what"); else summary+=("FAILED:  $what"); fi
}
start_client() {
  "$build/bin/Hostwarden" 2>>"$state/client.log" &
  client_pid=$!
}
log_has() { grep -qE "$1" "$state/client.log"; }
# A check's answer in the log, in whatever language the program writes it: "Host name updated" (text
# 25 of lang.ini, up to its address) or the service's closing line.
answered="($(sed -n 's/\r$//; s/^25=\(.*\)%d.*/\1/p' assets/lang.ini | paste -sd'|' -)|has been closed|已經關閉)"
: >"$state/client.log"
tail -n +1 -f "$state/client.log" | sed -u 's/^/log: /' &
tail_pid=$!

start_client
if [ "$keep" = 0 ]; then
  step "the registration dialog opened at the first start" wait_for 30 dialog_open
  shot "$shots/registration-dialog.png"
  step "the registration was filled in and sent" register newcomer secret1
  step "the registration succeeded" wait_for 30 has_window Success
  shot "$shots/success-window.png"
  step "the success window closed" close_success
fi
step "the service answered a check" wait_for 60 log_has "$answered"
answer=$(ask_dns newcomer.hostwarden.test)
echo "DNS: newcomer.hostwarden.test -> $answer"
step "newcomer.hostwarden.test resolves" test "$answer" != NXDOMAIN
tray_double_click
step "the main window opened from the tray" wait_for 20 has_window "Orvane DDNS Client"
shot "$shots/main-window.png"
tray_menu
sleep 0.5
shot "$shots/tray-menu.png"
xdotool key Escape
tray_choose_exit
step "Exit ended the client" wait_for 20 bash -c "! kill -0 $client_pid"
start_client  # a second start with the account: the notice slides in
sleep 5
shot "$shots/notice-window.png"
tray_choose_exit
wait_for 20 bash -c "! kill -0 $client_pid" || kill "$client_pid"

