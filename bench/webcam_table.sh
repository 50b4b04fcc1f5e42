#!/usr/bin/env bash
# What the program makes of the webcam scenes through its own camera path, and what the peer
# Motion makes of the very same frames. Each scene's JPEG frames are played by a fake webcam at
# 640 x 480, 5 a second, to the program watching with its defaults (the scene rule) at
# sensitivity 50 and 90, and served as MJPEG on 127.0.0.1 to Motion with its defaults and tuned as its manual advises. Prints
# one line a scene: motion-start events, with camera-mode notes after a '+', for each; then the
# program's share of a core while watching, by the scene rule and by the steady rule.
#   webcam_table.sh [--cpu-only] PROGRAM FAKE_CAMERA_PLUGIN_DIR WEBCAM_FRAMES [MOTION] [SCENE...]
# Without MOTION (or with "none") only the program is run; with --cpu-only only its share of a core
# is measured.
set -euo pipefail

[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../tests/support/test_session.sh" "$0" "$@"
cpu_only=false
[ "$1" = --cpu-only ] && { cpu_only=true; shift; }
program=$1
export GST_PLUGIN_PATH=$2
frames_tool=$3
motion=${4:-none}
shift $(($# < 4 ? $# : 4))
# Each scene is watched until this long after its end, still, so an event that starts late is
# counted; the replaying camera has more still frames than that, so that it never runs out and
# starts again from the first frame while watched.
still_after=6
still_frames=$((5 * (still_after + 20)))
work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" && wait "$pid"; done 2>/dev/null || true; rm -rf "$work"' EXIT
export GST_REGISTRY=$work/registry.bin
export QT_QPA_PLATFORM=offscreen

# Serves the frames once as MJPEG at 5 a second, then the last one until it is stopped.
serve_mjpeg() {
  exec python3 - "$@" <<'EOF'
import glob, http.server, sys, time
folder, port_file = sys.argv[1], sys.argv[2]
frames = sorted(glob.glob(folder + "/*.jpg"))
class Stream(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "multipart/x-mixed-replace; boundary=frame")
        self.end_headers()
        start = time.monotonic()
        i = 0
        try:
            while True:
                data = open(frames[min(i, len(frames) - 1)], "rb").read()
                self.wfile.write(b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: "
                                 + str(len(data)).encode() + b"\r\n\r\n" + data + b"\r\n")
                i += 1
                time.sleep(max(0, start + i / 5 - time.monotonic()))
        except (BrokenPipeError, ConnectionResetError):
            pass
server = http.server.HTTPServer(("127.0.0.1", 0), Stream)
open(port_file, "w").write(str(server.server_address[1]))
server.serve_forever()
EOF
}

# Starts the program on the scene's frames; its process id is left in started.
start_program() {
  local scene_dir=$1 out=$2
  shift 2
  mkdir -m 700 -p "$out/frames" "$out/events"
  TIRVEL_FAKE_CAMERAS="Webcam=replay" TIRVEL_FAKE_CAMERA_REPLAY="$scene_dir/%05d.jpg" \
    XDG_CONFIG_HOME=$out/config "$program" --watch --frames-from-camera --camera Webcam \
    --directory "$out/frames" --events "$out/events" "$@" >/dev/null 2>"$out/stderr" &
  started=$!
}

# Starts Motion on the frames served at PORT, with more settings as NAME VALUE lines; its process
# id is left in started.
start_motion() {
  local port=$1 out=$2 extra=$3
  mkdir -p "$out"
  cat >"$out/motion.conf" <<EOF
daemon off
setup_mode off
log_file $out/motion.log
target_dir $out
netcam_url http://127.0.0.1:$port/
width 640
height 480
framerate 5
picture_output off
movie_output off
webcontrol_port 0
stream_port 0
on_event_start echo start >>$out/events
$extra
EOF
  "$motion" -n -c "$out/motion.conf" >/dev/null 2>&1 &
  started=$!
}

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
count() { grep -c "\"event\":\"$1\"" "$2" 2>/dev/null || true; }
# The program's events in RUN, with its camera-mode notes after a '+'; Motion's.
cell() {
  local n m
  n=$(count motion-start "$1/events/events.jsonl")
  m=$(count camera-mode "$1/events/events.jsonl")
  if [ "$m" -gt 0 ]; then echo "$n+$m"; else echo "$n"; fi
}
motion_cell() {
  if [ "$motion" = none ]; then echo -; else grep -c start "$1/events" 2>/dev/null || echo 0; fi
}

tuned="noise_tune on
despeckle_filter EedDl
lightswitch_percent 50
threshold 300"

scenes=("$@")
if $cpu_only; then
  scenes=()
elif [ ${#scenes[@]} -eq 0 ]; then
  # The tool prints the quiet, the event and the small movers' scenes a line each.
  IFS=, read -r -a scenes < <("$frames_tool" | paste -s -d ,)
fi

$cpu_only || printf '%-24s %8s %8s %8s %8s\n' scene "Tirvel50" "Tirvel90" "Motion" "tuned"
for scene in "${scenes[@]}"; do
  dir=$work/frames-${scene// /-}
  mkdir -p "$dir"
  count_frames=$("$frames_tool" "$scene" "$dir" $((still_frames / 5)))
  seconds=$(((count_frames - still_frames) / 5 + still_after + 2))
  run=$work/run-${scene// /-}
  start_program "$dir" "$run/50" --sensitivity 50
  at50=$started
  start_program "$dir" "$run/90" --sensitivity 90
  at90=$started
  pids+=("$at50" "$at90")
  motions=()
  if [ "$motion" != none ]; then
    serve_mjpeg "$dir" "$run/port" &
    server=$!
    pids+=("$server")
    for _ in $(seq 50); do [ -s "$run/port" ] && break; sleep 0.1; done
    start_motion "$(cat "$run/port")" "$run/motion" ""
    motions+=("$started")
    start_motion "$(cat "$run/port")" "$run/tuned" "$tuned"
    motions+=("$started")
    pids+=("${motions[@]}")
  fi
  sleep "$seconds"
  for pid in "$at50" "$at90" "${motions[@]}"; do kill "$pid" && wait "$pid" || true; done 2>/dev/null
  [ "$motion" != none ] && { kill "$server" && wait "$server" || true; } 2>/dev/null
  pids=()
  printf '%-24s %8s %8s %8s %8s\n' "$scene" "$(cell "$run/50")" "$(cell "$run/90")" \
    "$(motion_cell "$run/motion")" "$(motion_cell "$run/tuned")"
  rm -rf "$dir"
done

# The share of a core for a walk through the dim room, by each rule, one program at a time.
dir=$work/frames-cpu
mkdir -p "$dir"
count_frames=$(($("$frames_tool" "walks dim" "$dir" $((still_frames / 5))) - still_frames))
for rule in scene steady; do
  start_program "$dir" "$work/cpu-$rule" --detection "$rule"
  pid=$started
  pids=("$pid")
  sleep 3
  before=$(ticks "$pid")
  sleep $((count_frames / 5 - 3))
  after=$(ticks "$pid")
  kill "$pid" && wait "$pid" || true
  pids=()
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s=$((count_frames / 5 - 3)) \
    -v r="$rule" 'BEGIN { printf "watching by the %s rule at 640 x 480, 5 a second: %.1f %% of a core\n", r, 100 * t / hz / s }'
done
