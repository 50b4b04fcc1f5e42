#!/usr/bin/env bash
# The scene rule through the program's own camera path, in real windows: fake webcams replay
# rendered rooms' JPEG frames at 640 x 480, 5 a second. A person walking through a dim, noisy room
# must give one event, explained by the scene rule with where it was and after the room was
# learnt; a camera that shakes by up to two pixels, watched beside it at sensitivity 90, none.
#   e2e_scene_rule.sh PROGRAM WEBCAM_FRAMES
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display "$0" "$@"

work=$(mktemp -d)
pids=()
trap 'stop_own "${pids[@]}"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 20 "$work"/*/err "$work"/*/events/events.jsonl >&2 2>/dev/null; exit 1; }
count() { grep -c "\"event\":\"$1\"" "$work/$2/events/events.jsonl" 2>/dev/null || true; }

# Writes the frames of SCENE for a camera NAME to replay.
frames_for() {
  mkdir -m 700 -p "$work/$1/frames" "$work/$1/events" "$work/$1/replay"
  # Still frames after the scene, more than the test waits, so the camera never starts over.
  "$frames" "$2" "$work/$1/replay" 20 >/dev/null || fail "cannot write the frames of $2"
}
# Starts the program on the camera NAME at SENSITIVITY; a second is allowed beside the first,
# because each has folders of its own.
watch_scene() {
  local name=$1 sensitivity=$2
  TIRVEL_FAKE_CAMERAS="$name=replay" TIRVEL_FAKE_CAMERA_REPLAY="$work/$name/replay/%05d.jpg" \
    XDG_CONFIG_HOME=$work/$name/config "$program" --watch --frames-from-camera --camera "$name" \
    --sensitivity "$sensitivity" --directory "$work/$name/frames" \
    --events "$work/$name/events" 2>"$work/$name/err" &
  pids+=($!)
}

program=$1
frames=$2
frames_for walker "walks dim"
frames_for shaken shake
started=$(date +%s%N)
watch_scene walker 50
watch_scene shaken 90
tirvel_window "Tirvel – bevakar" >/dev/null

# The walker comes in after four and a half seconds.
for _ in $(seq 200); do
  [ "$(count motion-start walker)" -gt 0 ] && break
  sleep 0.1
done
[ "$(count motion-start walker)" -eq 1 ] || fail "no event for the person walking through"
[ $(($(date +%s%N) - started)) -gt 4000000000 ] || fail "an event before the person came in"
grep '"event":"motion-start"' "$work/walker/events/events.jsonl" |
  grep -q '"rule":"scene".*"where":\[' || fail "the event does not say the rule and where"
sleep 10
[ "$(count motion-start walker)" -eq 1 ] || fail "more than one event for one person"
[ "$(count motion-start shaken)" -eq 0 ] || fail "an event for a camera that shakes"
[ "$(count camera-mode walker)$(count camera-mode shaken)" = 00 ] || fail "a camera-mode note"
echo "one event for a person in a dim room, none for a shaking camera at 90"
echo "1 passed, 0 failed"
