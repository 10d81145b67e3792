# SPDX-License-Identifier: MIT
"""The sweep: runs dotprod and users' versions of it over a range of
lengths, and reports how fast each is and whether its result is right.

Data flows one way: the command line becomes a frozen Config (config);
the runs are made in a planned order (measure), each one process under a
time limit (runner) whose output is read (output); the model computes
every figure once from the runs (model, with the rule in verdict); the
table, the JSON and the plot are views of the model (table, document,
plot)."""

# The project's version; the build checks that it matches.
__version__ = "1.4.0"
