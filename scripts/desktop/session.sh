# Sourced by the run command and the desktop tests: a virtual X display with a window manager and a
# tray host, the reference service with PowerDNS, and helpers to find windows, click and look.
# Everything started here is stopped by stop_everything (the callers trap it on exit).

hw_pids=()
hw_dns_port=
hw_service_port=

# start_display FOLDER: Xvfb (black desktop), openbox and trayer at the bottom right; sets DISPLAY.
start_display() {
  local folder=$1 number
  for number in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
  done
  # -noreset: Xvfb resets itself when its last client leaves, so a part connecting right after the
  # readiness probe has gone could meet the reset.
  Xvfb ":$number" -screen 0 1280x800x24 -br -noreset -nolisten tcp >"$folder/xvfb.log" 2>&1 &
  hw_pids+=($!)
  export DISPLAY=":$number"
  export QT_QPA_PLATFORM=xcb  # the test command runs the other tests offscreen
  wait_for 30 xdpyinfo || { echo "Xvfb did not start:"; cat "$folder/xvfb.log"; return 1; }
  openbox >"$folder/openbox.log" 2>&1 &
  hw_pids+=($!)
  wait_for 30 xprop -root _NET_SUPPORTING_WM_CHECK || { echo "openbox did not start:"; cat "$folder/openbox.log"; return 1; }
  trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
    --transparent false --tint 0x808080 >"$folder/trayer.log" 2>&1 &
  hw_pids+=($!)
  wait_for 30 xdotool search --class trayer || { echo "trayer did not start:"; cat "$folder/trayer.log"; return 1; }
}

# A port for PowerDNS, free for UDP and TCP alike, below the ephemeral range (32768 and up) where
# other programs' listeners and outgoing connections would take theirs meanwhile.
free_dns_port() {
  python3 -c '
import random, socket
while True:
    port = random.randrange(20000, 32000)
    try:
        for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
            with socket.socket(socket.AF_INET, kind) as s:
                s.bind(("127.0.0.1", port))
    except OSError:
        continue
    print(port)
    break
'
}

# start_service BUILD-DIR FOLDER PORT [service options...]: the reference service on 127.0.0.1:PORT
# (0: any free port) with its SQLite database in FOLDER, and PowerDNS on a free port reading it.
start_service() {
  local build=$1 folder=$2 port=$3
  shift 3
  rm -f "$folder/service.port"
  "$build/service/hostwarden-service" --listen "127.0.0.1:$port" --port-file "$folder/service.port" \
    --metrics-listen 127.0.0.1:0 \
    --database "sqlite:$folder/dns.db" --builds "$folder/builds" "$@" 2>>"$folder/service.log" &
  hw_pids+=($!)
  for _ in $(seq 1 100); do [ -s "$folder/service.port" ] && break; sleep 0.1; done
  [ -s "$folder/service.port" ] || { echo "the service did not start:"; tail -n 5 "$folder/service.log"; return 1; }
  hw_service_port=$(cat "$folder/service.port")
  hw_dns_port=$(free_dns_port)
  mkdir -p "$folder/pdns"
  /usr/sbin/pdns_server --config-dir="$folder/pdns" --socket-dir="$folder/pdns" --launch=gsqlite3 \
    --gsqlite3-database="$folder/dns.db" --local-address=127.0.0.1 --local-port="$hw_dns_port" \
    --guardian=no --daemon=no --write-pid=no --security-poll-suffix= --cache-ttl=0 --query-cache-ttl=0 \
    --negquery-cache-ttl=0 --zone-cache-refresh-interval=0 >"$folder/pdns.log" 2>&1 &
  hw_pids+=($!)
  for _ in $(seq 1 100); do ask_dns hostwarden.test SOA | grep -q hostmaster && return 0; sleep 0.1; done
  echo "PowerDNS did not answer:"; tail -n 5 "$folder/pdns.log"; return 1
}

# ask_dns NAME [TYPE]: PowerDNS's short answer, or NXDOMAIN.
ask_dns() {
  local answer
  answer=$(dig @127.0.0.1 -p "$hw_dns_port" +time=2 +tries=1 "$1" "${2:-A}")
  if grep -q "status: NXDOMAIN" <<<"$answer"; then echo NXDOMAIN; return; fi
  dig @127.0.0.1 -p "$hw_dns_port" +time=2 +tries=1 +short "$1" "${2:-A}"
}

stop_everything() {
  local pid
  for pid in "${hw_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${hw_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  hw_pids=()
}

# wait_for SECONDS COMMAND...: runs the command until it succeeds, for at most that long.
wait_for() {
  local seconds=$1 tries
  shift
  for tries in $(seq 1 $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
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

# The registration dialog is open.
dialog_open() { xdotool search --onlyvisible --name "Register a Name" >/dev/null; }

# register NAME PASSWORD: fills the open registration dialog by keys and sends it.
register() {
  local dialog
  dialog=$(xdotool search --onlyvisible --name "Register a Name" | head -n 1)
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
