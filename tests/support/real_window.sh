# Shared by the scripts that drive the real program on an X display. Source it; do not run.
# The caller defines fail MESSAGE, which must not return.
source "${BASH_SOURCE[0]%/*}/own_processes.sh"

# Prints the id of the program's window once it is mapped, waiting up to ten seconds; a window is
# named before it is mapped, and focusing it then fails. TITLE defaults to Tirvel's own.
tirvel_window() {
  local title=${1:-Tirvel} window="" _
  for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || fail "no window titled $title"
  echo "$window"
}

# Prints the ids of visible error reports: windows with the program's title besides its own.
tirvel_reports() {
  xdotool search --onlyvisible --name '^Tirvel$' 2>/dev/null | grep -vx "$1" || true
}

# Fails unless the program, asked to end by WHAT, ends with status 0 within ten seconds, rather
# than leaving the test to hang; sets exit_took to the milliseconds it took, to 50 ms.
tirvel_await_end() {
  local program=$1 what=$2 status=0 started _
  started=$(date +%s%N)
  for _ in $(seq 200); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.05
  done
  exit_took=$((($(date +%s%N) - started) / 1000000))
  if kill -0 "$program" 2>/dev/null; then
    # Where it hangs, when a debugger is at hand; then it goes, so the cleanup cannot hang too.
    command -v gdb >/dev/null &&
      gdb -q -batch -p "$program" -ex "thread apply all bt 15" 2>/dev/null | grep '^#\|^Thread' >&2 || true
    kill -KILL "$program" 2>/dev/null
    fail "the program is still running 10 s after $what"
  fi
  wait "$program" || status=$?
  [ "$status" -eq 0 ] || fail "$what ended the program with status $status"
}

# Presses Alt+E in the window: the program must end as tirvel_await_end says.
tirvel_exit() {
  xdotool key --window "$1" alt+e
  tirvel_await_end "$2" Alt+E
}

# Sends the program SIGTERM: it must end as tirvel_await_end says.
tirvel_stop() {
  kill -TERM "$1"
  tirvel_await_end "$1" SIGTERM
}

# Green marks in the test frame of a window screenshot; its interior starts one pixel inside its
# border at (194, 136).
tirvel_green_marks() {
  convert "$1" -crop 158x118+195+137 +repage txt:- | grep -c '#00C800' || true
}

# Pixels of the result label's dark red text, anti-aliased or not.
tirvel_message_pixels() {
  convert "$1" -crop 161x17+26+288 +repage -depth 8 txt:- |
    sed -n 's/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p' |
    awk '$1 >= 96 && $2 < 80 && $3 < 80 { n++ } END { print n + 0 }'
}

# Fails unless 5.bmp and 6.bmp appear in the folder within ten seconds.
tirvel_wait_for_frames() {
  local _
  for _ in $(seq 50); do
    [ -s "$1/5.bmp" ] && [ -s "$1/6.bmp" ] && return 0
    sleep 0.2
  done
  fail "no 5.bmp and 6.bmp in $1"
}

# Presses Alt+T, waits the given seconds for the timer to read 5.bmp, presses it again, and saves
# the window in the screenshot file once marks and message show, looking for up to five seconds
# because a busy machine may take longer to draw them.
tirvel_test_twice() {
  local window=$1 pause=$2 shot=$3 _
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" alt+t
  sleep "$pause"
  xdotool key --window "$window" alt+t
  for _ in $(seq 25); do
    sleep 0.2
    import -window "$window" "$shot"
    [ "$(tirvel_green_marks "$shot")" -gt 100 ] && [ "$(tirvel_message_pixels "$shot")" -gt 20 ] &&
      break
  done
  echo "green marks: $(tirvel_green_marks "$shot"), message pixels: $(tirvel_message_pixels "$shot")"
}
