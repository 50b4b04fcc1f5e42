#!/usr/bin/env bash
# The window's longest stall and the CPU share while watching a fake webcam replaying a rendered
# room at 640 x 480, 5 pictures a second, for SECONDS (30 by default): a still room, where only the
# ring of recent pictures runs, and one somebody walks through, whose event is recorded as a clip.
#   clip_cost.sh WATCH_STALL WEBCAM_FRAMES FAKE_CAMERA_PLUGIN_DIR [SECONDS]
set -euo pipefail

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" "$0" "$@"
seconds=${4:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH=$3 GST_REGISTRY=$work/registry.bin
for scene in "still dim" "walks dim"; do
  mkdir "$work/$scene"
  "$2" "$scene" "$work/$scene" "$seconds" >/dev/null
  echo -n "clip_cost: $scene, "
  TIRVEL_FAKE_CAMERAS="Bench Webcam=replay" TIRVEL_FAKE_CAMERA_REPLAY="$work/$scene/%05d.jpg" \
    "$1" --camera "Bench Webcam" "$seconds" 2>/dev/null
done
