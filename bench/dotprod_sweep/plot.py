# SPDX-License-Identifier: MIT
"""The sweep's plot, drawn by gnuplot if it is installed: ns per term and
peak memory against N for every program, and with candidates their
speedup over dotprod, the median with the min-max spread of the repeats.
A view of the model: every figure comes from it.

No text from the command line or the environment reaches gnuplot as code:
gnuplot runs in the temporary folder and reads and writes only fixed
names there, and the picture is then copied to where the user asked.
Labels (program names, the machine's CPU) are cut down to characters that
cannot end a gnuplot string and are shown without enhanced-text markup."""

import os
import re
import shutil

from . import runner
from .machine import describe, machine
from .messages import SweepError, say
from .model import MIB

GNUPLOT_SECONDS = 60

HEAD = """\
set terminal pngcairo size {width},450
set output 'plot.png'
set multiplot layout 1,{panels} title '{machine}' noenhanced
set logscale x
set format x '10^{{%T}}'
set xlabel 'N'
set offsets graph 0.05, graph 0.05, 0, 0
set grid
set key top left
set title 'Cost per term (median of repeats)'
set ylabel 'ns per term'
{ns_scale}
plot {ns}
set title 'Peak memory of the process'
set ylabel 'MiB'
set logscale y
set format y '%g'
set yrange [*:*]
plot {peak}, \\
     'programs.dat' index 0 using 1:4 with lines dashtype 2 title 'budget: 8·N bytes + 4 MiB'
"""

SPEEDUP = """\
set title 'Speedup over dotprod (median, min-max of repeats)'
set ylabel 'speedup'
set key below
plot {speedup}, 1 with lines dashtype 2 linecolor 'black' title 'dotprod'
"""


def text(label):
    return re.sub(r"[^A-Za-z0-9 .,:()+\-/]", "?", label)


def lines(data, styled, columns, style):
    """One plotted line per data block: styled holds each block's line
    type, so that a program looks the same in every panel, and label."""
    return ", ".join(f"'{data}' index {k} using {columns} with {style} linetype {linetype} "
                     f"title '{text(label)}' noenhanced"
                     for k, (linetype, label) in enumerate(styled))


def write_blocks(path, blocks):
    """Data blocks that gnuplot tells apart by index: two blank lines."""
    with open(path, "w") as f:
        f.write("\n\n".join("".join(" ".join(map(str, row)) + "\n" for row in block)
                            for block in blocks))


def program_rows(model, program):
    return [(s.length, s.ns_per_term, s.peak / MIB, s.budget / MIB) for s in model.of(program)]


def speedup_rows(model, program):
    # None where every printed time was 0.
    return [(s.length, s.speedup, min(s.ratios), max(s.ratios))
            for s in model.of(program) if s.ratios]


def script(model, folder):
    """Writes the data files and returns the script that plots them."""
    programs = model.runs.programs
    write_blocks(os.path.join(folder, "programs.dat"), [program_rows(model, p) for p in programs])
    styled = list(enumerate(programs, start=1))
    speedups = [(t, p, speedup_rows(model, p)) for t, p in styled if p in model.candidates]
    speedups = [(t, p, rows) for t, p, rows in speedups if rows]
    write_blocks(os.path.join(folder, "speedup.dat"), [rows for _, _, rows in speedups])
    head = HEAD.format(
        width=1500 if speedups else 1000, panels=3 if speedups else 2,
        machine=text(describe(machine())),
        # Candidates can be hundreds of times faster than dotprod.
        ns_scale="set logscale y" if len(programs) > 1 else "set yrange [0:*]",
        ns=lines("programs.dat", styled, "1:2", "linespoints"),
        peak=lines("programs.dat", styled, "1:3", "linespoints"))
    if speedups:
        head += SPEEDUP.format(speedup=lines("speedup.dat", [(t, p) for t, p, _ in speedups],
                                             "1:2:3:4", "yerrorlines"))
    return head + "unset multiplot\n"


def plot(model, png, folder):
    gnuplot = shutil.which("gnuplot")
    if not gnuplot:
        say("gnuplot not found, no plot drawn")
        return
    with open(os.path.join(folder, "plot.gp"), "w") as f:
        f.write(script(model, folder))
    with open(os.path.join(folder, "gnuplot.out"), "w+", errors="replace") as out:
        status, _ = runner.run([gnuplot, "plot.gp"], out, GNUPLOT_SECONDS, "gnuplot",
                               cwd=folder, stderr=out)
        out.seek(0)
        complaint = out.read().strip().splitlines()
    if status != 0:
        raise SweepError(f"gnuplot failed: {complaint[-1] if complaint else status}")
    if not os.path.isfile(os.path.join(folder, "plot.png")):
        raise SweepError("gnuplot drew no picture")
    try:
        shutil.copyfile(os.path.join(folder, "plot.png"), png.path)
    except OSError as error:
        raise SweepError(f"cannot write the plot to {png.shown}: {error.strerror}") from None
