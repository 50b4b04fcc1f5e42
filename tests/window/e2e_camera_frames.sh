#!/usr/bin/env bash
# The program watching its own camera on a real X display: with --frames-from-camera the live view
# writes 5.bmp and 6.bmp into the chosen folder, two tests a second apart mark the moving scene
# green and show the message, and SIGTERM ends the program with status 0 leaving only the two
# frames behind.
#   e2e_camera_frames.sh PROGRAM [CAMERA]     CAMERA defaults to the built-in test scene
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display "$0" "$@"

work=$(mktemp -d)
frames="$work/frames"
mkdir "$frames"
program=""
trap 'stop_own ${program:-}; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$work/stderr" ] && tail -n 40 "$work/stderr" >&2; exit 1; }

"$1" --camera "${2:-test-scene}" --frames-from-camera --directory "$frames" 2>"$work/stderr" &
program=$!
window=$(tirvel_window)
tirvel_wait_for_frames "$frames"
tirvel_test_twice "$window" 1.2 "$work/after.png"
[ "$(tirvel_green_marks "$work/after.png")" -gt 100 ] || fail "no movement marked"
[ "$(tirvel_message_pixels "$work/after.png")" -gt 20 ] || fail "the message is not shown"
[ -z "$(tirvel_reports "$window")" ] || fail "an error was reported"

tirvel_stop "$program"
program=""
left=$(cd "$frames" && ls -A | tr '\n' ' ')
[ "$left" = "5.bmp 6.bmp " ] || fail "the frame folder holds: $left"
echo "1 passed, 0 failed"
