# SPDX-License-Identifier: MIT
"""The sweep: runs dotprod and users' versions of it over a range of
lengths, and reports how fast each is and whether its result is right.

Data flows one way (docs/contributing.md maps it): the command line
becomes a frozen Config (config, values, commands, files); plan says what
runs next; measure makes the runs, each one process (runner) with the
sweep-wide state a signal must find in session, an MPI run's ranks in
ranks; the runs are raw facts (runs, printed), saved and loaded back by
saved; the model computes every figure once (model, summaries, flags,
ceilings, evidence, verdict, stats, launchers, comparison, history,
changepoints); words makes the lines a person reads; the views show them
(table and columns, document, plot and drawing, comparison_view, report
with svg, charts and report_blocks). main ties them."""

# The project's version; the build checks that it matches.
__version__ = "1.6.2"
