# Shared by the scripts in this folder: installs what is missing and builds. Source it; do not run.

TIRVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Everything the build, the program and the tests need from Debian.
TIRVEL_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-multimedia-dev libbenchmark-dev
  # Image analysis: area shrinking, morphology, regions, phase correlation, colour conversion.
  libopencv-core-dev libopencv-imgproc-dev
  # Qt's camera backend on Debian is GStreamer; webcams need these plugins, which Qt's
  # package does not pull in, and Qt 6.4 can crash when they are missing.
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # The camera view asks GStreamer why a camera gives no picture, and the tests' fake cameras
  # are a GStreamer device provider; gst-device-monitor-1.0 lists them.
  libgstreamer1.0-dev gstreamer1.0-plugins-base-apps
  # Each event's clip: appsrc, VP8 and WebM; the tests decode it again with the discoverer.
  libgstreamer-plugins-base1.0-dev
  fonts-dejavu-core
  # Draws the icon's bitmap sizes from its SVG.
  librsvg2-bin
  # The real-window test, the screenshot and scripts/run without a display.
  xvfb xauth xdotool imagemagick
  # A window manager, which minimises and shows windows, for the test of a second start.
  openbox
  # The loader under memcheck.
  valgrind
  # The alert test: a sound server of its own, its recorder, and a measure of what was recorded.
  pulseaudio pulseaudio-utils sox
  # The screen-reader test: a session bus, an accessibility bus and an AT-SPI client.
  dbus-daemon at-spi2-core python3-pyatspi
  # The watching test: a desktop notification service, started on the test's own bus.
  dunst
  # Home automation: the MQTT client library; the tests' own broker's libraries and clients.
  # The broker itself is unpacked, never installed, so no system service is ever enabled.
  libmosquitto-dev mosquitto-clients libcjson1 libwrap0 libdlt2 openssl
)

tirvel_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "tirvel: installing needs root; run this as root or install sudo" >&2
    return 1
  fi
}

# Quiet and quick when nothing is missing.
tirvel_install_missing() {
  local missing=() package
  for package in "${TIRVEL_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "tirvel: installing ${missing[*]}"
  tirvel_as_root apt-get update -qq >/dev/null &&
    tirvel_as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# tirvel_unpack PACKAGE PROGRAM: unpacks a Debian package into build/PACKAGE without installing
# it, where installing would enable a system service, and checks that PROGRAM (a path inside the
# package) is there. Its libraries must be installed apart.
tirvel_unpack() {
  local package=$1 root=$TIRVEL_ROOT/build/$1 deb
  [ -x "$root/$2" ] && return 0
  mkdir -p "$root"
  deb=$(cd "$root/.." && apt-get download -q "$package" >/dev/null 2>&1 &&
    ls "${package}"_*.deb | head -n 1) ||
    { echo "tirvel: cannot download the $package package" >&2; return 1; }
  dpkg-deb -x "$TIRVEL_ROOT/build/$deb" "$root"
  rm -f "$TIRVEL_ROOT/build/$deb"
}

# Debian's mosquitto broker, for the tests, in build/mosquitto.
tirvel_unpack_broker() {
  tirvel_unpack mosquitto usr/sbin/mosquitto
}

# tirvel_build PRESET [TARGET...]: configures once and builds the preset, or only the targets
# named. On a terminal ninja's own status line shows how far it has come; elsewhere the compiler's
# output is printed only when it has something to say.
tirvel_build() {
  local preset=$1 log status=0 targets=()
  shift
  [ $# -gt 0 ] && targets=(--target "$@")
  cd "$TIRVEL_ROOT" || return 1
  log=$(mktemp)
  echo "tirvel: building ($preset${1:+: $*})"
  if [ ! -f "build/$preset/CMakeCache.txt" ]; then
    cmake --preset "$preset" >"$log" 2>&1 || status=$?
  fi
  if [ "$status" -eq 0 ] && [ -t 1 ]; then
    cmake --build --preset "$preset" "${targets[@]}" || status=$?
  elif [ "$status" -eq 0 ]; then
    cmake --build --preset "$preset" "${targets[@]}" >>"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    cat "$log"
  else
    grep -E -A3 'warning:' "$log" || true
  fi
  rm -f "$log"
  return "$status"
}
