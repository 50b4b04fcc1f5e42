#!/usr/bin/env bash
# The CPU share of the real program showing a live camera: the fake GStreamer webcam of the tests,
# offering YUYV at 640x480 and 160x120, 30 frames a second, on a virtual X display; 20 seconds as
# started, then 20 seconds after "5 bild/sek".
#   camera_cpu.sh PROGRAM FAKE_CAMERA_PLUGIN_DIR [SECONDS]
set -euo pipefail

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" --display "$0" "$@"
program_path=$1
seconds=${3:-20}
work=$(mktemp -d)
program=""
# The program is waited for, so that nothing it still writes keeps the folder from going.
trap '[ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program"; rm -rf "$work" || true' EXIT

export GST_PLUGIN_PATH=$2
export GST_REGISTRY=$work/registry.bin
export TIRVEL_FAKE_CAMERAS="Bench Camera=working=640x480,160x120"
"$program_path" --directory "$work" 2>"$work/stderr" &
program=$!

ticks() { awk '{ print $14 + $15 }' "/proc/$program/stat"; }
share() {
  local before after
  before=$(ticks)
  sleep "$seconds"
  after=$(ticks)
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
    'BEGIN { printf "%.1f", 100 * t / hz / s }'
}

window=""
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Tirvel$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "camera_cpu: no window (the program may hang with a camera present)" >&2; exit 1; }
sleep 3
echo "camera_cpu: as started: $(share) % of a core"
# "5 bild/sek" stands at (120, 96), 57 x 17, in the window.
xdotool mousemove --window "$window" 148 104 click 1
sleep 2
echo "camera_cpu: after 5 bild/sek: $(share) % of a core"
