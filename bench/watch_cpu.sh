#!/usr/bin/env bash
# The CPU share of the real program left to watch the built-in scene on a virtual X display,
# writing its frames and recording its events, over SECONDS (20 by default).
#   watch_cpu.sh PROGRAM [SECONDS]
set -euo pipefail

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" --display "$0" "$@"
seconds=${2:-20}
work=$(mktemp -d)
program=""
# The program is waited for, so that nothing it still writes keeps the folder from going.
trap '[ -n "$program" ] && kill "$program" 2>/dev/null && wait "$program"; rm -rf "$work" || true' EXIT
mkdir -m 700 "$work/frames" "$work/events"
"$1" --camera test-scene --frames-from-camera --watch --directory "$work/frames" \
  --events "$work/events" 2>"$work/stderr" &
program=$!
sleep 3
ticks() { awk '{ print $14 + $15 }' "/proc/$program/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
share=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
  'BEGIN { printf "%.1f", 100 * t / hz / s }')
echo "watch_cpu: watching the demo scene: $share % of a core," \
  "$(wc -l <"$work/events/events.jsonl") events logged"
