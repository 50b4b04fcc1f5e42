#!/usr/bin/env bash
# A second start, as a person makes one from the desktop menu, on an X display with a window
# manager and a session bus of the test's own. The first Tirvel's window is minimised; a second
# start with the same folders, named through a link, must leave within 2 s with status 0 and the
# first one's window must be visible again. A start with another frame folder runs beside it, as
# the user service does (offscreen); a start with that folder is told it runs without a window.
# Last, a first start that does not answer (stopped) must not keep a second waiting past 2 s.
#   e2e_second_start.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

program=$1
work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill -CONT "$pid" && kill "$pid" || true; done 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 5 "$work"/*.err >&2; exit 1; }
mkdir -m 700 "$work/home" "$work/runtime" "$work/frames" "$work/other" "$work/events"
ln -s "$work" "$work/link"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime

# Each says where it listens once it does; the display takes a number no other display uses.
Xvfb -displayfd 3 -screen 0 640x520x24 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address=3 \
  3>"$work/bus.address" 2>"$work/bus.err" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && [ -s "$work/bus.address" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
# Minimising a window is the window manager's work. A window mapped while it starts may be lost,
# so it says when it is ready.
openbox --sm-disable --startup "touch $work/ready" 2>"$work/openbox.err" &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/ready" ] && break; sleep 0.1; done

# Starts Tirvel with the arguments, which must end within 2 s with STATUS.
second() {
  local expected=$1 status=0 started took
  shift
  started=$(date +%s%N)
  timeout 10 "$program" --frames-from-camera --camera test-scene "$@" 2>"$work/second.err" ||
    status=$?
  took=$((($(date +%s%N) - started) / 1000000))
  echo "ended in $took ms with status $status: $(cat "$work/second.err")"
  [ "$status" -eq "$expected" ] && [ "$took" -le 2000 ] || fail "not status $expected within 2 s"
}
visible() { xdotool search --onlyvisible --name '^Tirvel$' || true; }

"$program" --frames-from-camera --camera test-scene --directory "$work/frames" \
  --events "$work/events" 2>"$work/first.err" &
first=$!
pids+=("$first")
window=$(tirvel_window)
xdotool windowminimize --sync "$window"
[ -z "$(visible)" ] || fail "the window is visible after minimising"
second 0 --directory "$work/frames/" --events "$work/link/events"
grep -q "its window was shown" "$work/second.err" || fail "the second start did not say so"
for _ in $(seq 20); do
  [ "$(visible)" = "$window" ] && break
  sleep 0.1
done
[ "$(visible)" = "$window" ] || fail "the window is not shown"

QT_QPA_PLATFORM=offscreen "$program" --frames-from-camera --camera test-scene \
  --directory "$work/other" --events "$work/events" 2>"$work/other.err" &
pids+=($!)
tirvel_wait_for_frames "$work/other"
second 0 --directory "$work/other" --events "$work/events"
grep -q "runs without a window.*systemctl --user stop tirvel-watch" "$work/second.err" ||
  fail "the second start did not say how to stop the service"
kill -TERM "${pids[-1]}"
wait "${pids[-1]}" || fail "the start with another folder ended with status $?"

kill -STOP "$first"
second 1 --directory "$work/frames" --events "$work/events"
echo "1 passed, 0 failed"
