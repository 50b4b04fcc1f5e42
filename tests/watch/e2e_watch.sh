#!/usr/bin/env bash
# The program left to keep watch, on a fake webcam that a control file switches between a still
# and a moving scene, pulls out and plugs in again, on an X display with a session bus of the
# test's own where Debian's dunst shows the notifications (read back with dunstctl). A still
# scene must give no event; motion exactly one, with its picture, the camera's own 640 x 480
# frame, its log lines, one notification whose Visa opens the events window, and the command run
# with the event in its environment; pulling the camera out a camera-lost event within 5 seconds,
# plugging it back camera-back. Then, on a bus with no notification service at all, motion must
# still be recorded, and the missing service said once; and frames of another program that stop
# changing must be frames-stale, and a new one frames-back; last,
# another program's noisy frames under hunting exposure must give no event by the steady rule,
# and a person crossing them one.
#   e2e_watch.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display --bus "$0" "$@"

work=$(mktemp -d)
pids=()
trap 'stop_own "${pids[@]}"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 20 "$work"/*.err "$work/events/events.jsonl" >&2 2>/dev/null; exit 1; }
mkdir -m 700 "$work/frames" "$work/events" "$work/events2"
camera="Watch Cam"
control=$work/control
log=$work/events/events.jsonl

# Waits up to SECONDS for a line of the log with the event; prints how long it took in ms.
wait_for_event() {
  local event=$1 seconds=$2 started _
  started=$(date +%s%N)
  for _ in $(seq $((seconds * 10))); do
    grep -q "\"event\":\"$event\"" "$log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q "\"event\":\"$event\"" "$log" 2>/dev/null || fail "no $event within $seconds s"
  echo $((($(date +%s%N) - started) / 1000000))
}
count() {
  local n
  n=$(grep -c "\"event\":\"$1\"" "$log" 2>/dev/null) || true
  echo "${n:-0}"
}

dunst 2>"$work/dunst.err" &
pids+=($!)

echo "$camera=still" >"$control"
TIRVEL_FAKE_CAMERAS="$camera=still=640x480" TIRVEL_FAKE_CAMERA_CONTROL=$control \
  "$1" --watch --frames-from-camera --camera "$camera" --directory "$work/frames" \
  --events "$work/events" --event-gap 2 --on-event "env" >"$work/command.out" 2>"$work/tirvel.err" &
program=$!
pids+=("$program")
window=$(tirvel_window "Tirvel – bevakar")
tirvel_wait_for_frames "$work/frames"

sleep 4
[ "$(count motion-start)" -eq 0 ] || fail "an event in a still scene"
echo "still scene: no event"

moved=$(date +%s%N)
echo "$camera=working" >"$control"
took=$(wait_for_event motion-start 5)
echo "motion to motion-start: $took ms"
began=$((moved / 1000000 + took))
sleep 1
stilled=$(date +%s%N)
echo "$camera=still" >"$control"
ended=$((stilled / 1000000 + $(wait_for_event motion-end 6)))
[ "$(count motion-start)" -eq 1 ] && [ "$(count motion-end)" -eq 1 ] ||
  fail "not exactly one event: $(cat "$log")"
picture=$(sed -n 's/.*"picture":"\([^"]*\)".*/\1/p' "$log")
[ "$(cd "$work/events" && ls *.png)" = "$picture" ] || fail "not one picture, the event's"
[ "$(stat -c %a "$work/events/$picture")" = 600 ] || fail "the picture is not private"
[ "$(identify -format %m "$work/events/$picture")" = PNG ] || fail "the picture is not a PNG"
snapshot=$(sed -n 's/.*"snapshot":"\([^"]*\)".*/\1/p' "$log")
[ "$(identify -format %m%wx%h "$work/events/$snapshot" 2>/dev/null)" = JPEG640x480 ] ||
  fail "no JPEG of the camera's 640 x 480 beside the picture: '$snapshot'"

grep -q "^TIRVEL_EVENT=motion-start$" "$work/command.out" &&
  grep -q "^TIRVEL_PICTURE=$work/events/$picture$" "$work/command.out" &&
  grep -q "^TIRVEL_SNAPSHOT=$work/events/$snapshot$" "$work/command.out" &&
  grep -q "^TIRVEL_COUNT=[1-9][0-9]*$" "$work/command.out" &&
  grep -q "^TIRVEL_TIME=20" "$work/command.out" ||
  fail "the command did not run with the event: $(grep TIRVEL_ "$work/command.out")"

# The clip: from 3 s before the event to 2 s after, at the camera's size; its command waits for it.
clip=$(sed -n 's/.*"clip":"\([^"]*\)".*/\1/p' "$log")
for _ in $(seq 50); do grep -q "^TIRVEL_CLIP=$work/events/$clip$" "$work/command.out" && break; sleep 0.1; done
grep -q "^TIRVEL_EVENT=motion-end$" "$work/command.out" &&
  grep -q "^TIRVEL_CLIP=$work/events/$clip$" "$work/command.out" && [ -f "$work/events/$clip" ] ||
  fail "no clip '$clip' for the motion-end command within 5 s: $(ls "$work/events")"
