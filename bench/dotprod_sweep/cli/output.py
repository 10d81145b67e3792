# SPDX-License-Identifier: MIT
"""Where the sweep's output goes: standard output written whole or the
sweep stopped in one line, a closed pipe ended as a Unix tool ends, the
files asked for written whole or not at all, and closed standard
descriptors held so that no child writes through them."""

import os
import signal
import sys

from ..messages import SweepError
from ..running import safely


def is_open(fd):
    try:
        os.fstat(fd)
        return True
    except OSError:
        return False


def hold_closed_descriptors():
    """A closed standard input or error would be taken by the next file
    opened, and a child would read or write that file through it."""
    for fd in (0, 2):
        if not is_open(fd):
            os.open(os.devnull, os.O_RDWR)


def silence_stdout():
    """Points standard output at /dev/null, so that the interpreter's last
    flush at exit finds nowhere to fail and prints no complaint."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def write_out(data):
    """Prints data, bytes. Output that cannot be written stops the sweep
    with status 1; a closed pipe (BrokenPipeError) is left to the caller."""
    try:
        # os.write, not sys.stdout: unbuffered (PYTHONUNBUFFERED), the
        # latter drops what a short write to a pipe leaves over.
        while data:
            data = data[os.write(sys.stdout.fileno(), data):]
    except BrokenPipeError:
        raise
    except OSError as error:
        silence_stdout()
        raise SweepError(f"cannot write to standard output: {error.strerror}") from None


def end_on_closed_pipe():
    """Ends as a Unix tool does when its reader has gone: quietly, by
    SIGPIPE (status 141 in the shell)."""
    silence_stdout()
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    os.kill(os.getpid(), signal.SIGPIPE)
    return 141


def write_file(destination, data):
    try:
        safely.replace(destination.path, data)
    except OSError as error:
        raise SweepError(f"cannot write {destination.shown}: {error.strerror}") from None
