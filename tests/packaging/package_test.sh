#!/usr/bin/env bash
# The Debian package as a user receives it: lintian, desktop-file-validate and appstreamcli find
# nothing to report; unpacked (never installed on this machine) it holds the layout a desktop
# expects, a manual page that names every option and the README, under one id, and a hardened user unit systemd reads without complaint; it depends on the MQTT
# client library and on no broker; and the unpacked program, started through its link in usr/bin by an
# unprivileged user on a virtual X display, shows its window, declares the class and icon its menu
# entry promises, and ends with status 0 on Alt+E.
#   package_test.sh PACKAGE.deb
set -euo pipefail
[ -n "${TIRVEL_TEST_SESSION:-}" ] ||
  exec "$(dirname "$0")/../support/test_session.sh" "$0" "$@"
source "$(dirname "$0")/../support/real_window.sh"

deb=$(realpath -e "$1")
work=$(mktemp -d)
program="" display_server=""
cleanup() {
  stop_own $program $display_server
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -s "$work/stderr" ] && tail -n 40 "$work/stderr" >&2; exit 1; }

# The unprivileged user owns a home, settings and a runtime folder of its own, as a desktop session
# gives; the session's folders are root's alone.
chmod 755 "$work"
mkdir -m 700 "$work/home" "$work/runtime"
echo "autospawn = no" >"$work/pulse-client.conf"
as_user=(env -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME HOME="$work/home"
  XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
  PULSE_CLIENTCONFIG="$work/pulse-client.conf")
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$work/home" "$work/runtime"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups "${as_user[@]}")
fi

cp "$deb" "$work/"
"${as_user[@]}" lintian --fail-on error,warning "$work/$(basename "$deb")" || fail "lintian"

root=$work/root
dpkg-deb -x "$deb" "$root"
share=$root/usr/share

# One id names the metainfo, the desktop entry it launches, and the icon that entry shows.
metainfo=$(find "$share/metainfo" -name '*.metainfo.xml')
[ "$(wc -l <<<"$metainfo")" -eq 1 ] || fail "expected one metainfo file, found: $metainfo"
id=$(basename "$metainfo" .metainfo.xml)
grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's <id> is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $id.desktop"
appstreamcli validate --no-net --strict --pedantic "$metainfo" || fail "appstreamcli"
echo

entry=$share/applications/$id.desktop
[ -f "$entry" ] || fail "no desktop entry $id.desktop"
report=$(desktop-file-validate "$entry" 2>&1) || true
[ -z "$report" ] || fail "desktop-file-validate: $report"
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Icon)" = "$id" ] || fail "the desktop entry's icon is $(key Icon), not $id"
# The entry and each of its actions.
for command in $(key Exec | cut -d ' ' -f 1 | sort -u); do
  [ -x "$root/usr/bin/$command" ] || fail "the desktop entry runs $command, which is not in usr/bin"
done

icons=$share/icons/hicolor
grep -q '<svg' "$icons/scalable/apps/$id.svg" || fail "no scalable icon $id.svg"
for size in 48 256; do
  png=$icons/${size}x${size}/apps/$id.png
  [ -f "$png" ] || fail "no $size pixel icon"
  [ "$(identify -format '%wx%h' "$png")" = "${size}x$size" ] || fail "$png is not $size pixels"
done

gzip -t "$share/man/man1/tirvel.1.gz" || fail "no compressed manual page tirvel.1.gz"
# Every option --help names stands in the manual page; the README is installed beside it.
manual=$(zcat "$share/man/man1/tirvel.1.gz")
for option in $("$root/usr/lib/tirvel/tirvel" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -qF -- "${option//-/\\-}" <<<"$manual" || fail "the manual page does not name $option"
done
[ -f "$share/doc/tirvel/README.md" ] || fail "no README in usr/share/doc/tirvel"

# The user unit as systemd reads it, with the unpacked program in the place of the installed one;
# never enabled or started.
unit=$root/usr/lib/systemd/user/tirvel-watch.service
[ -f "$unit" ] || fail "no systemd user unit tirvel-watch.service"
sed "s#/usr/bin/tirvel#$root/usr/bin/tirvel#" "$unit" >"$work/tirvel-watch.service"
problems=$(systemd-analyze verify --man=no "$work/tirvel-watch.service" 2>&1) || fail "$problems"
[ -z "$problems" ] || fail "systemd reads the unit so: $problems"
# Hardened as far as a user's manager allows (9.8, "UNSAFE", without), and not restarted after a
# command line it refused.
XDG_RUNTIME_DIR=$work/runtime systemd-analyze security --offline=true --user --threshold=70 \
  "$work/tirvel-watch.service" >"$work/security" 2>&1 || fail "$(tail -n 1 "$work/security")"
grep -q '^RestartPreventExitStatus=2$' "$unit" || fail "the unit restarts after a refused command line"
# The MQTT client library, never a broker that would start on every user's machine.
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libmosquitto1' <<<"$depends" || fail "no dependency on libmosquitto1: $depends"
! grep -qw 'mosquitto' <<<"${depends//libmosquitto1/}" || fail "a dependency on a broker: $depends"
[ -f "$share/doc/tirvel/copyright" ] || fail "no copyright file"

# A relative link, so that this unpacked copy starts as an installed one would.
link=$(readlink "$root/usr/bin/tirvel") || fail "usr/bin/tirvel is not a symbolic link"
[[ $link != /* ]] || fail "usr/bin/tirvel points at the absolute path $link"
[ "$(realpath -e "$root/usr/bin/tirvel")" = "$root/usr/lib/tirvel/tirvel" ] ||
  fail "usr/bin/tirvel does not lead to usr/lib/tirvel/tirvel"
[ -f "$root/usr/lib/tirvel/libColorSum.so" ] || fail "the colour library is not beside the program"
for binary in "$root/usr/lib/tirvel/tirvel" "$root/usr/lib/tirvel/libColorSum.so"; do
  ! readelf -d "$binary" | grep -E 'RPATH|RUNPATH' || fail "$binary carries a library search path"
done

# Xvfb picks a free display and writes its number to the descriptor; without an authority file
# it accepts the local clients of every user.
Xvfb -displayfd 3 -screen 0 640x520x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
display_server=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")

# As its menu entry starts it, but on the built-in scene, since no camera is here.
args=(--camera test-scene --frames-from-camera)
"${as_user[@]}" QT_QPA_PLATFORM=xcb "$root/usr/bin/tirvel" "${args[@]}" 2>"$work/stderr" &
program=$!
window=$(tirvel_window)
if [ "$(id -u)" -eq 0 ]; then
  [ "$(ps -o uid= -p "$program" | tr -d ' ')" = 65534 ] || fail "the program runs as root"
fi

# An X11 desktop ties the window to its menu entry by class, and draws it with this icon.
class=$(xprop -id "$window" WM_CLASS | sed -n 's/.*, "\(.*\)"$/\1/p')
[ "$class" = "$(key StartupWMClass)" ] ||
  fail "the window's class is '$class', the desktop entry expects '$(key StartupWMClass)'"
icon=$(xprop -id "$window" _NET_WM_ICON)
grep -q 'Icon (48 x 48)' <<<"$icon" || fail "the window has no 48 pixel icon"

tirvel_wait_for_frames "$work/runtime/tirvel"

# Two tests a second apart must mark the moving scene green.
tirvel_test_twice "$window" 1.2 "$work/after.png"
marks=$(tirvel_green_marks "$work/after.png")
[ "$marks" -gt 100 ] || fail "expected green marks on the moving scene, found $marks"

tirvel_exit "$window" "$program"
program=""
echo "1 passed, 0 failed"
