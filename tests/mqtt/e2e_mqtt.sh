#!/usr/bin/env bash
# Tirvel on a real MQTT broker: Debian's mosquitto, unpacked by scripts/test, started here on
# 127.0.0.1 at a free port with a configuration of the test's own and stopped by its process id,
# read with mosquitto_sub. Tirvel watches the fake webcam offscreen. One scenario a run, each its
# own ctest entry with its own broker, port and folder, so that one failure hides none:
#   connecting: the broker started after Tirvel; discovery and state;
#   events_and_commands: motion and a pulled camera; watch/set, and a megabyte of garbage on it;
#   broker_lost: the broker killed and back, meanwhile a retained OFF on watch/set, which must be
#     ignored;
#   leaving: a clean exit with motion open (motion OFF, then offline), Tirvel killed (last will);
#   trouble said once, and retried: password (a wrong one), silent_listener (a listener that never
#     answers), tls (a wrong authority, and a certificate for another host, then the right one);
#   password_notified: a wrong password one desktop notification, through dunst on an X display
#     and a session bus of the test's own.
# Nothing leaves 127.0.0.1.
#   e2e_mqtt.sh PROGRAM BROKER_ROOT SCENARIO
set -euo pipefail
[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" "$0" "$@"
program=$1
broker_root=$2
scenario=$3
scenarios=(connecting events_and_commands broker_lost leaving password password_notified
  silent_listener tls)
[[ " ${scenarios[*]} " = *" $scenario "* ]] ||
  { echo "FAIL: no scenario '$scenario'; there are: ${scenarios[*]}" >&2; exit 2; }
broker=$broker_root/usr/sbin/mosquitto
[ -x "$broker" ] || { echo "SKIP: no broker in $broker_root (scripts/test unpacks one)"; exit 77; }

work=$(mktemp -d)
pids=()
source "$(dirname "$0")/../support/own_processes.sh"
trap 'stop_own "${pids[@]}"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; tail -n 15 "$work"/*.err "$work"/*.log >&2 2>/dev/null; exit 1; }
mkdir -m 700 "$work/frames" "$work/events"
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
pub() { mosquitto_pub -h 127.0.0.1 -p "$port" "$@"; }
# Waits up to SECONDS for Tirvel to say PATTERN on standard error.
said() {
  local pattern=$1 seconds=$2
  for _ in $(seq $((seconds * 10))); do
    grep -q -- "$pattern" "$work/tirvel.err" && return 0
    sleep 0.1
  done
  fail "Tirvel did not say '$pattern' within $seconds s"
}
# Waits up to SECONDS for COMMAND to succeed, so that a loaded machine is given the time it takes
# and a quick one none.
within() {
  local seconds=$1 _
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
# How often Tirvel said PATTERN.
times_said() { grep -c -- "$1" "$work/tirvel.err" || true; }
logged() { grep -c -- "$1" "$work/events/events.jsonl" || true; }
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
# Tirvel connected, and its camera showing, as most scenarios begin.
start_connected() {
  start_broker
  start_tirvel "mqtt://127.0.0.1:$port"
  await status online 10
  await camera ON 10
  # What moves before the scene is learnt is the room's own.
  sleep 2
}

# Connecting: a broker that comes up after Tirvel is reached within the back-off.
connecting() {
  start_tirvel "mqtt://127.0.0.1:$port"
  sleep 5
  start_broker
  await status online 31
  echo "broker started 5 s after Tirvel: online $took ms after it"
  [ "$(times_said "nothing listens at 127.0.0.1:$port")" -eq 1 ] || fail "the absent broker not said once"
  sub -t 'homeassistant/#' -v -C 6 -W 5 >"$work/discovery" || fail "no discovery"
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
assert found["image:tirvel_box_snapshot"]["content_type"] == "image/jpeg"
assert found["switch:tirvel_box_watch"]["command_topic"] == "tirvel/box/watch/set"
assert found["number:tirvel_box_sensitivity"]["command_topic"] == "tirvel/box/sensitivity/set"
assert found["number:tirvel_box_sensitivity"]["name"] == "Känslighet"
PY
  [ "$(retained "$topic/camera")" = ON ] && [ "$(retained "$topic/watch")" = ON ] &&
    [ "$(retained "$topic/motion")" = OFF ] && [ "$(retained "$topic/sensitivity")" = 50 ] ||
    fail "the state after connecting"
  echo "discovery: six entities on one device, valid JSON; status online"
}

# Events and commands, with Tirvel connected and its camera showing.
events_and_commands() {
  start_connected
  sub -t "$topic/event" -W 30 >"$work/events.log" 2>/dev/null &
  pids+=($!)
  sleep 0.5
  echo "$camera=working" >"$control"
  await motion ON 5
  echo "motion to motion ON on the broker: $took ms"
  within 5 grep -q '"event":"motion-start"' "$work/events.log" || fail "no motion-start event"
  retained "$topic/picture" -N >"$work/picture.png"
  [ "$(identify -format %m "$work/picture.png" 2>/dev/null)" = PNG ] || fail "no PNG on picture"
  retained "$topic/snapshot" -N >"$work/snapshot.jpg"
  [ "$(identify -format %m "$work/snapshot.jpg" 2>/dev/null)" = JPEG ] || fail "no JPEG on snapshot"
  echo "$camera=still" >"$control"
  await motion OFF 6
  echo "motion: ON, the event, the picture, then OFF after the gap"
  echo "$camera=pulled" >"$control"
  await camera OFF 6
  echo "camera pulled to camera OFF: $took ms"
  echo "$camera=plugged" >"$control"
  await camera ON 10

  pub -t "$topic/watch/set" -m OFF
  await watch OFF 3
  [ "$(logged '"by":"broker","event":"watch-off"')" -eq 1 ] || fail "watch-off by the broker not logged"
  before=$(grep -c motion-start "$work/events/events.jsonl")
  sleep 4
  [ "$(grep -c motion-start "$work/events/events.jsonl")" -eq "$before" ] ||
    fail "an event while watching was switched off"
  pub -t "$topic/watch/set" -m ON
  await watch ON 3
  head -c 1048576 /dev/urandom | pub -t "$topic/watch/set" -s
  said 'neither ON nor OFF' 5
  [ "$(retained "$topic/watch")" = ON ] && kill -0 "$tirvel" || fail "garbage on watch/set changed things"
  [ "$(grep -c 'neither ON nor OFF' "$work/tirvel.err")" -eq 1 ] || fail "the garbage was not noted once"
  echo "watch/set: OFF stops watching, ON starts it, a megabyte of garbage is ignored"
  mosquitto_pub -h 127.0.0.1 -p "$port" -t "$topic/sensitivity/set" -m 70.0
  await sensitivity 70 3
  echo "sensitivity/set: the slider moves, and the broker hears where it is"
}

# The broker killed and back; a retained OFF left on watch/set meanwhile must not switch
# watching off, at this connection or any later one.
broker_lost() {
  # Its first attempt fails, so that the broker's first return is logged too.
  start_tirvel "mqtt://127.0.0.1:$port"
  said "nothing listens at 127.0.0.1:$port" 10
  start_broker
  await status online 10
  await camera ON 10
  stop_broker
  sleep 3
  frame=$(stat -c %Y.%N "$work/frames/6.bmp")
  sleep 1
  kill -0 "$tirvel" && [ "$(stat -c %Y.%N "$work/frames/6.bmp")" != "$frame" ] ||
    fail "Tirvel stopped, or its camera did, without a broker"
  start_broker
  pub -r -t "$topic/watch/set" -m OFF
  await status online 31
  [ -n "$(retained "homeassistant/switch/tirvel_box/watch/config")" ] || fail "no discovery again"
  echo "broker away: Tirvel went on; back: reconnected in $took ms with discovery"
  said "ignored a command the broker keeps retained on $topic/watch/set" 5
  [ "$(retained "$topic/watch")" = ON ] || fail "a retained OFF on watch/set switched watching off"
  [ "$(times_said "ignored a command the broker keeps retained on $topic/watch/set")" -eq 1 ] ||
    fail "the retained command was not said once"
  [ "$(times_said "broker at 127.0.0.1:$port was lost")" -eq 1 ] &&
    [ "$(logged '"event":"broker-lost","reason":"the connection to the broker')" -eq 1 ] &&
    [ "$(logged '"event":"broker-back"')" -eq 2 ] || fail "the lost broker was not said and logged once"
  pub -r -n -t "$topic/watch/set"
  echo "broker lost and back said once and logged; a retained OFF on watch/set ignored"
}

# Leaving: a clean exit in the middle of an event leaves the true state, the event's end first;
# a killed Tirvel is offline through its last will.
leaving() {
  start_connected
  echo "$camera=working" >"$control"
  await motion ON 5
  kill "$tirvel"
  wait "$tirvel" || fail "Tirvel ended with status $?"
  [ "$(retained "$topic/motion")" = OFF ] && [ "$(retained "$topic/status")" = offline ] ||
    fail "not motion OFF and offline after a clean exit"
  [ "$(grep -o '"event":"motion-[a-z]*"' "$work/events/events.jsonl" | tail -n 1)" = '"event":"motion-end"' ] ||
    fail "the log does not end the event"
  echo "clean exit during motion: motion OFF, offline, and motion-end in the log"
  start_tirvel "mqtt://127.0.0.1:$port"
  await status online 10
  kill -9 "$tirvel"
  await status offline 5
  echo "Tirvel killed: offline through the last will"
  stop_broker
}

# A broker that wants a password.
refused_thrice() { [ "$(grep -c 'not authorised' "$work/broker.log")" -ge 3 ]; }
password() {
  "$broker_root/usr/bin/mosquitto_passwd" -b -c "$work/passwords" watcher secret 2>/dev/null
  start_broker "allow_anonymous false" "password_file $work/passwords"
  TIRVEL_MQTT_PASSWORD=wrong start_tirvel "mqtt://watcher@127.0.0.1:$port"
  said "refused the user 'watcher' with this password: check the user in --mqtt" 5
  # Tried again after 1 s and 2 s more.
  within 10 refused_thrice || fail "the refused password was not tried again"
  kill -0 "$tirvel" || fail "a wrong password ended Tirvel"
  [ "$(times_said 'refused')" -eq 1 ] || fail "the refusal was not said once"
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
}

# A wrong password reaches somebody with no terminal: one notification that says so, within 5 s
# of the refusal, however often it is tried again. dunst keeps two alike apart.
password_notified() {
  Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
  xvfb=$!
  echo "<busconfig><type>session</type><listen>unix:dir=$work</listen><auth>EXTERNAL</auth>
<policy context='default'><allow send_destination='*' eavesdrop='true'/><allow eavesdrop='true'/>
<allow own='*'/></policy></busconfig>" >"$work/bus.conf"
  dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/address" &
  bus=$!
  pids+=("$xvfb" "$bus")
  for _ in $(seq 50); do [ -s "$work/display" ] && [ -s "$work/address" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display") DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/address")
  printf '[global]\nstack_duplicates = false\n' >"$work/dunstrc"
  dunst -config "$work/dunstrc" 2>"$work/dunst.err" &
  dunst=$!
  pids+=("$dunst")
  for _ in $(seq 50); do dunstctl is-paused >/dev/null 2>&1 && break; sleep 0.1; done
  "$broker_root/usr/bin/mosquitto_passwd" -b -c "$work/passwords" watcher secret 2>/dev/null
  start_broker "allow_anonymous false" "password_file $work/passwords"
  TIRVEL_MQTT_PASSWORD=wrong start_tirvel "mqtt://watcher@127.0.0.1:$port"
  # Each look closes what is shown, so that the history holds all that came.
  notices() {
    dunstctl close-all
    dunstctl history | python3 -c 'import json, sys
for n in json.load(sys.stdin)["data"][0]: print(n["summary"]["data"] + "|" + n["body"]["data"])' |
      grep '^MQTT' || true
  }
  refused='' shown='' started=$(date +%s)
  while [ -z "$shown" ] && [ $(($(date +%s) - started)) -lt 10 ]; do
    [ -z "$refused" ] && grep -q 'not authorised' "$work/broker.log" && refused=$(date +%s%N)
    [ -n "$refused" ] && [ -n "$(notices)" ] && shown=$(date +%s%N)
    sleep 0.05
  done
  [ -n "$shown" ] || fail "no notification of the broker within 10 s of starting Tirvel"
  took=$(((shown - refused) / 1000000))
  [ "$took" -le 5000 ] || fail "notified $took ms after the refusal"
  for _ in $(seq 100); do [ "$(grep -c 'not authorised' "$work/broker.log")" -ge 3 ] && break; sleep 0.1; done
  notices=$(notices)
  [[ "$notices" = *"|"*"refused the user 'watcher' with this password"* ]] && [ "$(wc -l <<<"$notices")" -eq 1 ] ||
    fail "not one notification of the refusal over three attempts: $notices"
  echo "a wrong password: one notification, $took ms after the broker refused it"
  kill "$tirvel" "$dunst" "$bus" "$xvfb"
  # Xvfb leaves its lock behind unless it ends by itself.
  wait "$xvfb" || true
}

# A listener that takes the connection and never answers: said, and tried again.
silent_listener() {
  python3 -c '
import socket, sys
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", int(sys.argv[1])))
server.listen()
held = []
while True:
    held.append(server.accept()[0])
    print("accepted", flush=True)
' "$port" >"$work/accepted" &
  pids+=($!)
  listener=$!
  start_tirvel "mqtt://127.0.0.1:$port"
  said "broker at 127.0.0.1:$port took the connection but did not answer within" 15
  for _ in $(seq 30); do
    [ "$(wc -l <"$work/accepted")" -ge 2 ] && break
    sleep 0.1
  done
  [ "$(wc -l <"$work/accepted")" -ge 2 ] || fail "no second attempt after a silent listener"
  kill "$tirvel" "$listener"
  wait "$tirvel" || true
  echo "a listener that never answers: said, and tried again"
}

tls_broker() { start_broker "cafile $work/ca.pem" "certfile $work/$1.pem" "keyfile $work/$1.key"; }

# TLS: a certificate authority of the test's own, and another that signed nothing here; the
# broker's certificate for localhost or for another host.
tls() {
  for ca in ca other; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Tirvel test $ca" \
      -keyout "$work/$ca.key" -out "$work/$ca.pem" 2>/dev/null
  done
  for name in localhost elsewhere.invalid; do
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" -keyout "$work/$name.key" \
      -out "$work/$name.csr" 2>/dev/null
    openssl x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
      -CAcreateserial -days 1 -extfile <(echo "subjectAltName=DNS:$name") -out "$work/$name.pem" 2>/dev/null
  done
  over_tls=(--cafile "$work/ca.pem" --insecure -h localhost)
  tls_broker localhost
  start_tirvel "mqtts://localhost:$port" --mqtt-ca "$work/other.pem"
  said "certificate at localhost:$port is not signed by the authority in '$work/other.pem'" 10
  [ -z "$(retained "$topic/status" "${over_tls[@]}")" ] || fail "connected with the wrong authority"
  kill "$tirvel"
  wait "$tirvel" || true
  stop_broker
  echo "TLS with the wrong authority: said, naming --mqtt-ca"

  # A certificate for another host, then the right one put in place and the broker restarted.
  tls_broker elsewhere.invalid
  start_tirvel "mqtts://localhost:$port" --mqtt-ca "$work/ca.pem"
  said "certificate at localhost:$port is not made out to 'localhost'" 10
  [ -z "$(retained "$topic/status" "${over_tls[@]}")" ] || fail "connected to a broker certified for another host"
  stop_broker
  tls_broker localhost
  await status online 31 "${over_tls[@]}"
  echo "TLS for another host: said; the right certificate: connected $took ms after the broker's restart"
  kill "$tirvel"
  wait "$tirvel" || true
  stop_broker
}

"$scenario"
echo "1 passed, 0 failed"
