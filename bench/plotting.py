"""The sweep's plot, drawn by gnuplot if it is installed.

No text from the command line or the environment reaches gnuplot as code:
gnuplot runs in the temporary folder and reads and writes only fixed
names there; the picture is then copied to where the user asked."""

import os
import shutil
import statistics

import running
from messages import SweepError, say

MIB = 1024 * 1024
GNUPLOT_SECONDS = 60

SCRIPT = """\
set terminal pngcairo size 1000,450
set output 'plot.png'
set multiplot layout 1,2
set logscale x
set format x '10^{%T}'
set xlabel 'N'
set grid
set title 'Cost per term (median of repeats)'
set ylabel 'ns per term'
set yrange [0:*]
plot 'plot.dat' using 1:2 with linespoints notitle
set title 'Peak memory of the process'
set ylabel 'MiB'
set logscale y
set format y '%g'
set yrange [*:*]
set key top left
plot 'plot.dat' using 1:3 with linespoints title 'peak', \\
     'plot.dat' using 1:4 with lines dashtype 2 title 'budget: 8·N bytes + 4 MiB'
unset multiplot
"""


def write_data(series, folder):
    with open(os.path.join(folder, "plot.dat"), "w") as f:
        for n, runs in series.items():
            median = statistics.median(run.seconds for run in runs)
            peak = max(run.peak for run in runs)
            f.write(f"{n} {median / n * 1e9} {peak / MIB} {8 * n / MIB + 4}\n")


def plot(series, png, folder):
    gnuplot = shutil.which("gnuplot")
    if not gnuplot:
        say("gnuplot not found, no plot drawn")
        return
    write_data(series, folder)
    with open(os.path.join(folder, "plot.gp"), "w") as f:
        f.write(SCRIPT)
    with open(os.path.join(folder, "gnuplot.out"), "w+") as out:
        status, _ = running.run([gnuplot, "plot.gp"], out, GNUPLOT_SECONDS, "gnuplot",
                                cwd=folder, stderr=out)
        out.seek(0)
        complaint = out.read().strip().splitlines()
    if status != 0:
        raise SweepError(f"gnuplot failed: {complaint[-1] if complaint else status}")
    try:
        shutil.copyfile(os.path.join(folder, "plot.png"), png.path)
    except OSError as error:
        raise SweepError(f"cannot write the plot to {png.shown}: {error.strerror}") from None
