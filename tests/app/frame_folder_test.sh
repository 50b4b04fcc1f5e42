#!/usr/bin/env bash
# The frame folder as other users of the machine may have laid it out, tried with the real
# program writing its own frames (offscreen, on the built-in scene): a shared folder with links
# planted in it, another user's folder, a link to a folder, the user's own folder with links
# planted in it, the default runtime folder under umask 000, and a runtime folder that Qt
# refuses, and a folder name that is not UTF-8. Planted links must never lead a write to their
# target. Needs root, to act as the
# other users with setpriv; SIGHUP ends the writing runs, which must close cleanly.
#   frame_folder_test.sh PROGRAM
set -euo pipefail
program=$1
[ "$(id -u)" -eq 0 ] || { echo "SKIP: acting as other users needs root"; exit 77; }
[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" "$0" "$@"

victim=4242
mallory=4243
work=$(mktemp -d)
pid=""
source "$(dirname "$0")/../support/own_processes.sh"
trap 'stop_own $pid; rm -rf "$work"' EXIT
chmod 755 "$work"
fail() { echo "FAIL: $*" >&2; [ -f "$work/stderr" ] && cat "$work/stderr" >&2; exit 1; }
as() { local uid=$1; shift; setpriv --reuid "$uid" --regid "$uid" --clear-groups "$@"; }
owned() { install -d -m "$3" -o "$2" -g "$2" "$1"; }

owned "$work/victim" "$victim" 755
echo diary >"$work/victim/diary" && chown "$victim" "$work/victim/diary" && chmod 600 "$work/victim/diary"
echo secret >"$work/secret" && chmod 600 "$work/secret"

# Runs the program as USER, with env's arguments before it and wrapper's command around it; with
# FRAMES, once the program has written 5.bmp and 6.bmp there, it is sent SIGHUP. Each user has a
# home and settings of its own, since the session's folders are root's alone.
run() {
  local user=$1 frames=$2 status=0 _
  shift 2
  [ -d "$work/home-$user" ] || owned "$work/home-$user" "$user" 700
  # Not through as(): the signal must reach the program, not a shell around it.
  setpriv --reuid "$user" --regid "$user" --clear-groups \
    env -u XDG_RUNTIME_DIR -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME "$@" \
    HOME="$work/home-$user" XDG_CONFIG_HOME="$work/home-$user/.config" QT_QPA_PLATFORM=offscreen \
    TMPDIR="$work" "${wrapper[@]}" \
    "$program" --frames-from-camera --camera test-scene "${folder_args[@]}" 2>"$work/stderr" &
  pid=$!
  if [ -n "$frames" ]; then
    for _ in $(seq 150); do
      [ -f "$frames/5.bmp" ] && [ ! -L "$frames/5.bmp" ] && [ -f "$frames/6.bmp" ] &&
        [ ! -L "$frames/6.bmp" ] && break
      sleep 0.1
    done
    kill -HUP "$pid"
  fi
  wait "$pid" || status=$?
  pid=""
  return "$status"
}
wrapper=()
untouched() {
  [ "$(cat "$work/secret")" = secret ] || fail "root's file was written through a link"
  [ "$(cat "$work/victim/diary")" = diary ] || fail "the user's file was written through a link"
}
refused() {
  local why=$1 status=0
  shift
  run "$@" || status=$?
  [ "$status" -eq 2 ] || fail "ended with status $status, not refused"
  grep -q "$why" "$work/stderr" || fail "the refusal does not say: $why"
  [ "$(wc -l <"$work/stderr")" -eq 1 ] || fail "more than one line on standard error"
  untouched
}

# A shared folder, open to all, where another user planted links to files of root and the user.
install -d -m 1777 "$work/shared"
as "$mallory" ln -s "$work/secret" "$work/shared/5.bmp"
as "$mallory" ln -s "$work/victim/diary" "$work/shared/6.bmp"
folder_args=(--directory "$work/shared")
refused "can be written by other users" 0 ""
refused "belongs to another user" "$victim" ""
echo "shared folder refused, as root and as a user"

owned "$work/mallory" "$mallory" 700
folder_args=(--directory "$work/mallory")
refused "belongs to another user" 0 ""
owned "$work/victim/frames" "$victim" 700
ln -s "$work/victim/frames" "$work/link"
folder_args=(--directory "$work/link")
refused "is a symbolic link" "$victim" ""
# The user's own view of the kernel, which keeps nothing written there.
folder_args=(--directory "/proc/self/")
refused "is in /proc" "$victim" ""
echo "another user's folder, a link to a folder and /proc refused"

# The user's own folder, with links planted before they made it private.
ln -s "$work/victim/diary" "$work/victim/frames/5.bmp"
ln -s "$work/victim/diary" "$work/victim/frames/6.bmp"
folder_args=(--directory "$work/victim/frames")
run "$victim" "$work/victim/frames" || fail "SIGHUP ended the program with status $?"
untouched
for frame in 5.bmp 6.bmp; do
  [ -f "$work/victim/frames/$frame" ] && [ ! -L "$work/victim/frames/$frame" ] ||
    fail "$frame is not a frame of its own"
done
[ "$(ls -A "$work/victim/frames" | tr '\n' ' ')" = "5.bmp 6.bmp " ] ||
  fail "the folder holds: $(ls -A "$work/victim/frames")"
echo "planted links replaced, their target untouched; SIGHUP closed the program"

# The default folder, made by the program, private whatever the umask.
owned "$work/run" "$victim" 700
folder_args=()
wrapper=(sh -c 'umask 000; exec "$@"' sh)
run "$victim" "$work/run/tirvel" XDG_RUNTIME_DIR="$work/run" ||
  fail "SIGHUP ended the program with status $?"
wrapper=()
[ "$(stat -c %a "$work/run/tirvel")" = 700 ] || fail "the frame folder was made $(stat -c %a "$work/run/tirvel")"
for frame in 5.bmp 6.bmp; do
  [ "$(stat -c %a "$work/run/tirvel/$frame")" = 600 ] || fail "$frame was written $(stat -c %a "$work/run/tirvel/$frame")"
done
echo "folder made 0700 and frames written 0600 under umask 000"

# No runtime folder set, and the one Qt falls back to taken by another user.
owned "$work/runtime-nobody" "$mallory" 700
refused "not owned by UID 65534" 65534 "" -u XDG_RUNTIME_DIR
echo "Qt's reason for refusing the runtime folder given"

status=0
"$program" --directory "$work/$(printf '\377')" 2>"$work/stderr" || status=$?
[ "$status" -eq 2 ] && [ "$(wc -l <"$work/stderr")" -eq 1 ] && grep -q "not valid UTF-8" "$work/stderr" ||
  fail "a folder name that is not UTF-8 was not refused in one line (status $status)"
echo "a folder name that is not UTF-8 refused"
echo "1 passed, 0 failed"