about=$(gst-discoverer-1.0 "$work/events/$clip")
seconds=$(sed -n 's/.*Duration: 0:\([0-9]*\):\([0-9.]*\).*/\1 \2/p' <<<"$about" | awk '{print $1 * 60 + $2}')
[[ "$about" = *"Width: 640"*"Height: 480"* ]] || fail "the clip is not 640 x 480: $about"
awk -v clip="$seconds" -v event=$(((ended - began))) \
  'BEGIN { longer = clip - event / 1000; exit !(longer >= 4 && longer <= 6) }' ||
  fail "the clip of $seconds s is not 4 to 6 s longer than the event of $((ended - began)) ms"

# "Visa" on the notification opens the events window.
dunstctl action 0
tirvel_window "Händelser" >/dev/null

dunstctl close-all
notifications=$(dunstctl history | python3 -c '
import json, sys
for n in json.load(sys.stdin)["data"][0]:
    print(n["summary"]["data"] + "|" + n["icon_path"]["data"])')
[ "$notifications" = "Rörelse har detekterats !|$work/events/$picture" ] ||
  fail "not one notification with the picture: $notifications"
echo "one event: its picture, its clip of $seconds s, two log lines, one notification, the command"

echo "$camera=pulled" >"$control"
echo "camera pulled to camera-lost: $(wait_for_event camera-lost 5) ms"
echo "$camera=plugged" >"$control"
echo "camera plugged to camera-back: $(wait_for_event camera-back 10) ms"

xdotool windowfocus --sync "$window"
tirvel_exit "$window" "$program"

# A bus of its own with no services at all: dunst, being activatable, would come otherwise.
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/address" &
pids+=($!)
for _ in $(seq 50); do
  [ -s "$work/address" ] && break
  sleep 0.1
done
log=$work/events2/events.jsonl
# What moves from the very start is the room's own: the scene is still first.
echo "$camera=still" >"$control"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/address") TIRVEL_FAKE_CAMERAS="$camera=still" \
  TIRVEL_FAKE_CAMERA_CONTROL=$control "$1" --watch --frames-from-camera --camera "$camera" \
  --directory "$work/frames" --events "$work/events2" 2>"$work/alone.err" &
program=$!
pids+=("$program")
sleep 3
echo "$camera=working" >"$control"
wait_for_event motion-start 10 >/dev/null
sleep 1
tirvel_stop "$program"
[ "$(grep -c 'desktop notifications cannot be shown' "$work/alone.err")" -eq 1 ] ||
  fail "the missing notification service was not said once"
echo "without a notification service: the event recorded, and said once"

# Another program's frames that stop changing, and then change again.
mkdir -m 700 "$work/outside" "$work/events3"
cp "$work/frames/5.bmp" "$work/frames/6.bmp" "$work/outside/"
log=$work/events3/events.jsonl
QT_QPA_PLATFORM=offscreen "$1" --watch --directory "$work/outside" --events "$work/events3" \
  2>"$work/outside.err" &
program=$!
pids+=("$program")
wait_for_event frames-stale 15 >/dev/null
cp "$work/frames/5.bmp" "$work/outside/new.bmp"
convert "$work/outside/new.bmp" -negate "BMP3:$work/outside/new.bmp"
mv "$work/outside/new.bmp" "$work/outside/6.bmp"
wait_for_event frames-back 5 >/dev/null
tirvel_stop "$program"
echo "another program's frames: stale after 10 s without a new 6.bmp, back with one"

# Another program's frames watched by the steady rule: noise and the camera's exposure hunting
# give nothing for 8 seconds, and then a person crossing is seen.
mkdir -m 700 "$work/steady" "$work/events4"
log=$work/events4/events.jsonl
"$TIRVEL_SCENE_WRITER" "$work/steady" hunting - 4 0
QT_QPA_PLATFORM=offscreen "$1" --watch --directory "$work/steady" --events "$work/events4" \
  2>"$work/steady.err" &
program=$!
pids+=("$program")
"$TIRVEL_SCENE_WRITER" "$work/steady" hunting - 4 8 || fail "the scene could not be written"
[ "$(count motion-start)" -eq 0 ] || fail "noise or light alone started an event"
"$TIRVEL_SCENE_WRITER" "$work/steady" hunting "dark person" 4 4 &
pids+=($!)
wait_for_event motion-start 6 >/dev/null
grep -q '"rule":"steady"' "$log" || fail "the event does not say the steady rule decided it"
tirvel_stop "$program"
echo "the steady rule: nothing from noise and exposure hunting, a person seen"
echo "1 passed, 0 failed"
