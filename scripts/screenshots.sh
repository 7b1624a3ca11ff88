#!/bin/bash
# Pictures of the program as a user sees it, for the README: a first start and each page,
# on the virtual card, under a virtual X server with a window manager.
#
#   scripts/screenshots.sh [BUILD_DIR] [WIDTHxHEIGHT] [OUT_DIR] [all|pages|compare]
#
# Defaults: build/asan, 1600x1000, docs, all ("pages": the first start and the pages;
# "distortion": the distortion analyser in both languages;
# "compare": overlays, markers, their difference and its print, the log sweep's impulse response). Needs Xvfb, xdotool, xwininfo and ImageMagick's
# import (packages xvfb, xdotool, x11-utils, imagemagick); openbox (package openbox) draws
# the window frames when it is installed. The display number is $SCREENSHOT_DISPLAY or :59.
# Not part of the test suite: look at every picture before committing it.
set -euo pipefail

build=${1:-build/asan}
size=${2:-1600x1000}
out=${3:-docs}
sections=${4:-all}
display=${SCREENSHOT_DISPLAY:-:59}
program="$build/app/sonvera"
[ -x "$program" ] || { echo "screenshots.sh: no program at $program" >&2; exit 1; }
program=$(realpath "$program")
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
    # In the scratch folder, where a print to a file lands.
    (cd "$work" && HOME="$work" exec "$program" --audio virtual --dut "$1" --config "$work/snv13.cfg") \
        >"$work/sonvera.log" 2>&1 &
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

want() { [ "$sections" = all ] || [ "$sections" = "$1" ]; }
# Brings the window named $1 to the front and types $2 and Return into it.
# (A file dialog's completer may take the first Return: then a second one.)
answer() {
    xdotool search --sync --onlyvisible --name "^$1\$" windowactivate --sync >/dev/null 2>&1 || true
    sleep 0.5
    [ -z "$2" ] || xdotool type --delay 20 "$2"
    sleep 0.5
    xdotool key Return
    sleep 1
    if xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; then
        xdotool key Return
    fi
    sleep "${3:-2}"
}


if want pages; then
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
fi

if want distortion; then
# The distortion analyser on the analyser's run: Rife-Vinc3, 65536 points, the band
# 20 Hz..20 kHz, 48 kHz, 24 bits, the output at full volume; the right channel passes a
# device with 0.1 % second and 0.05 % third harmonic over -120 dBFS noise, the left is
# the card's own loop.
rm -f "$work/snv13.cfg"
cat >"$work/snv13.cfg" <<'CFG'
[FFT]
WIN=8
SAMPLES=65536
[ANALYSE]
FVON=20
FBIS=20000
[VOLUME]
FGVOLUME=100
[SDSOUND]
Sonvera_Loopbackdb=32
Sonvera_Loopbacksf=48000
CFG
start "h2=0.001,h3=0.0005,noise=-120"
click "$main" 521 202     # "Klirranalysator ..."
click Klirranalysator 50 507 10   # its START, then a few results
import -window "$(xdotool search --name "^Klirranalysator\$" | head -1)" "$out/distortion.png"
echo "$out/distortion.png"
click "$main" 321 7       # the menu "Einstellungen", then its language flags
click "$main" 341 30
xdotool key Return        # the notice about the help pages
sleep 2
import -window "$(xdotool search --name "^Distortion analyser\$" | head -1)" "$out/distortion-en.png"
echo "$out/distortion-en.png"
stop
fi

