#!/bin/sh
# Stops the daemon started by pulse_rig_start.sh DIR (by its PID) and removes DIR.
set -u
dir=${1:?usage: pulse_rig_stop.sh DIR}
if [ -f "$dir/pulse.pid" ]; then
  pid=$(cat "$dir/pulse.pid")
  kill "$pid" 2>/dev/null
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  kill -9 "$pid" 2>/dev/null
  echo "pulse rig: stopped PID $pid"
fi
rm -rf "$dir"
exit 0
