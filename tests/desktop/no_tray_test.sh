#!/usr/bin/env bash
# The real client (the test build) on a desktop without a notification area, as people meet it on
# GNOME without an extension or a bare window manager: openbox alone on an X display, or sway alone
# (Wayland, the client through XWayland). The program must never run with nothing of it on screen.
# Usage: no_tray_test.sh BUILD-DIR SOURCE-DIR openbox|sway [SCREENSHOT-FOLDER]
set -uo pipefail
build=$(cd "$1" && pwd)
source "$2/scripts/desktop/session.sh"
source "$2/tests/desktop/lib.sh"
desktop=$3
case $desktop in
  openbox) require Xvfb openbox trayer dbus-daemon gdbus xdotool xprop xwininfo import ;;
  sway) require sway Xwayland grim swaymsg xhost setpriv dbus-daemon gdbus xdotool xwininfo ;;
esac
/usr/bin/python3 -c 'import dbus_next' 2>/dev/null || require python3-dbus-next
work=$(mktemp -d)
chmod 0755 "$work"
shots=${4:-$work/screenshots}
mkdir -p "$shots"
client_pid=
trap 'kill "$client_pid" 2>/dev/null; stop_everything; rm -rf "$work"' EXIT

export HOSTWARDEN_TEST_FAST_HASH=1 LC_ALL=en_US.UTF-8
start_service "$build" "$work" 0 --clock-start "2013-06-15 10:00:00" || exit 1

case $desktop in
  openbox)
    start_display "$work" none || exit 1
    start_session_bus "$work" || exit 1
    use_x_session
    ;;
  sway)
    start_sway "$work" none || exit 1
    use_wayland_session
    ;;
  *) echo "no desktop $desktop"; exit 2 ;;
esac
prepare_client "$work" "$build" "$2" "$shots"
touch "$work/notifications"
chmod 0666 "$work/notifications"
start_part "$work" notifications "bus_has org.freedesktop.Notifications" \
  "${hw_as_user[@]}" /usr/bin/python3 "$work/program/notification_server.py" "$work/notifications" || exit 1

log_has() { grep -q "$1" "$work/client.log"; }
# The main window: the visible one of that title, else (minimised) the newest of that title.
main_id() {
  local id
  id=$(window "Orvane DDNS Client")
  [ -n "$id" ] || id=$(xdotool search --name '^Orvane DDNS Client$' 2>/dev/null | tail -n 1)
  echo "$id"
}
main_shown() { has_window "Orvane DDNS Client"; }
notifications() { wc -l <"$work/notifications"; }
# close_main: the window manager's close of the main window.
close_main() {
  case $desktop in
    openbox) wm_close "$(main_id)" ;;
    sway) as_desktop_user swaymsg '[title="^Orvane DDNS Client$"] kill' >/dev/null ;;
  esac
}
# The question that closing asks, as the window system shows it (a dialog with the window's title).
question_open() { [ "$(xdotool search --onlyvisible --name '^Orvane DDNS Client$' 2>/dev/null | wc -l)" -ge 2 ]; }
answer() {  # answer KEY: a key to the focused question (Return: OK, Escape: Cancel)
  local box
  box=$(xdotool search --onlyvisible --name '^Orvane DDNS Client$' | tail -n 1)
  timeout 5 xdotool windowactivate --sync "$box" 2>/dev/null || true
  xdotool key "$1"
}

"${client[@]}" 2>>"$work/client.log" &
client_pid=$!
check "the unknown account's check is answered" wait_for 30 log_has "The service does not know this account"
check "the main window comes on screen by itself within seconds" wait_for 15 main_shown
sleep 1
screenshot "$shots/$desktop-no-tray-start.png"
[ "$desktop" = openbox ] && check "it has a taskbar entry (a normal window)" not skips_taskbar "$(main_id)"
check "attention raised a desktop notification" wait_for 10 test "$(notifications)" -ge 1
sleep 1
check "exactly one for the change of state" test "$(notifications)" = 1
check "saying why" grep -q "does not know this account" "$work/notifications"

close_main
check "closing the window asks whether to end the program" wait_for 10 question_open
screenshot "$shots/$desktop-no-tray-question.png"
main_before=$(main_id)
answer Escape
check "Cancel keeps the program running" wait_for 10 not question_open
check "and the program runs on" kill -0 "$client_pid"
if [ "$desktop" = openbox ]; then
  check "minimised" wait_for 10 is_minimized "$main_before"
else
  check "still on screen (sway does not minimise)" main_shown
fi
check "a second start ends at once" timeout 10 "${client[@]}"
check "and brings the window back, not minimised" wait_for 10 not is_minimized "$main_before"
check "on screen" wait_for 10 main_shown

if [ "$desktop" = openbox ]; then
  # A tray that comes later takes the program back behind its icon.
  start_part "$work" trayer "xdotool search --class trayer" trayer --edge bottom --align right --widthtype pixel \
    --width 120 --heighttype pixel --height 24 --transparent false --tint 0x808080
  check "a tray that appears takes the icon" wait_for 15 bash -c \
    "xwininfo -children -id $(xdotool search --class trayer | head -n 1) | grep -q '[1-9][0-9]* child'"
  check "and the window leaves the taskbar" wait_for 10 skips_taskbar "$(main_id)"
  close_main
  check "closing the window then only hides it" wait_for 10 not main_shown
  check "without a question" not question_open
  screenshot "$shots/$desktop-tray-came.png"
  # The tray goes away for good (more than the few seconds a panel takes to restart).
  kill "${hw_pids[-1]}"
  check "when the tray goes, the window comes back on screen by itself" wait_for 15 main_shown
  check "with its taskbar entry" wait_for 10 not skips_taskbar "$(main_id)"
  close_main
  check "closing asks again" wait_for 10 question_open
  answer Return
else
  close_main
  check "closing asks again" wait_for 10 question_open
  answer Return
fi
check "and the program ends (Exit, or OK to the question)" wait_for 10 not kill -0 "$client_pid"
wait "$client_pid" 2>/dev/null
echo "screenshots: $shots"
finish "no tray ($desktop)"
