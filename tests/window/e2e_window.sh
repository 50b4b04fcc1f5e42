#!/usr/bin/env bash
# The program as a person uses it, on a real X display: started from a folder holding it, its
# colour library and the two demo frames; Alt+T tests (twice: the first test compares with the
# start picture, the second with 5.bmp once the timer has read it); green marks must appear where
# the ball stood and the message must show. Then 6.bmp becomes a named pipe: the next test must
# report it at once rather than wait for a writer. Last, the read of 6.bmp hangs (HOLD_READS, a
# library preloaded into the program), and Alt+E must still end the program soon after the half
# second its detector is given, with status 0.
#   e2e_window.sh PROGRAM LIBRARY FRAMES_DIRECTORY HOLD_READS
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display "$0" "$@"

work=$(mktemp -d)
trap 'stop_own ${program:-}; rm -rf "$work"' EXIT
cp "$1" "$2" "$3/5.bmp" "$3/6.bmp" "$work/"

fail() { echo "FAIL: $*" >&2; [ -f "$work/stderr" ] && tail -n 60 "$work/stderr" >&2; exit 1; }

# Pixels of a region of a screenshot as "#RRGGBB" lines.
pixels() { convert "$1" -crop "$2" +repage txt:- | grep -o '#[0-9A-F]\{6\}'; }
green() { tirvel_green_marks "$1"; }
dark_red() { tirvel_message_pixels "$1"; }

# AddressSanitizer wants to come first; the preloaded library uses nothing it watches.
LD_PRELOAD=$4 HOLD_READS_OF=/6.bmp HOLD_READS_WHILE="$work/hold" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  "$work/tirvel" 2>"$work/stderr" &
program=$!
window=$(tirvel_window)
xdotool windowfocus --sync "$window"
sleep 0.5

import -window "$window" "$work/before.png"
[ "$(green "$work/before.png")" -eq 0 ] || fail "green marks before any test"
[ "$(dark_red "$work/before.png")" -eq 0 ] || fail "a message before any test"

tirvel_test_twice "$window" 1.6 "$work/after.png"
marks=$(green "$work/after.png")
[ "$marks" -gt 100 ] || fail "expected green marks where the ball stood, found $marks"
# The ball stood centred on (62, 90) of the frame; that sample point must be marked.
[ "$(pixels "$work/after.png" 1x1+257+227)" = "#00C800" ] || fail "no mark where the ball stood"
# The bare floor at (20, 110) is the same in both frames; against the start picture it would count.
[ "$(pixels "$work/after.png" 1x1+215+247)" != "#00C800" ] || fail "the timed frame is not 5.bmp"
[ "$(dark_red "$work/after.png")" -gt 20 ] || fail "the message is not shown"

[ -z "$(tirvel_reports "$window")" ] || fail "an error report before the pipe"
rm "$work/6.bmp"
mkfifo "$work/6.bmp"
xdotool key --window "$window" alt+t
for _ in $(seq 25); do
  sleep 0.2
  [ -n "$(tirvel_reports "$window")" ] && break
done
[ -n "$(tirvel_reports "$window")" ] || fail "no error report for 6.bmp as a named pipe"
echo "6.bmp as a named pipe reported"
xdotool windowfocus --sync "$window"

rm "$work/6.bmp"
cp "$3/6.bmp" "$work/6.bmp"
touch "$work/hold"
xdotool key --window "$window" alt+t
sleep 0.5
tirvel_exit "$window" "$program"
echo "Exit while the read of 6.bmp hangs: ended in $exit_took ms"
# The detector's thread gets half a second to finish its read. A program that waited for the read
# would never end; the second beyond that half is for a loaded machine to end a process.
[ "$exit_took" -le 1500 ] || fail "the program took $exit_took ms to end"
echo "1 passed, 0 failed"
