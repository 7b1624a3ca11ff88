#!/bin/sh
# The program on the PulseAudio rig leaves the sound server's volumes alone: the sink's
# (the desktop's output for every application) and the source's (its recording chain)
# are the same before, during and after a session, whether the session is closed, ended
# by SIGTERM or killed outright. Run by ctest with the fixture pulse_rig; exits 77
# (skipped) when the rig is not up.
# Usage: pulse_session_check.sh SONVERA RIGDIR
set -u
sonvera=${1:?usage: pulse_session_check.sh SONVERA RIGDIR}
rig=${2:?usage: pulse_session_check.sh SONVERA RIGDIR}
if [ ! -f "$rig/up" ] || ! command -v pactl >/dev/null 2>&1; then
  echo "the PulseAudio rig is not up (or pactl is missing): skipped"
  exit 77
fi
work=$(mktemp -d)
percent() { sed -n 's/^[^/]*\/ *\([0-9]*%\).*/\1/p' | head -n 1; }
sink0=$(pactl get-sink-volume sonvera_test | percent)
source0=$(pactl get-source-volume sonvera_test.monitor | percent)
# The other rig tests measure through the sink: its volume goes back as it was.
trap 'pactl set-sink-volume sonvera_test "$sink0"; pactl set-source-volume sonvera_test.monitor "$source0"; rm -rf "$work"' EXIT

# Values no program would choose, so any write shows.
pactl set-sink-volume sonvera_test 83% || exit 1
pactl set-source-volume sonvera_test.monitor 71% || exit 1
volumes() {
  pactl get-sink-volume sonvera_test | head -n 1
  pactl get-source-volume sonvera_test.monitor | head -n 1
}
clients() { pactl list short clients | wc -l; }
before=$(volumes)
echo "before: $before"
failures=0
check() {  # what, volumes now
  if [ "$2" != "$before" ]; then
    echo "FAIL ($1): $2"
    failures=$((failures + 1))
  fi
}

export QT_QPA_PLATFORM=offscreen
for how in close term kill; do
  rm -f "$work/snv13.cfg"
  known=$(clients)
  if [ "$how" = close ]; then
    # Quits by itself after the first paint of the main window: a normal close.
    "$sonvera" --audio portaudio --config "$work/snv13.cfg" --startup-probe >"$work/out" 2>&1
    check "after a start and close" "$(volumes)"
    grep -q '^\[MAIN\]' "$work/snv13.cfg" 2>/dev/null || { echo "FAIL: no configuration saved"; failures=$((failures + 1)); }
    continue
  fi
  "$sonvera" --audio portaudio --config "$work/snv13.cfg" >"$work/out" 2>&1 &
  pid=$!
  # The program is up once it has connected to the sound server (its mixer stays open).
  i=0
  while [ "$(clients)" -le "$known" ] && [ $i -lt 300 ] && kill -0 $pid 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
  done
  sleep 1
  check "during the session ($how)" "$(volumes)"
  if [ "$how" = term ]; then
    kill -TERM $pid
  else
    kill -KILL $pid
  fi
  wait $pid
  status=$?
  check "after $how" "$(volumes)"
  if [ "$how" = term ]; then
    # Ended in order: the settings were saved, then the signal was passed on.
    [ $status -eq 143 ] || { echo "FAIL: SIGTERM gave exit status $status"; failures=$((failures + 1)); }
    grep -q '^\[MAIN\]' "$work/snv13.cfg" 2>/dev/null || { echo "FAIL: SIGTERM saved no configuration"; failures=$((failures + 1)); }
  fi
done
echo "after:  $(volumes)"
[ $failures -eq 0 ] || { tail -n 20 "$work/out"; exit 1; }
echo "the sound server's volumes stayed as they were"
