#!/usr/bin/env bash
# The alert as a person hears it: the program runs on a virtual X display with a PulseAudio daemon
# of the test's own whose only output is a null sink, and the sink is recorded around two tests.
# A test of two white frames detects nothing and must leave the recording silent; with a black
# test frame the first test detects, and its alert, the program's first, must be heard.
#   e2e_alert_sound.sh PROGRAM
set -euo pipefail
source "$(dirname "$0")/../support/real_window.sh"

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" --display "$0" "$@"

# The daemon, its clients and its cookie meet in the session's runtime folder and home.
work=$(mktemp -d)
mkdir "$work/frames"
daemon="" program="" recorder=""
cleanup() {
  stop_own $recorder $program $daemon
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; tail -n 20 "$work/stderr" "$work/daemon.log" >&2 2>/dev/null; exit 1; }
frame() { convert -size 160x120 "xc:$1" "BMP3:$work/frames/next.bmp" && mv "$work/frames/next.bmp" "$2"; }
rms() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'
}

# Records the sink from just before Test is pressed until the recording holds two and a half
# seconds, the sound and two seconds after it. The recorder hands its samples over late, so its
# file, not the clock, says when that is.
record() {
  parec -d rec.monitor --latency-msec=20 --raw --format=s16le --rate=44100 --channels=2 >"$1" &
  recorder=$!
  for _ in $(seq 50); do
    [ -n "$(pactl list short source-outputs)" ] && break
    sleep 0.1
  done
  xdotool key --window "$window" alt+t
  for _ in $(seq 100); do
    [ "$(stat -c %s "$1")" -ge $((44100 * 4 * 5 / 2)) ] && break
    sleep 0.1
  done
  kill "$recorder"
  wait "$recorder" || true
  recorder=""
}

pulseaudio --daemonize=no --exit-idle-time=-1 -n --load="module-null-sink sink_name=rec" \
  --load=module-native-protocol-unix >"$work/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || fail "PulseAudio did not start"

# White is brighter than any point of the start picture, so the first test detects nothing.
frame white "$work/frames/5.bmp"
frame white "$work/frames/6.bmp"
"$1" --directory "$work/frames" 2>"$work/stderr" &
program=$!
window=$(tirvel_window)
xdotool windowfocus --sync "$window"

record "$work/quiet.raw"
frame black "$work/frames/6.bmp"
record "$work/alert.raw"

quiet=$(rms "$work/quiet.raw")
alert=$(rms "$work/alert.raw")
echo "RMS amplitude without a detection: $quiet, after a detection: $alert"
awk -v r="$quiet" 'BEGIN { exit !(r < 0.001) }' || fail "sound without a detection"
awk -v r="$alert" 'BEGIN { exit !(r > 0.01) }' || fail "no sound after a detection"
[ -z "$(tirvel_reports "$window")" ] || fail "an error was reported"
echo "1 passed, 0 failed"
