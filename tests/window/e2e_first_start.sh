#!/usr/bin/env bash
# A newcomer's first start, on a real X display and a fresh account: no camera picture, no
# pictures folder, no settings. Test must say in the window why there is nothing to compare, with
# no error report; "Bevaka" from the context menu must make the event folder, private, and watch;
# after Exit, the next start must watch again by itself and log it as restored.
#   e2e_first_start.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display "$0" "$@"

work=$(mktemp -d)
program=""
trap 'stop_own ${program:-}; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/stderr" ] && tail -n 40 "$work/stderr" >&2; exit 1; }

[ ! -e "$XDG_CONFIG_HOME/tirvel" ] || fail "settings before the first start"
start() {
  "$1" --frames-from-camera --camera no-such-camera 2>>"$work/stderr" &
  program=$!
  window=$(tirvel_window "$2")
  xdotool windowfocus --sync "$window"
}

start "$1" Tirvel
xdotool key --window "$window" alt+t
# A report came within about a second of Test before; three leave room on a busy machine.
sleep 3
import -window "$window" "$work/test.png"
[ -z "$(tirvel_reports "$window")" ] || fail "an error report with no camera picture yet"
[ "$(tirvel_message_pixels "$work/test.png")" -gt 20 ] || fail "nothing in the result line"
echo "Test without a camera picture: no report, a line in the window"

[ ! -e "$HOME/Pictures" ] || fail "the pictures folder is there before watching"
windows=$(xdotool search --onlyvisible --name '' | wc -l)
xdotool mousemove --window "$window" 300 80 click 3
# The menu is a window of its own; keys sent before it shows go to the main window.
for _ in $(seq 50); do
  [ "$(xdotool search --onlyvisible --name '' | wc -l)" -gt "$windows" ] && break
  sleep 0.1
done
xdotool key Down Return
tirvel_window "Tirvel – bevakar" >/dev/null
[ "$(stat -c %a "$HOME/Pictures/Tirvel")" = 700 ] || fail "the event folder is not private"
echo "Bevaka without a pictures folder: watching, the folder made 0700"
tirvel_exit "$window" "$program"

start "$1" "Tirvel – bevakar"
grep -q '"by":"restored"' "$HOME/Pictures/Tirvel/events.jsonl" ||
  fail "the next start's watch-on is not logged as restored"
echo "the next start watches again, restored"
tirvel_exit "$window" "$program"
program=""
echo "1 passed, 0 failed"
