# SPDX-License-Identifier: MIT
"""The plot drawn: gnuplot runs views/plot's script in the temporary folder,
on fixed names there, and the picture is then copied to where the user
asked."""

import os
import shutil

from . import runner
from ..views import plot
from ..messages import SweepError

GNUPLOT_SECONDS = 60


def render(model, folder):
    """The plot as PNG bytes, drawn by gnuplot in folder."""
    gnuplot = shutil.which("gnuplot")
    if not gnuplot:
        raise SweepError("gnuplot not found, no plot drawn")
    for name, text in plot.files(model).items():
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)
    with open(os.path.join(folder, "gnuplot.out"), "w+", errors="replace") as out:
        status, _ = runner.run([gnuplot, "plot.gp"], out, GNUPLOT_SECONDS, "gnuplot",
                               cwd=folder, stderr=out)
        out.seek(0)
        complaint = out.read().strip().splitlines()
    if status != 0:
        raise SweepError(f"gnuplot failed: {complaint[-1] if complaint else status}")
    try:
        with open(os.path.join(folder, "plot.png"), "rb") as f:
            return f.read()
    except OSError:
        raise SweepError("gnuplot drew no picture") from None
