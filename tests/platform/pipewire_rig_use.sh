#!/bin/sh
# Makes the cable (sonvera_test -> sonvera_test_source) or the device under test
# (sonvera_dut -> sonvera_dut_source) the default devices of the PipeWire rig in DIR, so
# ALSA's "default" and the pulse plugin reach it.
# Usage: pipewire_rig_use.sh DIR cable|dut [RATE]
set -u
usage="usage: pipewire_rig_use.sh DIR cable|dut [RATE]"
dir=${1:?$usage}
# The device under test holds the graph at 48 kHz, the rate its response is computed for.
# The cable holds it at RATE where one is given (so neither a recorder nor the program is
# converted, whichever stream comes first), else lets it follow a lone stream's rate.
case ${2:-} in
  cable) sink=sonvera_test force=${3:-0} ;;
  dut) sink=sonvera_dut force=48000 ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
case $force in
  0|44100|48000) ;;
  *) echo "pipewire rig: RATE must be 44100 or 48000, not '$force'" >&2; exit 2 ;;
esac
export XDG_RUNTIME_DIR="$dir/run" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/run/bus" PULSE_SERVER="unix:$dir/run/pulse/native"
id() { pactl list short "$1" | awk -v n="$2" '$2 == n { print $1 }'; }
sinkId=$(id sinks $sink)
sourceId=$(id sources ${sink}_source)
[ -n "$sinkId" ] && [ -n "$sourceId" ] || { echo "pipewire rig: $sink or ${sink}_source not found" >&2; exit 1; }
wpctl set-default "$sinkId" && wpctl set-default "$sourceId" || exit 1
pw-metadata -n settings 0 clock.force-rate $force >/dev/null || exit 1
# Wait until the session manager has taken the choice over.
i=0
while [ $i -lt 50 ]; do
  pw-metadata -n default 0 default.audio.sink 2>/dev/null | grep -q "\"$sink\"" && exit 0
  sleep 0.1
  i=$((i + 1))
done
echo "pipewire rig: the default did not change to $sink" >&2
exit 1
