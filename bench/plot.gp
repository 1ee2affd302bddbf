# Load times per corpus from results.tsv, as a PNG: gnuplot -e "in='...';out='...'" plot.gp
set terminal pngcairo size 1000,520 font ",10"
set output out
set datafile separator "\t"
set datafile missing "-1.00"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "load time, ms (median of 5)"
set title "Loading a file into an ordered document"
set key top left
set grid ytics
set xtics rotate by -20
plot in using 2:xtic(1) title "this library", '' using 3 title "document floor", \
     '' using 4 title "inih (ordered document)", '' using 5 title "SimpleIni"
