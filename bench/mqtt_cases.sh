#!/usr/bin/env bash
# Keeping watch with and without a broker: none; Debian's mosquitto on 127.0.0.1 (unpacked by
# scripts/test into build/mosquitto); a port on 127.0.0.1 nothing listens on; and a socket on
# 127.0.0.1 that takes the connection and never answers. Each case runs watch_stall.
#   mqtt_cases.sh WATCH_STALL BROKER_ROOT [SECONDS]
set -euo pipefail
[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" "$0" "$@"
stall=$1
broker=$2/usr/sbin/mosquitto
seconds=${3:-20}
work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" && wait "$pid"; done 2>/dev/null || true; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

"$stall" "$seconds" 2>/dev/null

port=$(free_port)
printf 'user root\npersistence false\nlistener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/broker.conf"
"$broker" -c "$work/broker.conf" 2>/dev/null &
pids+=($!)
sleep 0.5
"$stall" "$seconds" "mqtt://127.0.0.1:$port" 2>/dev/null

"$stall" "$seconds" "mqtt://127.0.0.1:$(free_port)" 2>/dev/null

port=$(free_port)
python3 -c '
import socket, sys, time
server = socket.socket()
server.bind(("127.0.0.1", int(sys.argv[1])))
server.listen()
held = []
end = time.time() + int(sys.argv[2]) + 10
server.settimeout(1)
while time.time() < end:
    try:
        held.append(server.accept()[0])
    except socket.timeout:
        pass
' "$port" "$seconds" &
pids+=($!)
sleep 0.5
"$stall" "$seconds" "mqtt://127.0.0.1:$port" 2>/dev/null
