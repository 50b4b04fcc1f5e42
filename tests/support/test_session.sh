#!/usr/bin/env bash
# Runs a command apart from the person's session, as every test that starts the real program
# does, so that tests can run side by side and none reads or writes the person's own settings:
# a home, configuration, data, cache, state and runtime folder of its own; no session bus and no
# sound server but one the command starts itself; with --display an X display of its own, whose
# number Xvfb picks; with --bus a session bus of its own. What it starts it stops by process id,
# and the folders go with it.
#   test_session.sh [--display] [--bus] COMMAND [ARGUMENT...]
set -euo pipefail

display=false
bus=false
while :; do
  case ${1:-} in
    --display) display=true ;;
    --bus) bus=true ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] ||
  { echo "usage: test_session.sh [--display] [--bus] COMMAND [ARGUMENT...]" >&2; exit 2; }

source "${BASH_SOURCE[0]%/*}/own_processes.sh"
session=$(mktemp -d -t tirvel-test.XXXXXXXX)
server=""
cleanup() {
  local status=$?
  # A display that went away under a failing test leaves its reason here.
  [ "$status" -ne 0 ] && [ -s "$session/xvfb.log" ] && tail -n 20 "$session/xvfb.log" >&2
  stop_own $server
  rm -rf "$session"
}
trap cleanup EXIT
# ctest ends a test that runs too long with a signal; the display must still go.
trap 'exit 143' TERM
trap 'exit 130' INT

for folder in home config data cache state runtime; do
  mkdir -m 700 "$session/$folder"
done
# A client that finds no sound server would otherwise start one of its own, which nobody stops.
echo "autospawn = no" >"$session/pulse-client.conf"
export HOME=$session/home XDG_CONFIG_HOME=$session/config XDG_DATA_HOME=$session/data \
  XDG_CACHE_HOME=$session/cache XDG_STATE_HOME=$session/state XDG_RUNTIME_DIR=$session/runtime \
  PULSE_CLIENTCONFIG=$session/pulse-client.conf DBUS_SESSION_BUS_ADDRESS=disabled: \
  TIRVEL_TEST_SESSION=$session
# Nor the person's sound server or screen: a window opens only on the session's own display.
unset PULSE_SERVER DISPLAY WAYLAND_DISPLAY XAUTHORITY

if $display; then
  # The server takes every cookie in its file, whatever display it names; the clients look the
  # cookie up by the number Xvfb chose, so it is added again under that.
  cookie=$(mcookie)
  : >"$session/xauthority"
  xauth -q -f "$session/xauthority" add :0 . "$cookie"
  Xvfb -displayfd 3 -screen 0 640x520x24 -nolisten tcp -auth "$session/xauthority" \
    3>"$session/display" 2>"$session/xvfb.log" &
  server=$!
  # Xvfb writes the number once it takes connections.
  for _ in $(seq 100); do
    [ -s "$session/display" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$session/display" ] ||
    { echo "FAIL: Xvfb did not start" >&2; cat "$session/xvfb.log" >&2; exit 1; }
  number=$(cat "$session/display")
  xauth -q -f "$session/xauthority" add ":$number" . "$cookie"
  export DISPLAY=:$number XAUTHORITY=$session/xauthority
  # On a loaded machine a client has once found no display there: the command starts only once
  # one can connect, and the server's log is shown if none can.
  for _ in $(seq 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
  done
  xdotool getdisplaygeometry >/dev/null 2>&1 ||
    { echo "FAIL: no client reaches display :$number" >&2; cat "$session/xvfb.log" >&2; exit 1; }
fi

# dbus-run-session stops its bus when the command ends.
command=("$@")
$bus && command=(dbus-run-session -- "$@")
status=0
"${command[@]}" || status=$?
exit "$status"
