# SPDX-License-Identifier: GPL-3.0-or-later
# Song-list latency and memory against library size, from pellisor_perf --plot-data; the first list after a start
# and two lists sent together, when the run took them, as points at 100,000 tracks.
#   gnuplot -e "data='FILE'; out='docs/performance.png'" bench/performance.gp
if (!exists("data")) data = 'build-bench/bench-data/plot.dat'
if (!exists("out")) out = 'docs/performance.png'
set terminal pngcairo size 1200,480 font ",11"
set output out
set datafile commentschars "#"
set key top left box opaque
set grid
set xlabel "library size (tracks)"
set format x "%.0s%c"
set xrange [0:105000]
set xtics 0,25000,100000
set multiplot layout 1,2 title "Pellisor /getSongList on a 2-core machine (every playable track listed)"
set title "request sent → last byte received (median)"
set ylabel "milliseconds"
stats data index 0 using 3 nooutput
top = STATS_max > 300 ? STATS_max : 300
stats data index 1 using ($2 > $3 ? $2 : $3) name "POINTS" nooutput
if (exists("POINTS_max") && POINTS_max > top) top = POINTS_max
set yrange [0:top * 1.15]
plot data index 0 using 1:3 with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "/getSongList", \
     data index 0 using 1:4 with linespoints lw 1 pt 6 dt 2 lc rgb "#7f7f7f" title "floor: read file + memchr '<'", \
     data index 1 using 1:2 with points pt 9 ps 1.8 lc rgb "#ff7f0e" title "first list after a start (target 300 ms)", \
     data index 1 using 1:3 with points pt 5 ps 1.5 lc rgb "#9467bd" title "two lists sent together (target 1.5 × one)", \
     200 with lines lw 1 dt 3 lc rgb "#d62728" title "target at 100,000 tracks: 200 ms"
set title "server memory during one song list"
set ylabel "MB"
stats data index 0 using ($2*1.6):6 nooutput
set yrange [0:(STATS_max_x > STATS_max_y ? STATS_max_x : STATS_max_y) * 1.15]
plot data index 0 using 1:6 with linespoints lw 1 pt 6 lc rgb "#2ca02c" title "peak RSS", \
     data index 0 using 1:5 with linespoints lw 1 pt 6 dt 2 lc rgb "#7f7f7f" title "RSS before the request", \
     data index 0 using 1:7 with linespoints lw 2 pt 7 lc rgb "#17becf" title "peak RSS − RSS before", \
     data index 0 using 1:($2*1.6) with lines lw 1 dt 3 lc rgb "#d62728" title "limit: 1.6 × library file"
unset multiplot
