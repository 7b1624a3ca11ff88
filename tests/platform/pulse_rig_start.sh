#!/bin/sh
# Starts the real-device test rig: a private PulseAudio daemon with a null sink
# "sonvera_test", whose monitor source records what the sink plays.
# Usage: pulse_rig_start.sh DIR   (DIR is created; the daemon's HOME, runtime folder,
# log and PID live there). Without pulseaudio it does nothing and the rig tests skip.
set -u
dir=${1:?usage: pulse_rig_start.sh DIR}

if [ -f "$dir/pulse.pid" ]; then
  kill "$(cat "$dir/pulse.pid")" 2>/dev/null
fi
rm -rf "$dir"
mkdir -p "$dir/home" "$dir/run"
chmod 700 "$dir/run"

if ! command -v pulseaudio >/dev/null 2>&1; then
  echo "pulse rig: pulseaudio is not installed; the rig tests will be skipped"
  exit 0
fi

# ALSA's "default" device goes to this daemon even where the distribution's hook that
# does so when a daemon runs is missing.
cat > "$dir/home/.asoundrc" <<'ASOUND'
pcm.!default { type pulse }
ctl.!default { type pulse }
ASOUND

HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" pulseaudio -D --exit-idle-time=-1 --system=false -n \
  --load="module-null-sink sink_name=sonvera_test" --load=module-native-protocol-unix \
  --log-target="file:$dir/pulse.log"
status=$?
if [ $status -ne 0 ]; then
  echo "pulse rig: pulseaudio failed to start (exit $status); the rig tests will be skipped"
  cat "$dir/pulse.log" 2>/dev/null | tail -n 20
  exit 0
fi

# Wait (at most 10 s) for the socket and the PID file.
i=0
while [ $i -lt 100 ]; do
  if [ -S "$dir/run/pulse/native" ] && [ -s "$dir/run/pulse/pid" ]; then
    cp "$dir/run/pulse/pid" "$dir/pulse.pid"
    touch "$dir/up"
    echo "pulse rig: up, PID $(cat "$dir/pulse.pid"), socket $dir/run/pulse/native"
    exit 0
  fi
  sleep 0.1
  i=$((i + 1))
done
echo "pulse rig: the daemon did not come up; the rig tests will be skipped"
tail -n 20 "$dir/pulse.log" 2>/dev/null
exit 0
