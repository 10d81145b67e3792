# SPDX-License-Identifier: MIT
"""Figures: pure functions from the facts to every number a view shows,
computed once. One row per program and length (summaries), the whole
model (model), its flags, ceilings and statistics (flags, load,
ceilings, stats, shift_interval), the verdict on a result and its rules
(verdict, evidence), and across saved runs the comparison and the
history with its change points (comparison, history, changepoints).
No words, no processes, no files: imports only facts and messages."""
