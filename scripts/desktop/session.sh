# Sourced by the run command and the desktop tests: a virtual X display with a window manager and a
# tray host, the reference service with PowerDNS (scripts/servers.sh), and helpers to find windows,
# click and look. Everything started here is stopped by stop_everything (the callers trap it on exit).
source "$(dirname "${BASH_SOURCE[0]}")/../servers.sh"

# start_display FOLDER [trayer|none]: Xvfb (black desktop) and openbox, with trayer (an XEmbed tray)
# at the bottom right or no tray at all; sets DISPLAY.
start_display() {
  local folder=$1 tray=${2:-trayer}
  start_x "$folder" || return 1
  [ "$tray" = none ] && return 0
  start_part "$folder" trayer "xdotool search --class trayer" \
    trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
    --transparent false --tint 0x808080
}

# start_x FOLDER: Xvfb and openbox; sets DISPLAY.
start_x() {
  local folder=$1 number
  for number in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
  done
  export DISPLAY=":$number"
  export QT_QPA_PLATFORM=xcb  # the test command runs the other tests offscreen
  # -noreset: Xvfb resets itself when its last client leaves, so a part connecting right after the
  # readiness probe has gone could meet the reset.
  start_part "$folder" xvfb xdpyinfo Xvfb ":$number" -screen 0 1280x800x24 -br -noreset -nolisten tcp || return 1
  start_part "$folder" openbox "xprop -root _NET_SUPPORTING_WM_CHECK" openbox
}

# start_part FOLDER NAME READY-COMMAND COMMAND...: starts a part of the desktop in the background,
# its output in FOLDER/NAME.log, and waits until READY-COMMAND succeeds; prints that log when the
# part does not come.
start_part() {
  local folder=$1 name=$2 ready=$3
  shift 3
  "$@" >"$folder/$name.log" 2>&1 &
  hw_pids+=($!)
  wait_for 30 eval "$ready" && return 0
  echo "$name did not start:"
  cat "$folder/$name.log"
  return 1
}

# start_session_bus FOLDER: a D-Bus session bus of the test's own; sets DBUS_SESSION_BUS_ADDRESS.
# Parts that the bus starts on demand (xfconfd) inherit the environment of this moment.
start_session_bus() {
  local folder=$1
  rm -f "$folder/bus"
  start_part "$folder" dbus "test -S $folder/bus" dbus-daemon --session --nofork --nopidfile \
    --address="unix:path=$folder/bus" || return 1
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$folder/bus"
}

# bus_has NAME: the session bus has an owner for NAME (the Wayland session's bus, once there is one).
bus_has() {
  as_desktop_user gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}

# start_xfce_panel FOLDER: Xfce's panel along the bottom edge, a task list and its notification area
# (an XEmbed tray and a StatusNotifierItem host), configured in FOLDER/config. Needs a session bus
# started after XDG_CONFIG_HOME was set: call before start_session_bus.
write_xfce_panel_config() {
  local folder=$1 channel
  export XDG_CONFIG_HOME="$folder/config"
  channel="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
  mkdir -p "$channel"
  cat >"$channel/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=640;y=787"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-3" type="string" value="systray"/>
  </property>
</channel>
XML
}
start_xfce_panel() {
  start_part "$1" xfce4-panel "bus_has org.kde.StatusNotifierWatcher" xfce4-panel
}

# seed_account DATABASE NAME PASSWORD [REMIND]: the client's stored account, as a registration leaves
# it, in its settings database (made when missing); REMIND, when given, is the "Remind" choice (0 or 1).
seed_account() {
  python3 - "$@" <<'PY'
import base64, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute('CREATE TABLE IF NOT EXISTS keys ("path" TEXT PRIMARY KEY COLLATE NOCASE)')
db.execute('CREATE TABLE IF NOT EXISTS "values" ("path" TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL '
           'COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY ("path", name))')
key = "Software\\Larkmoor Systems\\DDNS"
db.execute('INSERT OR IGNORE INTO keys VALUES (?)', (key,))
values = [("username", 1, sys.argv[2].encode() + b"\0"), ("password", 1, base64.b64encode(sys.argv[3].encode()) + b"\0"),
          ("REG", 4, b"\1\0\0\0")]
if len(sys.argv) > 4:
    values.append(("Remind", 4, int(sys.argv[4]).to_bytes(4, "little")))
for name, kind, data in values:
    db.execute('INSERT OR REPLACE INTO "values" VALUES (?, ?, ?, ?)', (key, name, kind, data))
db.commit()
PY
}

# window NAME: the id of the visible window whose title is NAME (empty when there is none).
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window "$1")" ]; }

# origin WINDOW-ID: "x y", the screen position of the window's client area (the window manager's
# frame around it not counted).
origin() {
  [ -n "$1" ] || return 1  # (an empty id would make xwininfo wait for a click)
  xwininfo -id "$1" | sed -n 's/.*Absolute upper-left X: *\(-*[0-9]*\)/\1/p; s/.*Absolute upper-left Y: *\(-*[0-9]*\)/\1/p' | paste -sd' '
}

# click_in WINDOW-ID X Y: a left click at a point of the window's client area.
click_in() {
  local x y position
  position=$(origin "$1") || return 1
  read -r x y <<<"$position"
  xdotool mousemove $((x + $2)) $((y + $3)) click 1
}

