#!/bin/bash
# Pictures of the program as a user sees it, for the README: a first start and each page,
# on the virtual card, under a virtual X server with a window manager.
#
#   scripts/screenshots.sh [BUILD_DIR] [WIDTHxHEIGHT] [OUT_DIR]
#
# Defaults: build/asan, 1600x1000, docs. Needs Xvfb, xdotool, xwininfo and ImageMagick's
# import (packages xvfb, xdotool, x11-utils, imagemagick); openbox (package openbox) draws
# the window frames when it is installed. The display number is $SCREENSHOT_DISPLAY or :59.
# Not part of the test suite: look at every picture before committing it.
set -euo pipefail

build=${1:-build/asan}
size=${2:-1600x1000}
out=${3:-docs}
display=${SCREENSHOT_DISPLAY:-:59}
program="$build/app/sonvera"
[ -x "$program" ] || { echo "screenshots.sh: no program at $program" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
if command -v openbox >/dev/null; then
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    sleep 1
fi
export QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0

# The client area's top-left corner of the window named exactly $1.
origin() {
    local id
    id=$(xdotool search --name "^$1\$" | head -1)
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}'
}
# Clicks at $2,$3 in the client area of the window named $1.
click() {
    read -r x y < <(origin "$1")
    xdotool mousemove $((x + $2)) $((y + $3)) click 1
    sleep "${4:-1}"
}
shot() {
    xdotool mousemove 0 0
    sleep 0.5
    import -window root "$out/$1"
    echo "$out/$1"
}
start() {
    "$program" --audio virtual --dut "$1" --config "$work/snv13.cfg" >"$work/sonvera.log" 2>&1 &
    pids+=($!)
    sleep 6
}
stop() {
    kill "${pids[-1]}"
    wait "${pids[-1]}" 2>/dev/null || true
    unset 'pids[-1]'
    sleep 1
}

main="Sonvera V 1.3"
# Offsets in the main window's client area (menu bar, then the notebook).
page_tabs=(70 205 330)
tab_y=28

# A first start: no configuration file.
start "hp=200,lp=5000,delay=3"
shot first_start.png
stop

# The pages, with a sweep range the virtual card can play and the phase shown, and the
# analyser on Blackman/Harris, 4096 points, with the THD+N line.
cat >"$work/snv13.cfg" <<'CFG'
[FFT]
WIN=4
SAMPLES=4096
[WOB]
FROM=20
TO=20000
STEPS=40
PHASE=TRUE
PMIN=-180
PMAX=180
PEGDIG=-6
STARTMESS=20
COMMENT=Box 2: hp 200 Hz, lp 5 kHz
[ANALYSE]
THDMESS=TRUE
CFG
start "hp=200,lp=5000,delay=3"
# The generator page: a sweep through the simulated device, with its phase.
click "$main" "${page_tabs[1]}" $tab_y
click "$main" 335 85 25   # the sweep's START, then the whole sweep
shot generator_page.png
# The generator's 1 kHz tone on; on the other pages the generator stands aside.
click Generator 28 50
click "$main" "${page_tabs[2]}" $tab_y 3
shot oscilloscope.png
click "$main" "${page_tabs[0]}" $tab_y
click "$main" 521 76 4    # START
shot mainwindow.png
click "$main" 321 7       # the menu "Einstellungen", then its language flags
click "$main" 341 30
xdotool key Return        # the notice about the help pages
sleep 1
shot mainwindow-en.png
stop
