# Draws the benchmark chart: reliable round trip (p50, tight mode) by packet
# size, and reliable throughput by mode and packet size, one bar per bench.
# Variables (gnuplot -e): rtt_file, tput_file, out_file, heading.
set terminal pngcairo size 1400,600 font "sans,10" noenhanced
set output out_file
set datafile separator "\t"
set datafile missing "?"
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set grid ytics
set key top left
set multiplot layout 1,2 title heading font ",12"
set title "Reliable round trip, p50, tight mode (lower is better)"
set xlabel "packet size"
set ylabel "microseconds (log)"
plot for [column=2:*] rtt_file using column:xtic(1) title columnheader
set title "Reliable one-way throughput (higher is better)"
set xlabel "mode and packet size"
set ylabel "MB/s of payload (log)"
set key top right
plot for [column=2:*] tput_file using column:xtic(1) title columnheader
unset multiplot
