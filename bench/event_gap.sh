#!/usr/bin/env bash
# The files' thread while events come into a folder that already holds many of Tirvel's pictures,
# with --keep-events as many: the longest gap between two writes of 6.bmp, which the same thread
# writes five times a second. The real program watches the tests' fake webcam, switched between a
# moving and a still scene every 3 seconds, on a virtual X display, for SECONDS.
#   event_gap.sh PROGRAM FAKE_CAMERA_PLUGIN_DIR [PICTURES [SECONDS]]
set -euo pipefail

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" --display "$0" "$@"
pictures=${3:-100000}
seconds=${4:-30}
work=$(mktemp -d)
program=""
switcher=""
trap '[ -n "$switcher" ] && kill "$switcher" 2>/dev/null
  [ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program"; rm -rf "$work" || true' EXIT
mkdir -m 700 "$work/frames" "$work/events"
# Empty pictures a second apart, ending a day ago.
python3 - "$work/events" "$pictures" <<'PY'
import os, sys, time
folder, count = sys.argv[1], int(sys.argv[2])
first = int(time.time()) - 86400 - count
for i in range(count):
    name = time.strftime("%Y%m%dT%H%M%SZ.png", time.gmtime(first + i))
    os.close(os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT, 0o600))
PY

camera="Gap Camera"
echo "$camera=still" >"$work/control"
GST_PLUGIN_PATH=$2 GST_REGISTRY=$work/registry.bin TIRVEL_FAKE_CAMERAS="$camera=still" \
  TIRVEL_FAKE_CAMERA_CONTROL=$work/control GST_PLUGIN_FEATURE_RANK=pulsedeviceprovider:NONE \
  "$1" --watch --frames-from-camera --camera "$camera" --directory "$work/frames" \
  --events "$work/events" --event-gap 1 --keep-events "$pictures" 2>"$work/stderr" &
program=$!
for _ in $(seq 100); do
  [ -s "$work/frames/6.bmp" ] && break
  sleep 0.2
done
[ -s "$work/frames/6.bmp" ] || { echo "event_gap: no frames" >&2; cat "$work/stderr" >&2; exit 1; }
sleep 2
while :; do
  echo "$camera=working" >"$work/control"
  sleep 3
  echo "$camera=still" >"$work/control"
  sleep 3
done &
switcher=$!
# Every new 6.bmp is a new file, put in place by rename.
longest=$(python3 - "$work/frames/6.bmp" "$seconds" <<'PY'
import os, sys, time
path, seconds = sys.argv[1], float(sys.argv[2])
end = time.monotonic() + seconds
last_inode, last_change, longest = None, time.monotonic(), 0.0
while time.monotonic() < end:
    try:
        inode = os.stat(path).st_ino
    except FileNotFoundError:
        inode = None
    now = time.monotonic()
    if inode != last_inode:
        longest = max(longest, now - last_change)
        last_inode, last_change = inode, now
    time.sleep(0.002)
print(round(longest * 1000))
PY
)
kill "$switcher"
switcher=""
kill -TERM "$program"
wait "$program" || true
program=""
echo "event_gap: $pictures pictures, --keep-events $pictures: longest gap between two writes" \
  "of 6.bmp over $seconds s: $longest ms; $(grep -c motion-start "$work/events/events.jsonl" ||
    true) motion-start events, $(ls "$work/events" | grep -c '\.png$') pictures"
