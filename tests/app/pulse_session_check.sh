#!/bin/sh
# The program on the PulseAudio rig leaves the sound server's volumes alone: the sink's
# (the output of every application) and its monitor source's are the same before, during
# and after a session that is closed, ended by SIGTERM or killed. Exit 77: rig not up.
# Usage: pulse_session_check.sh SONVERA RIGDIR
set -u
sonvera=$1
[ -f "$2/up" ] && command -v pactl >/dev/null || { echo "the PulseAudio rig is not up: skipped"; exit 77; }
work=$(mktemp -d)
percent() { sed -n 's/^[^/]*\/ *\([0-9]*%\).*/\1/p' | head -n 1; }
sink0=$(pactl get-sink-volume sonvera_test | percent)
source0=$(pactl get-source-volume sonvera_test.monitor | percent)
# The other rig tests measure through the sink: its volume goes back as it was.
trap 'pactl set-sink-volume sonvera_test "$sink0"; pactl set-source-volume sonvera_test.monitor "$source0"; rm -rf "$work"' EXIT
pactl set-sink-volume sonvera_test 83% && pactl set-source-volume sonvera_test.monitor 71% || exit 1
volumes() { pactl get-sink-volume sonvera_test | head -n 1; pactl get-source-volume sonvera_test.monitor | head -n 1; }
before=$(volumes)
echo "before: $before"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { [ "$(volumes)" = "$before" ] || fail "$1: $(volumes)"; }
saved() { grep -q '^\[MAIN\]' "$work/snv13.cfg" 2>/dev/null || fail "$1: no configuration saved"; }

export QT_QPA_PLATFORM=offscreen
# Closed: --startup-probe quits after the first paint of the main window.
"$sonvera" --audio portaudio --config "$work/snv13.cfg" --startup-probe >"$work/out" 2>&1
check "after a start and close"
saved close
for signal in TERM KILL; do
  rm -f "$work/snv13.cfg"
  known=$(pactl list short clients | wc -l)
  "$sonvera" --audio portaudio --config "$work/snv13.cfg" >"$work/out" 2>&1 &
  pid=$!
  # Up once it has connected to the sound server (its mixer stays open); then a second.
  i=0
  while [ "$(pactl list short clients | wc -l)" -le "$known" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
  sleep 1
  check "during the session"
  kill -$signal $pid
  wait $pid
  status=$?
  check "after SIG$signal"
  if [ $signal = TERM ]; then
    # Ended in order (settings saved), then the signal passed on.
    [ $status -eq 143 ] || fail "SIGTERM gave exit status $status"
    saved SIGTERM
  fi
done
echo "after:  $(volumes)"
[ $failures -eq 0 ] || { tail -n 20 "$work/out"; exit 1; }
