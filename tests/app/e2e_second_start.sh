#!/usr/bin/env bash
# A second start from the menu, on a display with a window manager and a bus of the test's own:
# with the same folders (through a link) it ends within 2 s, status 0, and the minimised first
# window is seen again; a start with another frame folder runs (offscreen, as the service does),
# and a second to it says how to stop it; a stopped first holds no second past 2 s.
#   e2e_second_start.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

program=$1
work=$(mktemp -d)
pids=()
# Newest first, and each waited for: a program still writing frames while its folder goes would
# leave the folder behind.
trap 'for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_own "${pids[i]}"; done; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 5 "$work"/*.err >&2; exit 1; }
mkdir -m 700 "$work/home" "$work/runtime" "$work/frames" "$work/other" "$work/events"
ln -s "$work" "$work/link"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime

# Each says where it listens once it does; the display takes a number no other display uses.
Xvfb -displayfd 3 -screen 0 640x520x24 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address=3 \
  3>"$work/address" 2>"$work/bus.err" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && [ -s "$work/address" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/address")
# Minimising is the window manager's work; a window mapped while it starts may be lost.
openbox --sm-disable --startup "touch $work/ready" 2>"$work/openbox.err" &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/ready" ] && break; sleep 0.1; done

start() { "$program" --frames-from-camera --camera test-scene "$@" & pids+=($!); }
# second STATUS MATCHES ARGUMENTS: Tirvel must end within 2 s with STATUS, saying MATCHES.
second() {
  local status=0
  timeout 2 "$program" --frames-from-camera --camera test-scene "${@:3}" 2>"$work/err" || status=$?
  echo "status $status: $(cat "$work/err")"
  [ "$status" -eq "$1" ] && grep -q "$2" "$work/err" || fail "not status $1 in 2 s, saying: $2"
}
visible() { xdotool search --onlyvisible --name '^Tirvel$' || true; }

start --directory "$work/frames" --events "$work/events" 2>"$work/first.err"
first=${pids[-1]}
window=$(tirvel_window)
xdotool windowminimize --sync "$window"
[ -z "$(visible)" ] || fail "the window is visible after minimising"
second 0 "its window was shown" --directory "$work/frames/" --events "$work/link/events"
for _ in $(seq 20); do [ "$(visible)" = "$window" ] && break; sleep 0.1; done
[ "$(visible)" = "$window" ] || fail "the window is not shown again"
second 0 "its events were shown" --directory "$work/frames" --events "$work/events" --show-events
tirvel_window "Händelser" >/dev/null

QT_QPA_PLATFORM=offscreen start --directory "$work/other" --events "$work/events" \
  2>"$work/other.err"
tirvel_wait_for_frames "$work/other"
second 0 "without a window.*systemctl --user stop tirvel-watch" --directory "$work/other" \
  --events "$work/events"
kill -TERM "${pids[-1]}"
wait "${pids[-1]}" || fail "the start with another frame folder ended with status $?"

kill -STOP "$first"
second 1 "did not show its window" --directory "$work/frames" --events "$work/events"
echo "1 passed, 0 failed"