if want compare; then
# Two sweeps kept as overlays (the second after a restart: they persist), a third loaded
# from a table of sonvera-cli, the difference to the first; printed to PDF.
diagram="Sonvera V 1.3 "
cli="$build/app/sonvera-cli"
rm -f "$work/snv13.cfg"
cat >"$work/snv13.cfg" <<'CFG'
[WOB]
FROM=20
TO=20000
STEPS=60
PHASE=FALSE
PEGDIG=-6
DIAYMIN=-45
DIAYMAX=5
STARTMESS=20
COMMENT=Box A
CFG
# The diagram's menu "Vergleich": its button left of the title; $1 items down, Return.
compare() {
    local id
    id=$(xdotool search --name "^$diagram\$" | head -1)
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
    read -r x y < <(origin "$diagram")
    width=$(xwininfo -id "$id" | awk '/Width/ {print $2}')
    xdotool mousemove $((x + width - 135)) $((y + 14)) click 1
    sleep 1
    for _ in $(seq "$1"); do xdotool key Down; done
    xdotool key Return
    sleep "${2:-1}"
}
sweep_and_keep() {
    start "$1"
    click "$main" "${page_tabs[1]}" $tab_y
    click "$main" 335 85 25   # the sweep's START, then the whole sweep
    compare 1                 # "Kurven behalten"
    stop
}
sweep_and_keep "hp=200,lp=5000"
sed -i '/^\[WOB\]/,/^\[/ s/^COMMENT=.*/COMMENT=Box B/' "$work/snv13.cfg"
sweep_and_keep "hp=80,lp=9000"
"$cli" --config "$work/snv13.cfg" --audio virtual --dut "hp=40,lp=15000" sweep --steps 60 --level -6 \
    --out "$work/Box C.txt" >/dev/null 2>&1
start "hp=200,lp=5000"
click "$main" "${page_tabs[1]}" $tab_y
compare 2 2                   # "Tabelle laden ..."
answer "Tabelle als Überlagerung laden" "$work/Box C.txt"
xdotool key Escape            # the file name's completion, should it stay open
sleep 1
# Markers: the peak of the first curve, then two clicks on the curves (A, B and their
# difference).
compare 6                     # "Spitze markieren"
read -r x y < <(origin "$diagram")
width=$(xwininfo -id "$(xdotool search --name "^$diagram\$" | head -1)" | awk '/Width/ {print $2}')
xdotool mousemove $((x + width * 3 / 10)) $((y + 200)) click 1
sleep 1
xdotool mousemove $((x + width * 8 / 10)) $((y + 300)) click 1
sleep 1
import -window "$(xdotool search --name "^$diagram\$" | head -1)" "$out/markers.png"
echo "$out/markers.png"
compare 7                     # "Marker löschen"
compare 4 2                   # "Differenz zur Referenz"
import -window "$(xdotool search --name "^$diagram\$" | head -1)" "$out/overlays.png"
echo "$out/overlays.png"
# Printed: "&Datei", "&Drucken", the print dialog's file (PDF) as it proposes it.
click "$main" 20 7
xdotool key d
sleep 2
answer Print "" 5
pdf=$(ls "$work"/*.pdf 2>/dev/null | head -1)
if [ -n "$pdf" ]; then
    pdftoppm -r 80 -f 1 -l 1 -png "$pdf" "$work/page"
    convert "$work"/page*.png -gravity north -crop 100%x52%+0+0 +repage "$out/overlays-print.png"
    echo "$out/overlays-print.png"
fi
# The log sweep's impulse response with its window.
click "$main" 374 245 2       # "Log-Sweep ..."
click "Log-Sweep" 62 199 8    # START, then the whole sweep
click "Log-Sweep" 294 163 2   # "Impulsantwort"
import -window "$(xdotool search --name "^Impulsantwort\$" | head -1)" "$out/impulse.png"
echo "$out/impulse.png"
stop
for box in "a hp=200,lp=5000" "b hp=80,lp=9000"; do
    set -- $box
    "$cli" --config "$work/snv13.cfg" --audio virtual --dut "$2" sweep --steps 60 --level -6 \
        --out "$work/box-$1.txt" >/dev/null 2>&1
done
"$cli" plot "$work/box-a.txt" "$work/box-b.txt" --diff --smooth 1/3 --legend "Box A,Box B" \
    --png "$out/plot_diff.png" >/dev/null 2>&1
echo "$out/plot_diff.png"
fi
