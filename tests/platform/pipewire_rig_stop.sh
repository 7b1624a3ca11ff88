#!/bin/sh
# Stops what pipewire_rig_start.sh DIR started (by the PIDs it kept) and removes DIR.
set -u
dir=${1:?usage: pipewire_rig_stop.sh DIR}
for name in pipewire-pulse wireplumber pipewire dbus; do
  [ -f "$dir/$name.pid" ] || continue
  pid=$(cat "$dir/$name.pid")
  kill "$pid" 2>/dev/null
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  kill -9 "$pid" 2>/dev/null
  echo "pipewire rig: stopped $name (PID $pid)"
done
rm -rf "$dir"
exit 0
