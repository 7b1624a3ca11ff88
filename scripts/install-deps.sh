#!/usr/bin/env bash
# Installs every Debian package Sonvera builds, tests and benchmarks with.
# Idempotent: only missing packages are installed. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # GUI: Qt 6 widgets, print support, offscreen and xcb platform plugins
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 qt6-qpa-plugins libgl-dev
  fonts-dejavu-core
  # the command line's JSON results
  nlohmann-json3-dev
  # audio
  portaudio19-dev libasound2-dev libsndfile1-dev
  # the log sweep's long transforms (and the benchmarks' reference)
  libfftw3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
  # device test rigs: PulseAudio (a null sink reached through the ALSA plugin) and
  # PipeWire (its own server, session manager, pulse and JACK services, a D-Bus of its own)
  pulseaudio pulseaudio-utils libasound2-plugins
  pipewire pipewire-bin wireplumber pipewire-pulse pipewire-jack dbus-daemon
  # looking at the program as a user does
  xvfb xauth imagemagick poppler-utils
  # installing: the icon's PNG, the validators of the desktop entry and the metadata,
  # the Debian package's dependencies (dpkg-shlibdeps) and its check
  librsvg2-bin desktop-file-utils appstream dpkg-dev lintian
)

# PipeWire's ALSA plugin conflicts with pulseaudio in Debian 12: it is only downloaded
# here; the PipeWire rig unpacks it into the build tree (tests/platform/pipewire_rig_start.sh).
fetch_pipewire_alsa() {
  ls /var/cache/apt/archives/pipewire-alsa_*.deb >/dev/null 2>&1 && return 0
  (cd /var/cache/apt/archives 2>/dev/null && $SUDO apt-get download pipewire-alsa >/dev/null 2>&1) ||
    echo "install-deps: pipewire-alsa could not be downloaded; the PipeWire rig tests will skip" >&2
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  fetch_pipewire_alsa
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fetch_pipewire_alsa
