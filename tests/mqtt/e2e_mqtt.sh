#!/usr/bin/env bash
# Tirvel on a real MQTT broker: Debian's mosquitto, unpacked by scripts/test, started here on
# 127.0.0.1 at a free port with a configuration of the test's own and stopped by its process id,
# read with mosquitto_sub. Tirvel watches the fake webcam offscreen. Rows: discovery and state,
# motion and a pulled camera; watch/set, and a megabyte of garbage on it; the broker killed and
# restarted; Tirvel killed, and its last will; a password the broker wants; TLS for localhost,
# and a certificate for another host refused. Nothing leaves 127.0.0.1.
#   e2e_mqtt.sh PROGRAM BROKER_ROOT
set -euo pipefail
program=$1
broker=$2/usr/sbin/mosquitto
[ -x "$broker" ] || { echo "SKIP: no broker in $2 (scripts/test unpacks one)"; exit 77; }

work=$(mktemp -d)
pids=()
stop_all() { for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done; }
trap 'stop_all; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 15 "$work"/*.err "$work"/*.log >&2 2>/dev/null; exit 1; }
mkdir -m 700 "$work/home" "$work/frames" "$work/events"
export HOME=$work/home
camera="Mqtt Cam"
control=$work/control
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
topic=tirvel/box

# start_broker [LINE...]: the lines are added to the configuration.
start_broker() {
  {
    echo "user root"
    echo "persistence false"
    echo "listener $port 127.0.0.1"
    printf '%s\n' "$@"
    grep -q allow_anonymous <<<"$*" || echo "allow_anonymous true"
  } >"$work/broker.conf"
  "$broker" -c "$work/broker.conf" >"$work/broker.log" 2>&1 &
  broker_pid=$!
  pids+=("$broker_pid")
  for _ in $(seq 50); do
    (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the broker did not start"
}
stop_broker() { kill "$broker_pid"; wait "$broker_pid" 2>/dev/null || true; }
# start_tirvel URL [OPTION...], with the environment's TIRVEL_MQTT_PASSWORD.
start_tirvel() {
  local url=$1
  shift
  echo "$camera=still" >"$control"
  QT_QPA_PLATFORM=offscreen TIRVEL_FAKE_CAMERAS="$camera=still" TIRVEL_FAKE_CAMERA_CONTROL=$control \
    "$program" --watch --frames-from-camera --camera "$camera" --directory "$work/frames" \
    --events "$work/events" --event-gap 2 --mqtt "$url" --mqtt-id box "$@" 2>"$work/tirvel.err" &
  tirvel=$!
  pids+=("$tirvel")
}
sub() { mosquitto_sub -h 127.0.0.1 -p "$port" "$@"; }
# The retained payload of a topic, or nothing within a second.
retained() { sub -t "$1" -C 1 -W 1 "${@:2}" 2>/dev/null || true; }
# Waits up to SECONDS for the retained payload; sets took to how long that was, in ms.
await() {
  local name=$1 payload=$2 seconds=$3 started now
  started=$(date +%s%N)
  while :; do
    now=$(date +%s%N)
    [ "$(retained "$topic/$name" "${@:4}")" = "$payload" ] && break
    [ $(((now - started) / 1000000000)) -lt "$seconds" ] || fail "$topic/$name is not $payload within $seconds s"
    sleep 0.1
  done
  took=$(((now - started) / 1000000))
}

start_broker
start_tirvel "mqtt://127.0.0.1:$port"
await status online 10
sub -t 'homeassistant/#' -v -C 4 -W 5 >"$work/discovery" || fail "no discovery"
python3 - "$work/discovery" <<'PY' || fail "the discovery messages: $(cat "$work/discovery")"
import json, sys
found = {}
for line in open(sys.argv[1], encoding="utf-8"):
    topic, payload = line.rstrip("\n").split(" ", 1)
    config = json.loads(payload)
    assert config["availability_topic"] == "tirvel/box/status", topic
    assert config["device"]["identifiers"] == ["tirvel_box"], topic
    component = topic.split("/")[1]
    assert config["default_entity_id"] == component + "." + config["unique_id"], topic
    assert "object_id" not in config, topic
    found[component + ":" + config["unique_id"]] = config
assert found["binary_sensor:tirvel_box_motion"]["device_class"] == "motion"
assert found["binary_sensor:tirvel_box_motion"]["state_topic"] == "tirvel/box/motion"
assert found["binary_sensor:tirvel_box_camera"]["device_class"] == "connectivity"
assert found["image:tirvel_box_picture"]["image_topic"] == "tirvel/box/picture"
assert found["switch:tirvel_box_watch"]["command_topic"] == "tirvel/box/watch/set"
PY
[ "$(retained "$topic/camera")" = ON ] && [ "$(retained "$topic/watch")" = ON ] &&
  [ "$(retained "$topic/motion")" = OFF ] || fail "the state after connecting"
echo "discovery: four entities on one device, valid JSON; status online"

sub -t "$topic/event" -W 30 >"$work/events.log" 2>/dev/null &
pids+=($!)
sleep 0.5
echo "$camera=working" >"$control"
await motion ON 5
echo "motion to motion ON on the broker: $took ms"
sleep 0.5
grep -q '"event":"motion-start"' "$work/events.log" || fail "no motion-start event"
retained "$topic/picture" -N >"$work/picture.png"
[ "$(identify -format %m "$work/picture.png" 2>/dev/null)" = PNG ] || fail "no PNG on picture"
echo "$camera=still" >"$control"
await motion OFF 6
echo "motion: ON, the event, the picture, then OFF after the gap"
echo "$camera=pulled" >"$control"
await camera OFF 6
echo "camera pulled to camera OFF: $took ms"
echo "$camera=plugged" >"$control"
await camera ON 10

mosquitto_pub -h 127.0.0.1 -p "$port" -t "$topic/watch/set" -m OFF
await watch OFF 3
before=$(grep -c motion-start "$work/events/events.jsonl")
sleep 4
[ "$(grep -c motion-start "$work/events/events.jsonl")" -eq "$before" ] ||
  fail "an event while watching was switched off"
mosquitto_pub -h 127.0.0.1 -p "$port" -t "$topic/watch/set" -m ON
await watch ON 3
head -c 1048576 /dev/urandom | mosquitto_pub -h 127.0.0.1 -p "$port" -t "$topic/watch/set" -s
sleep 1
[ "$(retained "$topic/watch")" = ON ] && kill -0 "$tirvel" || fail "garbage on watch/set changed things"
[ "$(grep -c 'neither ON nor OFF' "$work/tirvel.err")" -eq 1 ] || fail "the garbage was not noted once"
echo "watch/set: OFF stops watching, ON starts it, a megabyte of garbage is ignored"

stop_broker
sleep 3
frame=$(stat -c %Y.%N "$work/frames/6.bmp")
sleep 1
kill -0 "$tirvel" && [ "$(stat -c %Y.%N "$work/frames/6.bmp")" != "$frame" ] ||
  fail "Tirvel stopped, or its camera did, without a broker"
started=$(date +%s)
start_broker
await status online 35
[ -n "$(retained "homeassistant/switch/tirvel_box/watch/config")" ] || fail "no discovery again"
echo "broker away: Tirvel went on; back: reconnected in $(($(date +%s) - started)) s with discovery"

kill -9 "$tirvel"
await status offline 5
echo "Tirvel killed: offline through the last will"
stop_broker

# A broker that wants a password.
"$2/usr/bin/mosquitto_passwd" -b -c "$work/passwords" watcher secret 2>/dev/null
start_broker "allow_anonymous false" "password_file $work/passwords"
TIRVEL_MQTT_PASSWORD=wrong start_tirvel "mqtt://watcher@127.0.0.1:$port"
sleep 6
kill -0 "$tirvel" || fail "a wrong password ended Tirvel"
[ "$(grep -c 'refused' "$work/tirvel.err")" -eq 1 ] || fail "the refusal was not said once"
[ -z "$(retained "$topic/status" -u watcher -P secret)" ] || fail "online with a wrong password"
kill "$tirvel"
wait "$tirvel" || true
(umask 077 && echo secret >"$work/password")
start_tirvel "mqtt://watcher@127.0.0.1:$port" --mqtt-password-file "$work/password"
await status online 10 -u watcher -P secret
kill "$tirvel"
wait "$tirvel" || fail "Tirvel ended with status $?"
[ "$(retained "$topic/status" -u watcher -P secret)" = offline ] || fail "no offline on a clean exit"
echo "password: a wrong one said once and retried; the right one connects; offline on exit"
stop_broker

# TLS: a certificate authority of the test's own, and the broker's certificate for localhost or,
# in the second row, for another host.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Tirvel test CA" \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
for name in localhost elsewhere.invalid; do
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" -keyout "$work/$name.key" \
    -out "$work/$name.csr" 2>/dev/null
  openssl x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 1 -extfile <(echo "subjectAltName=DNS:$name") -out "$work/$name.pem" 2>/dev/null
done
for name in localhost elsewhere.invalid; do
  start_broker "cafile $work/ca.pem" "certfile $work/$name.pem" "keyfile $work/$name.key"
  start_tirvel "mqtts://localhost:$port" --mqtt-ca "$work/ca.pem"
  online=$( (sub -t "$topic/status" -C 1 -W 8 --cafile "$work/ca.pem" --insecure -h localhost \
    2>/dev/null || true) | grep -c online || true)
  kill "$tirvel"
  wait "$tirvel" || true
  stop_broker
  if [ "$name" = localhost ]; then
    [ "$online" -eq 1 ] || fail "no TLS connection to a broker certified for localhost"
  else
    [ "$online" -eq 0 ] || fail "connected to a broker certified for another host"
  fi
done
echo "TLS: connected to localhost, refused a certificate for another host"
echo "1 passed, 0 failed"
