#!/bin/sh
# Starts the PipeWire test rig: a private D-Bus session bus, pipewire, wireplumber and
# pipewire-pulse, all with their HOME, runtime and configuration folders under DIR.
# Two devices live in the server:
#   sonvera_test  -> sonvera_test_source   a plain cable (a null sink and its recording)
#   sonvera_dut   -> sonvera_dut_source    a device under test of known response: a
#                                          filter chain of the server's built-in nodes
#                                          (left plain; right high-pass, low-pass, delay)
# ALSA reaches both through the PipeWire plugin ("default" is the cable, "sonvera_dut"
# the device under test) and through the pulse plugin (PULSE_SINK / PULSE_SOURCE).
# Debian 12's pipewire-alsa conflicts with pulseaudio, so its plugin is unpacked from the
# package into DIR's parent (apt-get download, dpkg-deb -x) and named in HOME/.asoundrc.
# Usage: pipewire_rig_start.sh DIR. Without pipewire it does nothing; the tests skip.
set -u
dir=${1:?usage: pipewire_rig_start.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
"$here/pipewire_rig_stop.sh" "$dir" >/dev/null 2>&1
mkdir -p "$dir/home" "$dir/run" "$dir/config/pipewire/pipewire.conf.d"
chmod 700 "$dir/run"

skip() { echo "pipewire rig: $*; the rig tests will be skipped"; exit 0; }
for tool in pipewire wireplumber pipewire-pulse dbus-daemon; do
  command -v $tool >/dev/null 2>&1 || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done

# The ALSA plugin, unpacked once beside the rig folder.
plugins="$(dirname "$dir")/pipewire-alsa"
plugin="$plugins/usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_pcm_pipewire.so"
if [ ! -f "$plugin" ]; then
  deb=$(ls /var/cache/apt/archives/pipewire-alsa_*.deb 2>/dev/null | head -n 1)
  if [ -z "$deb" ]; then
    mkdir -p "$plugins.deb" && (cd "$plugins.deb" && apt-get download pipewire-alsa >/dev/null 2>&1)
    deb=$(ls "$plugins.deb"/pipewire-alsa_*.deb 2>/dev/null | head -n 1)
  fi
  [ -n "$deb" ] && dpkg-deb -x "$deb" "$plugins"
fi
[ -f "$plugin" ] || skip "the PipeWire ALSA plugin could not be unpacked (apt-get download pipewire-alsa)"

# The device under test (see the README's "Testing with real devices"): its values are
# read by the tests from this file, so the reference and the chain cannot drift apart.
cat > "$dir/dut.env" <<'DUT'
SONVERA_DUT_LEFT_HP_HZ=1
SONVERA_DUT_HP_HZ=100
SONVERA_DUT_HP_RES_DB=0
SONVERA_DUT_LP_HZ=5000
SONVERA_DUT_LP_RES_DB=0
SONVERA_DUT_DELAY_S=0.0005
DUT
. "$dir/dut.env"

# The graph runs at 48 kHz and follows a stream of 44.1 kHz when that is the only one, so
# neither rate is converted on the way through the cable or the device under test.
cat > "$dir/config/pipewire/pipewire.conf.d/sonvera-rig.conf" <<CONF
context.properties = {
    default.clock.rate = 48000
    default.clock.allowed-rates = [ 44100 48000 ]
}
context.modules = [
    { name = libpipewire-module-loopback
      args = {
          node.description = "Sonvera test cable"
          audio.position = [ FL FR ]
          capture.props = { node.name = "sonvera_test" media.class = "Audio/Sink" }
          playback.props = { node.name = "sonvera_test_source" media.class = "Audio/Source" }
      }
    }
    { name = libpipewire-module-filter-chain
      args = {
          node.description = "Sonvera device under test"
          media.name = "Sonvera device under test"
          filter.graph = {
              nodes = [
                  { type = builtin name = left label = bq_highpass control = { "Freq" = $SONVERA_DUT_LEFT_HP_HZ "Q" = 0.0 } }
                  { type = builtin name = hp label = bq_highpass
                    control = { "Freq" = $SONVERA_DUT_HP_HZ "Q" = $SONVERA_DUT_HP_RES_DB } }
                  { type = builtin name = lp label = bq_lowpass
                    control = { "Freq" = $SONVERA_DUT_LP_HZ "Q" = $SONVERA_DUT_LP_RES_DB } }
                  { type = builtin name = dl label = delay
                    config = { "max-delay" = 0.1 } control = { "Delay (s)" = $SONVERA_DUT_DELAY_S } }
              ]
              links = [
                  { output = "hp:Out" input = "lp:In" }
                  { output = "lp:Out" input = "dl:In" }
              ]
              inputs = [ "left:In" "hp:In" ]
              outputs = [ "left:Out" "dl:Out" ]
          }
          audio.channels = 2
          audio.position = [ FL FR ]
          capture.props = { node.name = "sonvera_dut" media.class = "Audio/Sink" }
          playback.props = { node.name = "sonvera_dut_source" media.class = "Audio/Source" }
      }
    }
]
CONF

# ALSA's "default" goes to the server's default devices through the PipeWire plugin
# (its own node names are not followed by this version: pipewire_rig_use.sh switches the
# defaults between the cable and the device under test).
cat > "$dir/home/.asoundrc" <<ASOUND
pcm_type.pipewire { lib "$plugin" }
ctl_type.pipewire { lib "$plugins/usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_ctl_pipewire.so" }
pcm.!default { type pipewire hint { show on description "PipeWire" } }
ctl.!default { type pipewire }
ASOUND

export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/config"
dbus-daemon --session --fork --address="unix:path=$dir/run/bus" --print-pid=3 3>"$dir/dbus.pid" \
  >"$dir/dbus.log" 2>&1 || skip "dbus-daemon --session failed"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/run/bus"
start() {  # name command...: started in the background, its PID kept in DIR/name.pid
  name=$1; shift
  "$@" >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}
start pipewire pipewire
i=0; while [ ! -S "$dir/run/pipewire-0" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
[ -S "$dir/run/pipewire-0" ] || { tail -n 20 "$dir/pipewire.log"; skip "pipewire did not come up"; }
start wireplumber wireplumber
start pipewire-pulse pipewire-pulse
# Up once the session manager has linked the cable and the chain and pulse answers.
i=0
while [ $i -lt 150 ]; do
  if [ -S "$dir/run/pulse/native" ] && PULSE_SERVER="unix:$dir/run/pulse/native" pactl list short sinks 2>/dev/null |
       grep -q sonvera_dut; then
    "$here/pipewire_rig_use.sh" "$dir" cable || skip "the default devices could not be set"
    touch "$dir/up"
    echo "pipewire rig: up (pipewire $(cat "$dir/pipewire.pid"), wireplumber $(cat "$dir/wireplumber.pid"), pulse $(cat "$dir/pipewire-pulse.pid")) in $dir"
    exit 0
  fi
  sleep 0.1
  i=$((i + 1))
done
tail -n 20 "$dir/pipewire.log" "$dir/wireplumber.log" "$dir/pipewire-pulse.log"
skip "the server did not come up"
