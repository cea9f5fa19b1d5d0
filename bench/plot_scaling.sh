#!/bin/sh
# plot_scaling.sh TABLE SVG: draws safestdlib-scaling's table (lines a
# second against threads, one line a lock) into an SVG file with gnuplot.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: plot_scaling.sh TABLE SVG" >&2
  exit 2
fi
command -v gnuplot >/dev/null || { echo "plot_scaling.sh: needs gnuplot (gnuplot-nox)" >&2; exit 1; }
# The locks and thread counts, in the table's order.
locks=$(awk '!/^#/ && !seen[$2]++ { print $2 }' "$1" | tr '\n' ' ')
threads=$(awk '!/^#/ && !seen[$1]++ { print $1 }' "$1" | paste -sd, -)
gnuplot <<PLOT
\$rows << EOD
$(for lock in $locks; do awk -v lock="$lock" '$2 == lock' "$1"; printf '\n\n'; done)
EOD
set terminal svg size 720,440 dynamic font "sans,12" background "white"
set output "$2"
set title "A log line (localtime, strftime, snprintf) under each lock\n$(sed -n '1s/^# //p' "$1")" noenhanced
set xlabel "threads"
set ylabel "lines a second"
set logscale x 2
set xtics ($threads)
set yrange [0:*]
set format y "%.1s%c"
set key outside right top noenhanced
set grid ytics
plot for [i=1:words("$locks")] \$rows index i-1 using 1:3 with linespoints lw 2 pt 7 \
  title word("$locks", i)
PLOT
