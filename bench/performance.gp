# Song-list latency and peak memory against library size, from pellisor_perf --plot-data.
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
stats data using 3 nooutput
set yrange [0:(STATS_max > 300 ? STATS_max : 300) * 1.15]
plot data using 1:3 with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "/getSongList", \
     data using 1:4 with linespoints lw 1 pt 6 dt 2 lc rgb "#7f7f7f" title "floor: read file + memchr '<'", \
     300 with lines lw 1 dt 3 lc rgb "#d62728" title "target at 100,000 tracks: 300 ms"
set title "server memory during one song list"
set ylabel "MB"
stats data using ($2*2) nooutput
set yrange [0:STATS_max * 1.15]
plot data using 1:6 with linespoints lw 2 pt 7 lc rgb "#2ca02c" title "peak RSS", \
     data using 1:5 with linespoints lw 1 pt 6 dt 2 lc rgb "#7f7f7f" title "RSS before the request", \
     data using 1:($2*2) with lines lw 1 dt 3 lc rgb "#d62728" title "limit: 2 × library file"
unset multiplot