# The tray icon: the one icon in the tray host at the bottom right.
tray_x=1268
tray_y=788
tray_double_click() { xdotool mousemove "$tray_x" "$tray_y" click --repeat 2 --delay 80 1; }
tray_menu() { xdotool mousemove "$tray_x" "$tray_y" click 3; }
# The tray menu opens at the pointer, upwards; its items in order: Show, Exit.
tray_choose_exit() { tray_menu; sleep 0.5; xdotool mousemove $((tray_x - 69)) $((tray_y - 12)) click 1; }

# shot FILE [GEOMETRY]: a screenshot of the screen, or of a part of it (WxH+X+Y).
shot() {
  if [ -n "${2:-}" ]; then import -window root -crop "$2" +repage "$1"; else import -window root "$1"; fi
}

# pixel X Y: the colour of one pixel of the screen, as "r,g,b".
pixel() {
  import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- | sed -n '2s/^[^(]*(\([0-9,]*\)).*/\1/p'
}

# The registration dialog's title in every language of lang.ini (its text 1), as one pattern: the
# dialog is found whatever language the program chose. The program puts a blank before the text.
registration_titles() {
  local lang_ini
  lang_ini="$(dirname "${BASH_SOURCE[0]}")/../../assets/lang.ini"
  printf '^ *(%s)$' "$(sed -n 's/\r$//; s/^1=//p' "$lang_ini" | paste -sd'|' -)"
}
registration_dialog() { xdotool search --onlyvisible --name "$(registration_titles)" 2>/dev/null | head -n 1; }

# The registration dialog is open.
dialog_open() { [ -n "$(registration_dialog)" ]; }

# register NAME PASSWORD: fills the open registration dialog by keys and sends it.
register() {
  local dialog
  dialog=$(registration_dialog)
  [ -n "$dialog" ] || return 1
  xdotool windowactivate --sync "$dialog" 2>/dev/null || true
  click_in "$dialog" 196 66  # the name field
  xdotool type --delay 30 "$1"
  xdotool key Tab
  xdotool type --delay 30 "$2"
  xdotool key Tab
  xdotool type --delay 30 "$2"
  xdotool key Tab space  # Tab reaches Send
}

# close_success: the success window's Close button.
close_success() { click_in "$(window Success)" 213 148; }

# A Wayland session: sway on a headless output, with waybar (a StatusNotifierItem host) along the
# bottom or no bar at all, XWayland, and a session bus of its own. sway refuses to run as root, so a
# root caller runs the session, and everything that talks to it, as the user nobody.
hw_wl_env=()
hw_as_user=(env)
desktop_uid() { if [ "$(id -u)" = 0 ]; then echo 65534; else id -u; fi; }

# as_desktop_user COMMAND...: runs the command as the session's user, in its environment. (One
# external command, so that a part started through it has the part's own process id.)
desktop_user_prefix() {
  hw_as_user=(env -u QT_QPA_PLATFORM "${hw_wl_env[@]}")
  local uid
  uid=$(desktop_uid)
  [ "$(id -u)" = 0 ] && hw_as_user=(setpriv --reuid="$uid" --regid="$uid" --clear-groups "${hw_as_user[@]}")
  return 0
}
as_desktop_user() { "${hw_as_user[@]}" "$@"; }

# start_sway FOLDER [waybar|none]: sets hw_wl_env (the session's environment) and hw_wl_home.
start_sway() {
  local folder=$1 bar=${2:-waybar} runtime uid
  uid=$(desktop_uid)
  hw_wl_home="$folder/wayland"
  runtime="$hw_wl_home/runtime"
  mkdir -p "$hw_wl_home/.config/waybar" "$runtime"
  chmod 0700 "$runtime"
  {
    echo "output HEADLESS-1 resolution 1280x800"
    echo "xwayland enable"
    [ "$bar" = waybar ] && printf 'bar {\n  swaybar_command waybar\n}\n'
    echo "exec sh -c 'echo \"\$DISPLAY\" >$hw_wl_home/x-display'"
  } >"$hw_wl_home/sway.conf"
  echo '{ "position": "bottom", "height": 26, "modules-right": ["tray"], "tray": { "icon-size": 16 } }' \
    >"$hw_wl_home/.config/waybar/config"
  chown -R "$uid:$uid" "$hw_wl_home"
  hw_wl_env=(HOME="$hw_wl_home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$hw_wl_home/.config"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus" XDG_SESSION_TYPE=wayland)
  desktop_user_prefix
  start_part "$folder" wayland-bus "test -S $runtime/bus" \
    "${hw_as_user[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$runtime/bus" || return 1
  start_part "$folder" sway "test -s $hw_wl_home/x-display" "${hw_as_user[@]}" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$hw_wl_home/sway.conf" || return 1
  hw_wl_env+=(WAYLAND_DISPLAY="$(cd "$runtime" && ls wayland-* | grep -v lock | head -n 1)"
    DISPLAY="$(cat "$hw_wl_home/x-display")" SWAYSOCK="$(ls "$runtime"/sway-ipc.*.sock | head -n 1)")
  desktop_user_prefix
  # XWayland admits only the session's user: the caller's X tools (xdotool, xwininfo) look too.
  as_desktop_user xhost "+si:localuser:$(id -un)" >/dev/null
  [ "$bar" = waybar ] || return 0
  wait_for 30 bus_has org.kde.StatusNotifierWatcher && return 0
  echo "waybar did not host a tray:"
  cat "$folder/sway.log"
  return 1
}
