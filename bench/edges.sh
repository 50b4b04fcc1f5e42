#!/usr/bin/env bash
# The program at the edges a hostile user found, measured, each case on its own folders, the fake
# webcam and (for the broker's cases) Debian's mosquitto on 127.0.0.1:
#   same-id        two Tirvels with one --mqtt-id for 90 s: connections, take-overs, causes named
#   packet-limit   a broker with max_packet_size 3000, an event every 10 s for 60 s
#   switch-flood   10,000 watch/set switches in about 10 s: the log's lines
#   prune-sigterm  SIGTERM the moment an event's picture lands among 100,000 old ones, 3 times
#   command-holds  a 10 s --on-event command, --keep-events 5, an event every 4 s for 2 minutes
#   kills          65 SIGKILLs at random moments, then one clean run
#   edges.sh PROGRAM PLUGINS BROKER_ROOT [CASE…]
set -uo pipefail
[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" "$0" "$@"
program=$1
broker_root=$3
export GST_PLUGIN_PATH=$2 GST_PLUGIN_FEATURE_RANK=pulsedeviceprovider:NONE,pipewiredeviceprovider:NONE
export QT_QPA_PLATFORM=offscreen
shift 3
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(same-id packet-limit switch-flood prune-sigterm command-holds kills)
work=$(mktemp -d)
pids=()
source "$(dirname "$0")/../tests/support/own_processes.sh"
trap 'stop_own "${pids[@]}"; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
count() { local n; n=$(grep -c -- "$1" "$2" 2>/dev/null) || true; echo "${n:-0}"; }

# A case's own folders under $dir, its fake camera named $1 and still.
folders() {
  dir=$(mktemp -d -p "$work")
  mkdir -m 700 "$dir/frames" "$dir/events"
  camera=$1
  control=$dir/control
  echo "$camera=still" >"$control"
  export TIRVEL_FAKE_CAMERAS="$camera=still=640x480" TIRVEL_FAKE_CAMERA_CONTROL=$control
  export GST_REGISTRY=$dir/registry.bin
  log=$dir/events/events.jsonl
}
watching() {
  "$program" --watch --frames-from-camera --camera "$camera" --directory "$dir/frames" \
    --events "$dir/events" "$@" 2>>"$dir/err" &
  tirvel=$!
  pids+=("$tirvel")
}
moving() { echo "$camera=working" >"$control"; }
still() { echo "$camera=still" >"$control"; }
# A broker of the case's own, logging every client, with the lines given.
broker() {
  port=$(free_port)
  printf 'persistence false\nlistener %s 127.0.0.1\nallow_anonymous true\nlog_dest stderr\nlog_type all\n%s\n' \
    "$port" "${1:-}" >"$dir/broker.conf"
  "$broker_root/usr/sbin/mosquitto" -c "$dir/broker.conf" 2>"$dir/broker.log" &
  pids+=($!)
  sleep 0.5
}

same_id() {
  folders "Same Cam"
  broker
  local n
  for n in 1 2; do
    mkdir -m 700 "$dir/frames$n" "$dir/events$n" "$dir/home$n"
    HOME=$dir/home$n XDG_RUNTIME_DIR=$dir/home$n "$program" --watch --directory "$dir/frames$n" \
      --events "$dir/events$n" --mqtt "mqtt://127.0.0.1:$port" --mqtt-id box 2>"$dir/err$n" &
    eval "tirvel$n=\$!"
    pids+=($!)
    sleep 2
  done
  sleep 88
  # shellcheck disable=SC2154
  kill "$tirvel1" "$tirvel2"
  wait "$tirvel1" "$tirvel2"
  echo "same-id: connections $(count 'New client connected.* as tirvel-box' "$dir/broker.log")," \
    "take-overs $(count 'already connected, closing old connection' "$dir/broker.log")"
  for n in 1 2; do
    echo "  Tirvel $n: cause named $(count 'another client uses the id' "$dir/err$n")," \
      "broker-lost $(count broker-lost "$dir/events$n/events.jsonl")," \
      "broker-back $(count broker-back "$dir/events$n/events.jsonl")"
  done
}

packet_limit() {
  folders "Packet Cam"
  broker "max_packet_size 3000"
  mosquitto_sub -h 127.0.0.1 -p "$port" -t tirvel/box/motion -v >"$dir/motion" &
  pids+=($!)
  watching --event-gap 1 --mqtt "mqtt://127.0.0.1:$port" --mqtt-id box
  sleep 4
  for _ in $(seq 6); do moving; sleep 2; still; sleep 8; done
  kill "$tirvel"
  wait "$tirvel"
  echo "packet-limit: events $(count motion-start "$log")," \
    "connections $(count 'New client connected.* as tirvel-box' "$dir/broker.log")," \
    "motion ON received $(count 'motion ON' "$dir/motion")," \
    "cause named $(count 'max_packet_size' "$dir/err")"
}

switch_flood() {
  folders "Flood Cam"
  broker
  watching --mqtt "mqtt://127.0.0.1:$port" --mqtt-id flood
  sleep 3
  for _ in $(seq 10); do
    for _ in $(seq 500); do printf 'ON\nOFF\n'; done |
      mosquitto_pub -h 127.0.0.1 -p "$port" -t tirvel/flood/watch/set -l
    sleep 0.5
  done
  sleep 3
  kill "$tirvel"
  wait "$tirvel"
  echo "switch-flood: 10000 switches, log lines $(wc -l <"$log")," \
    "watch lines $(count '"watch-o' "$log")"
}

prune_sigterm() {
  local try
  for try in 1 2 3; do
    folders "Prune Cam"
    python3 - "$dir/events" <<'PICTURES'
import datetime, os, sys
first = datetime.datetime(2020, 1, 1)
for second in range(100000):
    name = (first + datetime.timedelta(seconds=second)).strftime("%Y%m%dT%H%M%SZ.png")
    os.close(os.open(os.path.join(sys.argv[1], name), os.O_CREAT | os.O_WRONLY, 0o600))
PICTURES
    watching --event-gap 2 --keep-events 10
    for _ in $(seq 100); do grep -q watch-on "$log" 2>/dev/null && break; sleep 0.1; done
    # SIGTERM the moment the event's picture is renamed into place.
    python3 - "$dir/events" "$tirvel" <<'KILL' &
import ctypes, os, signal, struct, sys
libc = ctypes.CDLL("libc.so.6", use_errno=True)
watch = libc.inotify_init()
libc.inotify_add_watch(watch, sys.argv[1].encode(), 0x80 | 0x100)
while True:
    events, at = os.read(watch, 65536), 0
    while at < len(events):
        _, _, _, length = struct.unpack_from("iIII", events, at)
        name = events[at + 16:at + 16 + length].rstrip(b"\0").decode()
        at += 16 + length
        if name.endswith(".png") and not name.startswith((".", "2020")):
            os.kill(int(sys.argv[2]), signal.SIGTERM)
            sys.exit(0)
KILL
    pids+=($!)
    sleep 2
    moving
    wait "$tirvel"
    echo "prune-sigterm $try: exit $?, old pictures left $(find "$dir/events" -name '2020*.png' | wc -l)," \
      "motion-start $(count motion-start "$log"), motion-end $(count motion-end "$log")"
  done
}

command_holds() {
  folders "Hold Cam"
  mkdir "$dir/copies"
  cat >"$dir/command" <<'COMMAND'
#!/bin/sh
sleep 10
case $TIRVEL_EVENT in motion-start) file=$TIRVEL_PICTURE ;; motion-end) file=$TIRVEL_CLIP ;; *) exit 0 ;; esac
if [ -n "$file" ] && cp "$file" "$COPIES/"; then echo "found $TIRVEL_EVENT"; else echo "missing $TIRVEL_EVENT"; fi >>"$COPIES/runs"
COMMAND
  chmod +x "$dir/command"
  export COPIES=$dir/copies
  watching --event-gap 1 --keep-events 5 --on-event "$dir/command"
  sleep 4
  for _ in $(seq 30); do moving; sleep 1.5; still; sleep 2.5; done
  sleep 25
  kill "$tirvel"
  wait "$tirvel"
  echo "command-holds: events $(count motion-start "$log"), runs that found their file" \
    "$(count found "$dir/copies/runs"), that did not $(count missing "$dir/copies/runs")," \
    "dropped said $(count 'not run for such events' "$dir/err") time(s)," \
    "pictures kept $(find "$dir/events" -name '*.png' | wc -l)"
}

