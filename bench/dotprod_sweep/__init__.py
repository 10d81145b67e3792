# SPDX-License-Identifier: MIT
"""The sweep: runs dotprod and users' versions of it over a range of
lengths, and reports how fast each is and whether its result is right.

Its subpackages are its layers, lowest first (LAYERS): facts, what the
runs were and printed; figures, every number computed from them once;
views, each a function of the model that returns text; report, the HTML
and Markdown pages with their charts; running, all that starts a
process, handles a signal or reads the machine; cli, the command line.
A module imports only from its own layer and those before it; messages,
the one line on standard error, stands below them all, and main, which
ties them from the command line to the exit status, above. Each
subpackage's own docstring says what it holds (docs/contributing.md maps
them)."""

# The project's version; the build checks that it matches.
__version__ = "1.10.1"
# The layers, lowest first.
LAYERS = ("facts", "figures", "views", "report", "running", "cli")
