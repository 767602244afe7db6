#!/usr/bin/env bash
# The real client (the test build) in a StatusNotifierItem host, as people meet it on Xfce, KDE,
# Cinnamon or a wlroots compositor: Xfce's panel on an X display, or waybar on sway (Wayland, the
# client through XWayland). The host's own calls drive it (its click, its menu); the item's
# properties and its traffic on the session bus are what the host sees.
# Usage: status_notifier_test.sh BUILD-DIR SOURCE-DIR xfce|sway [SCREENSHOT-FOLDER]
set -uo pipefail
build=$(cd "$1" && pwd)
source "$2/scripts/desktop/session.sh"
source "$2/tests/desktop/lib.sh"
desktop=$3
case $desktop in
  xfce) require Xvfb openbox xfce4-panel dbus-daemon dbus-monitor gdbus xdotool xprop xwininfo import ;;
  sway) require sway waybar Xwayland grim swaymsg xhost jq setpriv dbus-daemon dbus-monitor gdbus xdotool xwininfo ;;
esac
work=$(mktemp -d)
chmod 0755 "$work"
shots=${4:-$work/screenshots}
mkdir -p "$shots"
client_pid=
trap 'kill "$client_pid" 2>/dev/null; stop_everything; rm -rf "$work"' EXIT

export HOSTWARDEN_TEST_FAST_HASH=1 LC_ALL=en_US.UTF-8
start_service "$build" "$work" 0 --clock-start "2013-06-15 10:00:00" || exit 1

case $desktop in
  xfce)
    write_xfce_panel_config "$work"
    start_x "$work" || exit 1
    start_session_bus "$work" || exit 1
    start_xfce_panel "$work" || exit 1
    use_x_session
    ;;
  sway)
    start_sway "$work" waybar || exit 1
    use_wayland_session
    ;;
  *) echo "no desktop $desktop"; exit 2 ;;
esac
prepare_client "$work" "$build" "$2" "$shots"

log_has() { grep -q "$1" "$work/client.log"; }
call() { as_desktop_user gdbus call --session "$@"; }
item="org.kde.StatusNotifierItem"
item_property() { call --dest "$service" --object-path /StatusNotifierItem --method org.freedesktop.DBus.Properties.Get $item "$1"; }
status_is() { item_property Status | grep -q "'$1'"; }
registered() {
  call --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems |
    grep -q "$service"
}
# bus_messages SECONDS [COMMAND...]: runs the command, then counts the messages that go to or come
# from the client on the bus within that many seconds (the monitor's own not counted).
bus_messages() {
  local seconds=$1 unique
  shift
  unique=$(call --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetNameOwner "$service" | sed "s/.*'\(.*\)'.*/\1/")
  as_desktop_user timeout "$seconds" dbus-monitor --session "sender='$unique'" "destination='$unique'" \
    >"$work/monitor.log" 2>&1 &
  local monitor=$!
  wait_for 5 grep -q NameAcquired "$work/monitor.log"
  "$@"
  wait "$monitor"
  grep -E '^(method call|method return|signal|error)' "$work/monitor.log" | grep -vc 'sender=org.freedesktop.DBus '
}
main_window() { window "Orvane DDNS Client"; }

"${client[@]}" 2>>"$work/client.log" &
client_pid=$!
service="$item-$client_pid-1"
check "the item is registered with the host's watcher" wait_for 30 registered
check "the unknown account's check is answered" wait_for 30 log_has "The service does not know this account"
check "attention reaches the host as the item's status" wait_for 10 status_is NeedsAttention
sleep 1
attention_messages=$(bus_messages 4)
echo "bus messages of the client in 4 s of attention: $attention_messages"
check "attention sends nothing per blink (no message in 4 s)" test "$attention_messages" = 0
sleep 0.5  # the notice's slide has ended
screenshot "$shots/$desktop-attention.png"

