# SPDX-License-Identifier: MIT
"""Running: everything that starts a process, handles a signal or reads
the machine. What runs next (plan), the runs in that order (rounds) and
the checks on what they printed (checks), the warnings before the first
run (warnings), one process with its group, limits and memory (runner),
the sweep-wide state a signal must find (session), an MPI run's ranks
(mpi_ranks), the machine (machine), a file written whole or not at all
(safely) and gnuplot (drawing). A run that fails, fails alone."""
