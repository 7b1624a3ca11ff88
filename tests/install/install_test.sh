#!/usr/bin/env bash
# Installs the build into an empty temporary prefix, as a user's `cmake --install` does,
# and checks the installed Sonvera.
#   layout: every file in its place, the desktop entry and the AppStream metadata pass
#           their validators, the installed programs run and measure, and without sound
#           hardware the program opens on the virtual loopback card.
#   home:   the installed program, started with an empty HOME and closed, keeps its
#           settings in HOME/.config/sonvera/snv13.cfg.
# Usage: install_test.sh BUILD_DIR layout|home
set -euo pipefail
build=${1:?usage: install_test.sh BUILD_DIR layout|home}
mode=${2:?usage: install_test.sh BUILD_DIR layout|home}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Without sound hardware PortAudio lists only the virtual card ("WaveInNumDevs  : 1").
no_hardware() {
  "$prefix/bin/sonvera-cli" --audio portaudio devices 2>/dev/null | grep -q '^WaveInNumDevs *: *1$'
}

# Starts the installed program as the desktop menu does (no options, no variables of its
# own) with HOME set to the empty folder $tmp/home, waits for its first painted main
# window and closes it; the configuration is saved on the way out. Arguments are added.
start_and_close() {
  mkdir -p "$tmp/home"
  env -u SONVERA_AUDIO -u SONVERA_DUT -u XDG_CONFIG_HOME HOME="$tmp/home" QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/sonvera" --startup-probe "$@" >"$tmp/probe.out" ||
    fail "the installed sonvera did not start and close cleanly"
  grep -q '^startup-ms [0-9]' "$tmp/probe.out" || fail "the main window was never painted"
}

case $mode in
layout)
  for f in bin/sonvera bin/sonvera-cli \
           share/applications/sonvera.desktop \
           share/icons/hicolor/scalable/apps/sonvera.svg \
           share/icons/hicolor/256x256/apps/sonvera.png \
           share/metainfo/org.sonvera.Sonvera.metainfo.xml \
           share/man/man1/sonvera.1 share/man/man1/sonvera-cli.1 \
           share/doc/sonvera/README.md share/doc/sonvera/copyright; do
    [ -s "$prefix/$f" ] || fail "$f is not installed"
  done
  for p in bin/sonvera bin/sonvera-cli; do
    [ -x "$prefix/$p" ] || fail "$p is not executable"
  done
  # Every picture the README shows is installed beside it.
  grep -o 'docs/[A-Za-z0-9_-]*\.png' "$prefix/share/doc/sonvera/README.md" | sort -u |
    while read -r pic; do
      [ -s "$prefix/share/doc/sonvera/$pic" ] || fail "$pic (shown by the README) is not installed"
    done

  # The PNG header's width and height (big-endian words at bytes 16 and 20).
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/256x256/apps/sonvera.png")
  size="$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3))x$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))"
  [ "$size" = 256x256 ] || fail "the PNG icon is $size, not 256x256"

  command -v desktop-file-validate >/dev/null || fail "desktop-file-validate missing (scripts/install-deps.sh)"
  command -v appstreamcli >/dev/null || fail "appstreamcli missing (scripts/install-deps.sh)"
  desktop-file-validate "$prefix/share/applications/sonvera.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$prefix/share/metainfo/org.sonvera.Sonvera.metainfo.xml" ||
    fail "appstreamcli validate"

  # The metadata's newest release is the version the programs report.
  version=$("$prefix/bin/sonvera-cli" --version) || fail "sonvera-cli --version"
  echo "$version"
  release=$(grep -o -m1 '<release version="[^"]*"' "$prefix/share/metainfo/org.sonvera.Sonvera.metainfo.xml" | cut -d'"' -f2)
  [[ $version == "sonvera-cli (Sonvera V "*", build $release)" ]] ||
    fail "the metadata's release $release is not the version '$version'"

  # A measurement with the installed tool: the loudest bin lies at the 1 kHz tone
  # (one bin of a 1024-point spectrum at 44.1 kHz is 43 Hz wide), the THD+N line last.
  "$prefix/bin/sonvera-cli" --audio virtual spectrum --tone 1000 --thd >"$tmp/spectrum.txt" ||
    fail "the installed sonvera-cli spectrum failed"
  tail -n 1 "$tmp/spectrum.txt"
  tail -n 1 "$tmp/spectrum.txt" | grep -q '^# THD+N:' || fail "no THD+N line"
  peak=$(grep -v '^#' "$tmp/spectrum.txt" | sort -t, -k2 -g | tail -n 1 | cut -d, -f1)
  awk -v f="$peak" 'BEGIN { exit !(f > 956 && f < 1044) }' || fail "the loudest bin is at $peak Hz"

  # Started from the menu (no options) without sound hardware, the program opens on the
  # virtual card: the device formats it saves are those of "Sonvera Loopback", device 0.
  if no_hardware; then
    start_and_close --config "$tmp/menu.cfg"
    grep -q '^Sonvera_Loopbacksf=' "$tmp/menu.cfg" || fail "not opened on the virtual card"
    grep -q '^INDEV=0' "$tmp/menu.cfg" || fail "the virtual card is not the input device"
  else
    echo "sound hardware present: the start on the virtual card was not checked"
  fi
  ;;
home)
  start_and_close
  [ -s "$tmp/home/.config/sonvera/snv13.cfg" ] || fail "no HOME/.config/sonvera/snv13.cfg"
  [ ! -e "$prefix/bin/snv13.cfg" ] || fail "a configuration was written beside the program"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
echo "ok"
