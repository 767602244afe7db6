#!/usr/bin/env bash
# Measures the tray client beside a bare Qt tray program (the floor), on a real X display (Xvfb with
# openbox and trayer) and offscreen, and the daemon beside inadyn and ddclient, all against the
# reference service on loopback, and writes the figures to bench/results/. An update of either
# program is a whole tick: two clock readings, the version check and the check itself.
#   bench/bench.sh [TICKS]      TICKS driven through the real tick (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
ticks=${1:-100000}
bash scripts/install-deps.sh
missing=()
for p in inadyn ddclient time valgrind curl xvfb openbox trayer x11-utils xdotool; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p"); done
[ ${#missing[@]} = 0 ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOSTWARDEN_BUILD_TESTS=ON \
  -DHOSTWARDEN_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target Hostwarden hostwarden-daemon hostwarden-service hw_tray_floor hw_machine_id | grep -E "error|warning" || true

source scripts/desktop/session.sh
work=$(mktemp -d)
trap 'stop_everything; rm -rf "$work"' EXIT
export HOSTWARDEN_TEST_FAST_HASH=1 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8
mkdir -m 0700 "$work/runtime"
start_service "$build" "$work" 0 --clock-start "2013-06-15 10:00:00" >/dev/null
service="http://127.0.0.1:$hw_service_port"

# The client's account, registered for this machine, and its settings: reminders off (the log then
# gains one line a tick and stays at its bound), or left at their default, when the closing notice
# slides in at start-up and stays on screen until the user closes it.
machine=$("$build/bench/hw_machine_id")
curl -s -d "$(client_envelope bench secret1 "$machine")" "$service/sj.php" >/dev/null
seed_account "$work/settings.db" bench secret1 0
seed_account "$work/reminder-due.db" bench secret1
export HOSTWARDEN_TEST_SETTINGS_DB="$work/settings.db" HOSTWARDEN_TEST_SERVICE_HOST="$service"

now_ms() { date +%s%3N; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
switches() {  # context switches of all the process's threads so far
  cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'
}
# measure_idle NAME READY-TEXT COMMAND...: start-up time to READY-TEXT on its standard error, resident
# memory once idle, and wake-ups per minute at rest. At rest means past the tray's grace (4 s): a
# client that finds no tray by then shows its window.
measure_idle() {
  local name=$1 ready=$2 start pid log="$work/$1.log" first second
  shift 2
  start=$(now_ms)
  "$@" 2>"$log" &
  pid=$!
  wait_for 60 grep -q "$ready" "$log"
  eval "${name}_startup=$(($(now_ms) - start))"
  sleep 6
  eval "${name}_rss=$(rss_kib "$pid")"
  first=$(switches "$pid")
  sleep 30
  second=$(switches "$pid")
  eval "${name}_wakeups=$(((second - first) * 2))"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}
measure_idle floor "event loop" "$build/bench/hw_tray_floor"
measure_idle client "Host name updated" "$build/bin/Hostwarden"
measure_idle daemon "Host name updated" "$build/bin/hostwarden-daemon"
# With both choices on: a check over each family there is, and the watch on the network.
measure_idle daemon_choices "Host name updated" "$build/bin/hostwarden-daemon" --dual-stack --watch-address
# The same two on a real display, the way users run them: the tray icon embedded in a tray host.
start_display "$work"
QT_QPA_PLATFORM=xcb measure_idle display_floor "event loop" "$build/bench/hw_tray_floor"
QT_QPA_PLATFORM=xcb measure_idle display_client "Host name updated" "$build/bin/Hostwarden"
# A reminder due, the default: the notice is on screen at rest. Beside the floor, and beside the floor
# with a small window of text (what showing any text costs the toolkit).
QT_QPA_PLATFORM=xcb measure_idle display_text_floor "event loop" "$build/bench/hw_tray_floor" --text-window
HOSTWARDEN_TEST_SETTINGS_DB="$work/reminder-due.db" QT_QPA_PLATFORM=xcb \
  measure_idle display_notice "Host name updated" "$build/bin/Hostwarden"

# The soak, on the display with its tray as users run the client: TICKS ticks right after the
# start-up, then rest. CPU time per tick, and resident memory at rest once they are done, beside the
# same client at rest after start-up alone (measured above).
# CPU time in microseconds: the scheduler's account of the time the process's threads ran, to the
# nanosecond (user and system time in /proc/PID/stat are counted in 10 ms steps).
cpu_us() { cat /proc/"$1"/task/*/schedstat | awk '{ n += $1 } END { printf "%d\n", n / 1000 }'; }
updated_lines() { grep -c "Host name updated" "$work/soak.log" || true; }
HOSTWARDEN_TEST_ACTIONS="Timer1*$ticks" QT_QPA_PLATFORM=xcb "$build/bin/Hostwarden" 2>"$work/soak.log" &
soak=$!
wait_for 60 grep -q "Host name updated" "$work/soak.log"
soak_cpu_start=$(cpu_us "$soak")
soak_start=$(now_ms)
until [ "$(updated_lines)" -gt "$ticks" ]; do
  kill -0 "$soak" 2>/dev/null || { echo "bench: the client ended during the soak" >&2; exit 1; }
  [ $(($(now_ms) - soak_start)) -lt $((ticks * 50 + 60000)) ] || { echo "bench: the soak takes too long" >&2; exit 1; }
  sleep 1
done
soak_seconds=$(((($(now_ms) - soak_start) + 500) / 1000))
client_tick_cpu_us=$((($(cpu_us "$soak") - soak_cpu_start) / ticks))
sleep 6
soak_rss=$(rss_kib "$soak")
kill "$soak"
wait "$soak" 2>/dev/null || true
export QT_QPA_PLATFORM=offscreen  # the figures below are the program's own work, not the display's

# CPU per update, counted in instructions (callgrind: the same figure on a loaded or an idle machine,
# where the kernel's CPU times are only good to ten milliseconds). The client: N ticks less a run
# that only starts and ends.
instructions() {
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$@" >/dev/null 2>&1 || true
  sed -n 's/^summary: *//p' "$work/callgrind.out"
}
peak_kib() {
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  cat "$work/time"
}
measured_ticks=200
base_ir=$(HOSTWARDEN_TEST_ACTIONS=Exit1 instructions "$build/bin/Hostwarden")
ticks_ir=$(HOSTWARDEN_TEST_ACTIONS="Timer1*$measured_ticks,Exit1" instructions "$build/bin/Hostwarden")
client_tick_ir=$(((ticks_ir - base_ir) / measured_ticks))

# inadyn and ddclient, configured for the service's dyndns2 interface. Each asks a script of its
# own for this machine's address, which names a new one at every call, so that every check ends
# in an update.
address_script() {  # address_script NAME: the path of a new-address script with its own count
  cat >"$work/$1" <<'EOF'
#!/bin/sh
n=$(cat "$0.count" 2>/dev/null || echo 0); n=$((n + 1)); echo $n >"$0.count"
echo "198.51.100.$((n % 250 + 1))"
EOF
  chmod +x "$work/$1"
  echo "$work/$1"
}
cat >"$work/inadyn.conf" <<EOF
period = 5
custom bench {
    username = bench
    password = secret1
    ddns-server = 127.0.0.1:$hw_service_port
    ddns-path = "/nic/update?hostname=%h&myip=%i"
    hostname = bench.hostwarden.test
    checkip-command = "$(address_script inadyn-address)"
    ssl = false
}
EOF
cat >"$work/ddclient.conf" <<EOF
daemon=60
foreground=yes
ssl=no
use=cmd, cmd='$(address_script ddclient-address)'
protocol=dyndns2
server=127.0.0.1:$hw_service_port
login=bench
password=secret1
bench.hostwarden.test
EOF
chmod 600 "$work/ddclient.conf"

# One run with one update each, as its own process, in instructions like the client's tick.
inadyn_run=(inadyn --once --foreground -f "$work/inadyn.conf" --cache-dir="$work")
ddclient_run=(ddclient -daemon=0 -force -file "$work/ddclient.conf" -cache "$work/ddclient.cache")
inadyn_ir=$(instructions "${inadyn_run[@]}")
inadyn_rss=$(peak_kib "${inadyn_run[@]}")
ddclient_ir=$(instructions "${ddclient_run[@]}")
ddclient_rss=$(peak_kib "${ddclient_run[@]}")

# The three daemons side by side, Hostwarden's and inadyn every 5 s (Hostwarden's ten minutes sped up
# by a test switch of this test build) and ddclient every 60 s (its shortest period), for two minutes
# after each one's first update: CPU time per update (the daemon's own, not the address script's) and
# resident memory at rest at the end.
daemon_window=${BENCH_DAEMON_WINDOW:-125}
mkdir -p "$work/inadyn-cache"
inadyn --foreground -f "$work/inadyn.conf" --cache-dir="$work/inadyn-cache" -l info 2>"$work/inadyn.log" &
inadyn_pid=$!
# PERLIO=:unix: ddclient's messages reach its log as they are written, not when it ends.
PERLIO=:unix ddclient -file "$work/ddclient.conf" -cache "$work/ddclient-daemon.cache" -pid "$work/ddclient.pid" \
  >"$work/ddclient.log" 2>&1 &
ddclient_pid=$!
HOSTWARDEN_TEST_SPEEDUP=120 "$build/bin/hostwarden-daemon" 2>"$work/hostwarden-daemon.log" &
hostwarden_pid=$!
hostwarden_done() { grep -c "Host name updated" "$work/hostwarden-daemon.log" || true; }
inadyn_done() { grep -c "Successful alias table update" "$work/inadyn.log" || true; }
ddclient_done() { grep -c "SUCCESS: *updating" "$work/ddclient.log" || true; }
wait_for 60 grep -q "Successful alias table update" "$work/inadyn.log"
inadyn_cpu=$(cpu_us "$inadyn_pid") inadyn_first=$(inadyn_done)
wait_for 60 grep -q "SUCCESS" "$work/ddclient.log"
ddclient_cpu=$(cpu_us "$ddclient_pid") ddclient_first=$(ddclient_done)
hostwarden_cpu=$(cpu_us "$hostwarden_pid") hostwarden_first=$(hostwarden_done)
sleep "$daemon_window"
per_update_us() {  # per_update_us PID CPU-AT-START UPDATES
  echo $((($(cpu_us "$1") - $2) / ($3 > 0 ? $3 : 1)))
}
inadyn_updates=$(($(inadyn_done) - inadyn_first))
ddclient_updates=$(($(ddclient_done) - ddclient_first))
inadyn_update_us=$(per_update_us "$inadyn_pid" "$inadyn_cpu" "$inadyn_updates")
ddclient_update_us=$(per_update_us "$ddclient_pid" "$ddclient_cpu" "$ddclient_updates")
hostwarden_updates=$(($(hostwarden_done) - hostwarden_first))
hostwarden_update_us=$(per_update_us "$hostwarden_pid" "$hostwarden_cpu" "$hostwarden_updates")
hostwarden_daemon_rss=$(rss_kib "$hostwarden_pid")
inadyn_daemon_rss=$(rss_kib "$inadyn_pid")
ddclient_daemon_rss=$(rss_kib "$ddclient_pid")
kill "$inadyn_pid" "$ddclient_pid" "$hostwarden_pid"
wait "$inadyn_pid" "$ddclient_pid" "$hostwarden_pid" 2>/dev/null || true
updates=$(grep -c "GET /nic/update 200" "$work/service.log" || true)

ratio() { python3 -c "print(f'{${1:-0} / ${2:-1}:.2f}')"; }
mkdir -p bench/results
result="bench/results/$(date +%Y-%m-%d).txt"
{
  echo "Hostwarden benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, command: bench/bench.sh $ticks"
  echo
  echo "| tray client | client | floor (bare Qt tray program) | ratio |"
  echo "|---|---|---|---|"
  echo "| on a display (Xvfb, openbox, trayer): start-up to ready (ms; client: first check answered) | $display_client_startup | $display_floor_startup | $(ratio "$display_client_startup" "$display_floor_startup") |"
  echo "| on a display: resident memory at rest (KiB) | $display_client_rss | $display_floor_rss | $(ratio "$display_client_rss" "$display_floor_rss") |"
  echo "| on a display: wake-ups per minute at rest | $display_client_wakeups | $display_floor_wakeups | - |"
  echo "| on a display, a reminder due (the notice on screen): resident memory at rest (KiB) | $display_notice_rss | $display_floor_rss | $(ratio "$display_notice_rss" "$display_floor_rss") |"
  echo "| the same, beside the floor showing a small window of text (KiB) | $display_notice_rss | $display_text_floor_rss | $(ratio "$display_notice_rss" "$display_text_floor_rss") |"
  echo "| offscreen: start-up to ready (ms) | $client_startup | $floor_startup | $(ratio "$client_startup" "$floor_startup") |"
  echo "| offscreen, no tray (the window shows itself): resident memory at rest (KiB) | $client_rss | $floor_rss | $(ratio "$client_rss" "$floor_rss") |"
  echo "| offscreen: wake-ups per minute at rest | $client_wakeups | $floor_wakeups | - |"
  echo
  echo "| daemon | Hostwarden daemon | inadyn | ddclient |"
  echo "|---|---|---|---|"
  echo "| start-up to first check answered (ms) | $daemon_startup | - | - |"
  echo "| resident memory at rest after start-up (KiB) | $daemon_rss | - | - |"
  echo "| wake-ups per minute at rest (ten-minute period) | $daemon_wakeups | - | - |"
  echo "| with --dual-stack --watch-address: resident memory at rest (KiB) | $daemon_choices_rss | - | - |"
  echo "| with --dual-stack --watch-address: wake-ups per minute at rest | $daemon_choices_wakeups | - | - |"
  echo "| side by side for ${daemon_window} s: updates | $hostwarden_updates (every 5 s) | $inadyn_updates (every 5 s) | $ddclient_updates (every 60 s) |"
  echo "| CPU time per update (microseconds) | $hostwarden_update_us | $inadyn_update_us | $ddclient_update_us |"
  echo "| ratio to inadyn | $(ratio "$hostwarden_update_us" "$inadyn_update_us") | 1.00 | $(ratio "$ddclient_update_us" "$inadyn_update_us") |"
  echo "| resident memory at rest at the end (KiB) | $hostwarden_daemon_rss | $inadyn_daemon_rss | $ddclient_daemon_rss |"
  echo
  echo "| per update | instructions | ratio to inadyn | resident memory (KiB) |"
  echo "|---|---|---|---|"
  echo "| Hostwarden, one tick (clock twice, version, check) | $client_tick_ir | $(ratio "$client_tick_ir" "$inadyn_ir") | $display_client_rss at rest after start-up, on a display |"
  echo "| inadyn, one run with one update | $inadyn_ir | 1.00 | $inadyn_rss, the run's peak |"
  echo "| ddclient, one run with one update | $ddclient_ir | $(ratio "$ddclient_ir" "$inadyn_ir") | $ddclient_rss, the run's peak |"
  echo
  echo "| soak on a display: $ticks ticks in $soak_seconds s | value |"
  echo "|---|---|"
  echo "| resident memory at rest after start-up (KiB) | $display_client_rss |"
  echo "| resident memory at rest after the ticks (KiB) | $soak_rss |"
  echo "| growth (KiB; the log holds its bound of 1000 lines) | $((soak_rss - display_client_rss)) |"
  echo
  echo "| running on, per update | CPU time (microseconds) | ratio to inadyn | resident memory at rest (KiB) |"
  echo "|---|---|---|---|"
  echo "| Hostwarden, one tick of the soak | $client_tick_cpu_us | $(ratio "$client_tick_cpu_us" "$inadyn_update_us") | $soak_rss |"
  echo "| inadyn daemon, every 5 s: $inadyn_updates updates | $inadyn_update_us | 1.00 | $inadyn_daemon_rss |"
  echo "| ddclient daemon, every 60 s: $ddclient_updates updates | $ddclient_update_us | $(ratio "$ddclient_update_us" "$inadyn_update_us") | $ddclient_daemon_rss |"
  echo
  echo "dyndns2 updates the service answered (inadyn and ddclient): $updates"
} | tee "$result"
