# SPDX-License-Identifier: MIT
"""What the sweep tells its user on standard error, and the error that
stops it."""

import sys


class SweepError(Exception):
    """A run that failed or disagrees, or output that cannot be written:
    the sweep stops with one line and status 1."""


def say(text):
    """One line on standard error. A standard error that cannot be
    written has no better place to complain to, so it is let be."""
    try:
        sys.stderr.write(f"sweep: {text}\n")
        sys.stderr.flush()
    except (AttributeError, OSError, ValueError):
        pass


def progress(text):
    """A status line that overwrites itself, on a terminal only."""
    try:
        if sys.stderr.isatty():
            sys.stderr.write(f"\r\033[K{text}")
            sys.stderr.flush()
    except (AttributeError, OSError, ValueError):
        pass
