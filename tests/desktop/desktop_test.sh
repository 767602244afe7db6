#!/usr/bin/env bash
# The real client (the test build) on a virtual X display with a window manager and a tray host,
# against the reference service and PowerDNS, driven by simulated keys and clicks.
# Usage: desktop_test.sh BUILD-DIR SOURCE-DIR
set -uo pipefail
build=$(cd "$1" && pwd)
source "$2/scripts/desktop/session.sh"
source "$2/tests/desktop/lib.sh"
require Xvfb openbox trayer xdotool xwininfo import dig /usr/sbin/pdns_server
work=$(mktemp -d)
client_pid=
trap 'kill "$client_pid" 2>/dev/null; stop_everything; rm -rf "$work"' EXIT

export HOSTWARDEN_TEST_FAST_HASH=1 LC_ALL=en_US.UTF-8 XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 0700 "$work/runtime"
start_display "$work" || exit 1
start_service "$build" "$work" 0 --clock-start "2013-06-15 10:00:00" || exit 1
export HOSTWARDEN_TEST_SETTINGS_DB="$work/settings.db" HOSTWARDEN_TEST_SERVICE_HOST="http://127.0.0.1:$hw_service_port"

start_client() {
  "$build/bin/Hostwarden" 2>>"$work/client.log" &
  client_pid=$!
}
end_client() {
  tray_choose_exit
  wait_for 20 bash -c "! kill -0 $client_pid" || kill "$client_pid"
  wait "$client_pid" 2>/dev/null
}
stored_reg() { python3 -c 'import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT hex(data) FROM \"values\" WHERE name = \"REG\"").fetchone())' "$work/settings.db"; }
log_has() { grep -q "$1" "$work/client.log"; }
service_log_has() { grep -q "$1" "$work/service.log"; }

# First start: the registration dialog; registered through keys; the success window; its Close sends
# the first check; the account is stored and resolves.
start_client
check "the first start opens the registration dialog" wait_for 30 dialog_open
register newcomer secret1
check "registering ends in the success window" wait_for 30 has_window Success
close_success
check "Close sends the first check and its reply is logged" wait_for 30 log_has "Host name updated; it now points to 127.0.0.1."
check "the account is stored" test "$(stored_reg)" = "('01000000',)"
check "the name resolves to the address of the check" test "$(ask_dns newcomer.hostwarden.test)" = 127.0.0.1

trayer_window=$(xdotool search --class trayer | head -n 1)
check "the tray icon is embedded in the tray host" bash -c "xwininfo -children -id $trayer_window | grep -q '[1-9][0-9]* child'"

# A second start with the account: the countdown notice slides in at the bottom right, and its
# rounded corners show the desktop under them.
end_client
start_client
notice_shown() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$client_pid" 2>/dev/null); do
    if xwininfo -id "$id" | grep -q "Width: 255" && xwininfo -id "$id" | grep -q "Height: 200"; then
      origin "$id"
      return 0
    fi
  done
  return 1
}
check "the countdown notice slides in" wait_for 30 notice_shown
sleep 0.5  # the slide is one uninterrupted loop; let it come to rest
read -r notice_x notice_y <<<"$(notice_shown)"
check "the notice rests at the right edge" test $((notice_x + 255)) = 1280
check "its corner shows the desktop" test "$(pixel "$notice_x" "$notice_y")" = "0,0,0"
check "its middle shows the notice" test "$(pixel $((notice_x + 128)) $((notice_y + 100)))" != "0,0,0"
# Alt+F4 on the notice, as a user dismisses a popup: it hides, the program keeps the name up to date.
notice=$(xdotool search --onlyvisible --pid "$client_pid" | while read -r id; do
  xwininfo -id "$id" | grep -q "Width: 255" && echo "$id"; done | head -n 1)
wm_close "$notice"
check "closing the notice through the window manager hides it" wait_for 10 not viewable "$notice"
check "and the program runs on" kill -0 "$client_pid"

# Release from the main window, confirmed: the unregistered state, and the name no longer resolves.
tray_double_click
check "a double click on the tray icon shows the main window" wait_for 20 has_window "Orvane DDNS Client"
sleep 0.5  # let the window manager map and paint it
read -r main_x main_y <<<"$(origin "$(window "Orvane DDNS Client")")"
# The banner is decoded at the window's first show: its artwork, not the window's plain background
# (the strip between the banner and the buttons), fills its left part.
check "the banner shows its picture" test "$(pixel $((main_x + 100)) $((main_y + 40)))" != "$(pixel $((main_x + 395)) $((main_y + 88)))"
main_id=$(window "Orvane DDNS Client")
xdotool windowminimize "$main_id"
check "the main window can be minimised" wait_for 10 is_minimized "$main_id"
tray_double_click
check "showing it from the tray un-minimises it" wait_for 10 not is_minimized "$main_id"
wm_close "$main_id"
check "closing the main window hides it" wait_for 10 not has_window "Orvane DDNS Client"
check "a second start ends at once" timeout 10 "$build/bin/Hostwarden"
check "and shows the running copy's main window" wait_for 10 has_window "Orvane DDNS Client"
sleep 0.5
click_in "$(window "Orvane DDNS Client")" 200 108  # Release this Domain
check "the release asks first" wait_for 20 has_window Dialog
xdotool key Return  # OK, the box's default button
check "the release reaches the service" wait_for 20 service_log_has "POST /lk.php 200 \^\^"
check "the name no longer resolves" test "$(ask_dns newcomer.hostwarden.test)" = NXDOMAIN
check "the stored account is gone" test "$(stored_reg)" = None

# An account the service does not know: the start-up's check is answered "@@", the tray icon
# blinks; a double click stops the blinking and shows the main window.
end_client
seed_account "$work/settings.db" ghost secret1
start_client
check "the unknown account's check is answered" wait_for 30 log_has "The service does not know this account"
icon_changes() {
  local first second
  shot "$work/icon-a.png" "16x16+$((tray_x - 8))+$((tray_y - 8))"
  for _ in $(seq 1 20); do
    sleep 0.1
    shot "$work/icon-b.png" "16x16+$((tray_x - 8))+$((tray_y - 8))"
    first=$(md5sum <"$work/icon-a.png")
    second=$(md5sum <"$work/icon-b.png")
    [ "$first" != "$second" ] && return 0
  done
  return 1
}
check "the tray icon blinks" icon_changes
tray_double_click
check "the double click shows the main window" wait_for 20 has_window "Orvane DDNS Client"
sleep 0.5
icon_steady() { ! icon_changes; }
check "and the blinking has stopped" icon_steady
end_client

finish "desktop (XEmbed tray)"
