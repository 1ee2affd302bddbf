# Load times per corpus from the benchmark's results.tsv, as a PNG:
#   gnuplot -e "in='results.tsv'; out='load.png'" bench/plot.gp
set terminal pngcairo size 1000,520 font ",10"
set output out
set datafile separator "\t"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set ylabel "load time, ms (least of 7 fresh processes)"
set title "Loading a file into an ordered document (inih cannot read the one-value corpora)"
set key top left
set grid ytics
set yrange [0:*]
set xtics rotate by -20
# A time of -1 means the reader could not read the file: drawn as nothing.
ms(c) = column(c) < 0 ? NaN : column(c)
plot in every ::1 using (ms(2)):xtic(1) title "this library", '' every ::1 using (ms(3)) title "document floor", \
     '' every ::1 using (ms(6)) title "model floor (+ record and 10 slots per section)", \
     '' every ::1 using (ms(4)) title "inih (ordered document)", '' every ::1 using (ms(5)) title "SimpleIni"