kills() {
  folders "Kill Cam"
  (while :; do moving; sleep "1.$((RANDOM % 9))"; still; sleep "1.$((RANDOM % 9))"; done) &
  local mover=$! left=0 stayed=0 before file ons
  pids+=("$mover")
  for _ in $(seq 65); do
    before=$(cd "$dir" && find events frames -name '.*' -type f)
    ons=$(count watch-on "$log")
    watching --event-gap 1 --keep-events 20
    for _ in $(seq 100); do [ "$(count watch-on "$log")" -gt "$ons" ] && break; sleep 0.05; done
    sleep 1
    for file in $before; do
      left=$((left + 1))
      [ -e "$dir/$file" ] && stayed=$((stayed + 1))
    done
    sleep "0.$((RANDOM % 100))"
    sleep $((RANDOM % 4))
    kill -KILL "$tirvel"
    wait "$tirvel" 2>/dev/null
  done
  kill "$mover"
  wait "$mover" 2>/dev/null
  still
  watching --event-gap 1 --keep-events 20
  sleep 5
  kill "$tirvel"
  wait "$tirvel"
  python3 - "$log" <<'CLOSED'
import json, sys
open_, starts, unclosed, restarts = False, 0, 0, 0
for line in open(sys.argv[1]):
    event = json.loads(line)
    if event["event"] == "motion-start":
        starts, unclosed, open_ = starts + 1, unclosed + open_, True
    elif event["event"] == "motion-end":
        open_, restarts = False, restarts + (event.get("reason") == "restart")
print(f"kills: motion-start {starts}, closed by a restart {restarts}, never closed {unclosed + open_}")
CLOSED
  echo "  temporary files the kills left $left, still there after the next start $stayed," \
    "hidden files at the end $(cd "$dir" && find events frames -name '.*' -type f | wc -l)"
}

for name in "${cases[@]}"; do
  "${name//-/_}"
done
