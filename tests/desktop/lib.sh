# Sourced by the desktop tests: the checks they count, and the account they seed.

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else failed=$((failed + 1)); echo "FAILED: $what"; fi
}

# finish NAME: the closing line, and the exit status.
finish() {
  echo "$1: $passed of $((passed + failed)) checks passed"
  [ "$failed" = 0 ]
}

# The window system's view of a window, by its title (X11, also XWayland).
window_state() { xprop -id "$(window "$1")" _NET_WM_STATE WM_STATE 2>/dev/null; }
is_minimized() { xprop -id "$1" WM_STATE 2>/dev/null | grep -q "window state: Iconic"; }
skips_taskbar() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_SKIP_TASKBAR; }

# wm_close WINDOW-ID: the window manager's close (openbox: Alt+F4 on the focused window).
wm_close() {
  timeout 5 xdotool windowactivate --sync "$1" 2>/dev/null || true
  xdotool key --clearmodifiers alt+F4
}

# pixel_of FILE X Y: the colour of one pixel of a screenshot, as "r,g,b".
pixel_of() {
  convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | sed -n '2s/^[^(]*(\([0-9,]*\)).*/\1/p'
}

# not COMMAND...: succeeds when the command fails (for wait_for and check).
not() { ! "$@"; }

# viewable WINDOW-ID: the window is mapped and seen (an empty id never is: xwininfo would wait for a
# click to choose one).
viewable() { [ -n "$1" ] && xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }

# require COMMAND...: the desktop's parts are installed. When one is missing the test fails if the
# test command promised them (HOSTWARDEN_TEST_REQUIRE_SERVERS=1, its install step brings them), and
# is skipped otherwise (exit 77).
require() {
  local missing=() part
  for part in "$@"; do command -v "$part" >/dev/null || missing+=("$part"); done
  [ ${#missing[@]} = 0 ] && return 0
  if [ "${HOSTWARDEN_TEST_REQUIRE_SERVERS:-}" = 1 ]; then
    echo "FAILED: missing ${missing[*]}, which the test command's install step brings"
    exit 1
  fi
  echo "skipped: missing ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
}

# The session a desktop test runs its client in: this user's own on an X display, or the Wayland
# session's user. Sets hw_as_user, session_uid and screenshot.
use_x_session() {
  hw_as_user=(env -u QT_QPA_PLATFORM)
  session_uid=$(id -u)
  screenshot() { import -window root "$1"; }
}
use_wayland_session() {
  session_uid=$(desktop_uid)
  screenshot() { as_desktop_user grim "$1"; }
}

# prepare_client WORK BUILD SOURCE SHOTS: the program copied where the session's user may run it (the
# build tree may lie in a folder of root's own), an account the service does not know ("@@") in
# settings of the test's own, the X display the client shows its windows on (XWayland under sway)
# for the X tools, and the command that starts the client as the session's user (in `client`).
prepare_client() {
  local work=$1 build=$2 source=$3 shots=$4
  cp -r "$build/bin" "$work/program"
  cp "$source/tests/desktop/notification_server.py" "$work/program/"
  chmod -R a+rX "$work/program"
  client_home="$work/client"
  mkdir -p -m 0700 "$client_home/runtime"
  seed_account "$client_home/settings.db" ghost secret1
  chown -R "$session_uid:$session_uid" "$client_home"
  chown "$session_uid" "$shots" "$work"
  touch "$work/client.log"
  chmod 0666 "$work/client.log"
  export DISPLAY
  DISPLAY=$(as_desktop_user printenv DISPLAY)
  client=("${hw_as_user[@]}" XDG_RUNTIME_DIR="$client_home/runtime" HOSTWARDEN_TEST_SETTINGS_DB="$client_home/settings.db"
    HOSTWARDEN_TEST_SERVICE_HOST="http://127.0.0.1:$hw_service_port" LC_ALL=en_US.UTF-8 "$work/program/Hostwarden")
}
