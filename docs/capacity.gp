set terminal svg size 720,420 dynamic font "sans,11"
set output "docs/capacity.svg"
set title "Cores busy at the peak hour, by part, as the load doubles"
set xlabel "queries per second at the peak (4,200 = 50,000 operators at 5 a minute)"
set ylabel "cores busy"
set logscale xy 2
set xrange [3000:80000]
set yrange [0.1:32]
set key top left
set grid
bo = 96.5e-6; nats = 145.6e-6; pg = 101.0e-6
plot bo*x title "back offices (96.5 µs a query)" lw 2, \
     nats*x title "NATS cluster (145.6 µs)" lw 2, \
     pg*x title "PostgreSQL (101.0 µs)" lw 2, \
     2 title "half of 2 x 2-core back offices, or of a 4-core PostgreSQL" dt 2 lc rgb "#1f77b4", \
     3 title "half of 3 x 2-core NATS nodes" dt 2 lc rgb "#ff7f0e"
