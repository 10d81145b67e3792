# SPDX-License-Identifier: MIT
"""What the sweep tells its user on standard error, and the error that
stops it."""

import os
import sys

_name = ["sweep"]  # what the sweep calls itself: the name it was run as


def call_me(argv0):
    _name[0] = os.path.basename(argv0) or "sweep"


class SweepError(Exception):
    """A run that failed or disagrees, or output that cannot be written:
    the sweep stops with one line and status 1."""


class UsageError(Exception):
    """A bad command line: one line, status 2, and nothing run."""


# The most of any text put on one line, past any name, command or reason
# the sweep writes: a 200 MB CPU name in a saved file is cut, not printed.
TEXT_MOST = 4096


def one_line(text):
    """Text fit for one line: a name may hold a newline, or `##[`, which a
    CI runner takes for a command anywhere in a line it logs."""
    text = str(text)
    if len(text) > TEXT_MOST:
        text = text[:TEXT_MOST - 1] + "…"
    return "".join(c if c.isprintable() else "?" for c in text).replace("##[", "#?[")


def say(text):
    """One line on standard error. A standard error that cannot be
    written has no better place to complain to, so it is let be."""
    try:
        sys.stderr.write(f"{_name[0]}: {one_line(text)}\n")
        sys.stderr.flush()
    except (AttributeError, OSError, ValueError):
        pass


_shown = [0]  # the lines of provisional answers on the terminal now


def provisional(lines):
    """Answers so far, each marked, on a terminal only, in place of those
    shown before; none erases them, before the final ones are printed."""
    try:
        if not sys.stderr.isatty():
            return
        erase = f"\r\033[K\033[{_shown[0]}A\033[J" if _shown[0] else "\r\033[K"
        sys.stderr.write(erase + "".join(f"provisional: {one_line(line)}\n" for line in lines))
        sys.stderr.flush()
        _shown[0] = len(lines)
    except (AttributeError, OSError, ValueError):
        pass


def terminal():
    """Whether standard error is a terminal, where progress is shown."""
    try:
        return sys.stderr.isatty()
    except (AttributeError, OSError, ValueError):
        return False


def progress(text):
    """A status line that overwrites itself, on a terminal only."""
    try:
        if sys.stderr.isatty():
            sys.stderr.write(f"\r\033[K{one_line(text)}")
            sys.stderr.flush()
    except (AttributeError, OSError, ValueError):
        pass
