#!/usr/bin/env bash
# echogram.sh: draws the pictures the README shows, from the program itself.
#
#   tools/echogram.sh [build-dir]        (default: build)
#
#   docs/echogram.png    the 90 reflection taps: delay in ms against level in dB, sign by colour and
#                        marker, from the table the filter is compiled with (build/dump_taps)
#   docs/demo-click.png  the left channel of the demo clip around its click at 2.0 s, before and after
#                        a run of build/varno with gain 0.8
#
# Needs gnuplot; on Debian it installs gnuplot-nox when it is missing. Samples are read with od, so
# nothing else is needed beyond the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if ! command -v gnuplot >/dev/null 2>&1; then
    echo "echogram.sh: installing gnuplot-nox" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gnuplot-nox
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dump_taps varno make_demo >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p docs

# --- Echogram ------------------------------------------------------------------------------------------
"$build/dump_taps" >"$work/taps.dat"

# Columns of taps.dat: tap, delay samples, delay ms, level dB, sign, coefficient. Each tap is a stem
# from the floor to its level; the late train lies about 100 dB below the early taps, so the top panel
# enlarges the first 15 ms where the 14 early reflections are.
gnuplot <<GNUPLOT
set terminal pngcairo size 1000,760 font "DejaVu Sans,11"
set output "docs/echogram.png"
floor = -165
set multiplot layout 2,1 title "VARNO theatre reflections: the 90 taps of the filter (44.1 kHz)" font ",13"
set grid ytics lc rgb "#dddddd"
set ylabel "level (dB, 20 log10 |c|)"
set yrange [floor:5]
set ytics 20
pos(s, v) = (s > 0 ? v : 1/0)
neg(s, v) = (s < 0 ? v : 1/0)

set title "Early reflections (taps 0-13) and the start of the late train"
set key bottom left box opaque title "coefficient"
set xrange [0:16]
set xtics 1
set xlabel "delay (ms)"
plot "$work/taps.dat" using (pos(\$5,\$3)):(floor):(0):(\$4-floor) with vectors nohead lw 2 lc rgb "#c0392b" notitle, \
     "" using (neg(\$5,\$3)):(floor):(0):(\$4-floor) with vectors nohead lw 2 lc rgb "#2471a3" notitle, \
     "" using (pos(\$5,\$3)):4 with points pt 9 ps 1.6 lc rgb "#c0392b" title "positive", \
     "" using (neg(\$5,\$3)):4 with points pt 11 ps 1.6 lc rgb "#2471a3" title "negative"

set title "All taps: the late train every 119 samples (2.7 ms), 600 to 9525 samples back"
set key top right box opaque title "coefficient"
set xrange [0:220]
set xtics 20
plot "$work/taps.dat" using (pos(\$5,\$3)):(floor):(0):(\$4-floor) with vectors nohead lw 1.5 lc rgb "#c0392b" notitle, \
     "" using (neg(\$5,\$3)):(floor):(0):(\$4-floor) with vectors nohead lw 1.5 lc rgb "#2471a3" notitle, \
     "" using (pos(\$5,\$3)):4 with points pt 9 ps 1.2 lc rgb "#c0392b" title "positive", \
     "" using (neg(\$5,\$3)):4 with points pt 11 ps 1.2 lc rgb "#2471a3" title "negative"
unset multiplot
GNUPLOT

# --- Demo click before and after -------------------------------------------------------------------------
"$build/make_demo" "$work/demo.wav" 4
"$build/varno" "$work/demo.wav" "$work/theatre.wav" 0.8 >/dev/null

# Left samples from 2 ms before the click at frame 88200 to 18 ms after it, as "ms value" rows.
first=$((88200 - 88))
count=$((88 + 794))
left_channel() {
    od -An -v -t d2 -w4 -j $((44 + first * 4)) -N $((count * 4)) "$1" |
        awk -v first="$first" '{ printf "%.4f %.6f\n", (first + NR - 1 - 88200) / 44.1, $1 / 32768 }'
}
left_channel "$work/demo.wav" >"$work/before.dat"
left_channel "$work/theatre.wav" >"$work/after.dat"

gnuplot <<GNUPLOT
set terminal pngcairo size 1000,600 font "DejaVu Sans,11"
set output "docs/demo-click.png"
set multiplot layout 2,1 title "Demo clip, left channel around the click at 2.0 s: before and after varno (gain 0.8)" font ",13"
set xrange [-2:18]
set yrange [-1.05:1.05]
set ytics 0.5
set grid lc rgb "#dddddd"
set ylabel "sample value"
set title "Input: the dry click and a plucked tone"
plot "$work/before.dat" using 1:2 with lines lw 1.2 lc rgb "#555555" notitle
set title "Output: the early reflections follow the click from 4.2 ms to 13.3 ms"
set xlabel "time after the click (ms)"
plot "$work/after.dat" using 1:2 with lines lw 1.2 lc rgb "#7d3c98" notitle
unset multiplot
GNUPLOT

echo "wrote docs/echogram.png docs/demo-click.png"