activate() {
  case $desktop in
    xfce) xdotool mousemove 1268 786 click 1 ;;  # the icon, at the right end of the panel
    sway) call --dest "$service" --object-path /StatusNotifierItem --method $item.Activate 0 0 >/dev/null ;;
  esac
}
change_messages=$(bus_messages 3 activate)
echo "bus messages of the client for the click and the change back to Active: $change_messages"
check "the host's click shows the main window" wait_for 10 has_window "Orvane DDNS Client"
check "and the status is Active again" status_is Active
check "the change of state took a few messages (at most 12)" test "$change_messages" -le 12
sleep 0.5
screenshot "$shots/$desktop-main-window.png"

if [ "$desktop" = xfce ]; then
  check "the main window has no taskbar entry" skips_taskbar "$(main_window)"
  main_id=$(main_window)
  xdotool windowminimize "$main_id"
  check "the main window can be minimised" wait_for 10 is_minimized "$main_id"
  activate
  check "a click shows it again, not minimised" wait_for 10 not is_minimized "$main_id"
  check "and visible" has_window "Orvane DDNS Client"
fi

# The notice slid in at start: the bottom right of the screen, above the rest, not focused.
notice_id() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$client_pid" 2>/dev/null); do
    xwininfo -id "$id" | grep -q "Width: 255" && xwininfo -id "$id" | grep -q "Height: 200" && echo "$id" && return 0
  done
  return 1
}
check "the countdown notice is on screen" wait_for 10 notice_id
read -r notice_x notice_y <<<"$(origin "$(notice_id)")"
echo "notice at $notice_x,$notice_y"
check "the notice rests at the right edge" test $((notice_x + 255)) = 1280
check "and above the bottom edge" test "$notice_y" -ge 300 -a $((notice_y + 200)) -le 800
screenshot "$shots/$desktop-notice.png"
check "its corner shows the desktop under it" test "$(pixel_of "$shots/$desktop-notice.png" "$notice_x" "$notice_y")" = \
  "$(pixel_of "$shots/$desktop-notice.png" $((notice_x - 30)) "$notice_y")"
check "its middle shows the notice" test "$(pixel_of "$shots/$desktop-notice.png" $((notice_x + 128)) $((notice_y + 100)))" != \
  "$(pixel_of "$shots/$desktop-notice.png" $((notice_x - 30)) "$notice_y")"
if [ "$desktop" = sway ]; then
  focused_name() { as_desktop_user swaymsg -t get_tree | jq -r '.. | objects | select(.focused == true) | .name'; }
  sway_manages() { as_desktop_user swaymsg -t get_tree | grep -q "\"window\": $1,"; }
  check "the notice is not a window sway manages" not sway_manages "$(notice_id)"
  check "the notice took no focus" test "$(xdotool getwindowfocus 2>/dev/null)" != "$(notice_id)"
fi
if [ "$desktop" = xfce ]; then
  check "the notice has no taskbar entry" skips_taskbar "$(notice_id)"
  notice=$(notice_id)
  wm_close "$notice"
  check "closing the notice through the window manager hides it" wait_for 10 not viewable "$notice"
  check "and the program runs on" kill -0 "$client_pid"
fi

# A second start, the window closed before: the running copy shows it, and the second copy ends.
case $desktop in
  xfce) wm_close "$(main_window)" ;;
  sway) as_desktop_user swaymsg '[title="Orvane DDNS Client"] kill' >/dev/null ;;
esac
check "closing the main window hides it" wait_for 10 not has_window "Orvane DDNS Client"
check "and the program runs on" kill -0 "$client_pid"
check "a second start ends at once" timeout 10 "${client[@]}"
check "and shows the running copy's window" wait_for 10 has_window "Orvane DDNS Client"
screenshot "$shots/$desktop-second-start.png"

# Exit through the host's menu: its click on the item's menu entry (Show is 1, Exit 2).
case $desktop in
  xfce) xdotool mousemove 1268 786 click 3; sleep 1; screenshot "$shots/$desktop-menu.png"; xdotool mousemove 1222 756 click 1 ;;
  sway) call --dest "$service" --object-path /MenuBar --method com.canonical.dbusmenu.Event 2 clicked '<0>' 0 >/dev/null ;;
esac
check "Exit in the host's menu ends the program" wait_for 10 not kill -0 "$client_pid"
wait "$client_pid" 2>/dev/null
echo "screenshots: $shots"
finish "status notifier ($desktop)"
