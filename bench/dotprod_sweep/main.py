# SPDX-License-Identifier: MIT
"""The sweep from its command line to its exit status."""

import os
import signal
import sys

from . import config, document, machine, measure, model, plot, runner, table
from .messages import SweepError, progress, say


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


def write_out(text):
    """Prints text. Output that cannot be written stops the sweep with
    status 1; a closed pipe (BrokenPipeError) is left to the caller."""
    data = (text + "\n").encode()
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


def report(cfg, figures, folder):
    """Writes what was measured; the status: 1 if a candidate is wrong or
    impossibly fast, or a run failed."""
    write_out(table.report(figures, figures.runs.machine))
    for line in figures.wrong:
        say(line)
    for s in figures.impossible:
        say(f"{s.program} claims an impossible time at N={s.length}: {s.gbs:.3g} GB/s, "
            f"more than {model.IMPOSSIBLE:g} times the {s.ceiling_gbs:.3g} GB/s this machine "
            f"reads at best")
    if cfg.json is not None:
        document.write_json(cfg.json, figures, cfg)
    if cfg.plot is not None:
        plot.plot(figures, cfg.plot, folder)
    return figures.status()


def main(argv, programs):
    runner.handle_signals()
    if not is_open(1):
        say("standard output is closed")
        return 1
    hold_closed_descriptors()
    cfg = config.parse(argv, programs)
    try:
        with runner.temporary_folder() as folder:
            box = machine.machine()
            runs = measure.sweep(cfg, folder, box)
            box["load_end"] = machine.load()
            return report(cfg, model.model(runs), folder)
    except SweepError as error:
        progress("")
        say(error)
        return 1
    except BrokenPipeError:
        return end_on_closed_pipe()


def entry(programs):
    """The launcher's whole work: the status to exit with. programs is the
    folder where dotprod and its companions are found by default."""
    try:
        return main(sys.argv[1:], programs)
    except KeyboardInterrupt:  # before the signal handlers were in place
        return 128 + signal.SIGINT
    except Exception as error:  # a fault of the sweep's own: still one line
        say(f"unexpected {type(error).__name__}: {error}")
        return 1
