# SPDX-License-Identifier: MIT
"""The sweep from its command line to its exit status."""

import dataclasses
import os
import signal
import sys

from .cli import config
from .cli.output import (end_on_closed_pipe, hold_closed_descriptors, is_open, write_file,
                         write_out)
from .facts import saved
from .figures import model
from .report import pages, two_runs
from .running import drawing, machine, rounds, session
from .views import columns, comparison, document, exports, prose, table
from .messages import SweepError, call_me, progress, say


def write_files(model, asked, folder):
    """Whether every file asked for (asked: .json, .plot and .csv, each a
    OutputFile or None) was written; each that was not is said in one
    line, and the others are written all the same."""
    written = True
    views = [(asked.json, lambda: document.render(model)),
             (asked.csv, lambda: columns.csv_text(model)),
             (asked.plot, lambda: drawing.render(model, folder))]
    for destination, render in views:
        if destination is None:
            continue
        try:
            write_file(destination, render())
        except SweepError as error:
            say(error)
            written = False
    return written


def write_views(model, asked, folder):
    """Writes the files first, then the lines that say what is wrong, then
    the table (asked.wide: every column): a reader that goes away early
    loses none of them. Whether every file was written."""
    written = write_files(model, asked, folder)
    for line in prose.lines(model):
        say(line)
    write_out(table.render(model, asked.wide))
    return written


def load_or_exit(run):
    """(runs, model) of a saved file, the model computed once; one line and
    status 2 where it holds no run."""
    try:
        runs = saved.load(run.path, run.shown)
        return runs, model.model(runs)
    except saved.LoadError as error:
        say(error)
    except (KeyError, TypeError, ValueError, AttributeError, ArithmeticError):
        say(f"{run.shown} is not a whole run saved by dotprod-sweep")
    sys.exit(2)


def print_comparison(old, new, names, threshold, fail_above, control=None):
    """Prints the comparison of two loaded runs, each (runs, model); its
    status: 0, 3 for a slowdown beyond fail_above, 1 for a wrong or
    impossible new run with it, 2 where they share nothing to compare."""
    text, status = comparison.compare_runs(old[0], new[0], threshold, fail_above, names,
                                                control, (old[1], new[1]))
    write_out(text)
    return status


def within_session(work):
    """work(folder)'s status, with a temporary folder that goes whatever
    happens; a failure is one line and status 1."""
    try:
        with session.temporary_folder() as folder:
            return work(folder)
    except SweepError as error:
        progress("")
        say(error)
        return 1
    except BrokenPipeError:
        return end_on_closed_pipe()


def run_sweep(cfg):
    """Measures, then reports: 1 if a candidate is wrong or impossibly
    fast, a run failed, or a file could not be written; else, with
    --compare, the comparison's status."""
    old = load_or_exit(cfg.compare) if cfg.compare else None
    if cfg.cpus:  # every run inherits it, and each of its threads and ranks
        os.sched_setaffinity(0, cfg.cpus)
    def work(folder):
        with session.measuring():
            runs = rounds.measure_all(cfg, folder, machine.machine(cfg.commit))
            status = report_or_save(runs, cfg, folder, old)
        if session.stopping():  # what was measured is out: the status says how it ended
            return 128 + session.stopping()
        return status
    return within_session(work)


def with_comparison(made, cfg, old):
    """The model with the status the sweep ends with, which its JSON keeps,
    and the comparison with a saved run to print after the table."""
    if session.stopping():  # the status the process ends with, whatever it measured
        made = dataclasses.replace(made, status=128 + session.stopping())
    if old is None:
        return made, b""
    names = (cfg.compare.shown, "this run")
    text, status = comparison.compare_runs(old[0], made.runs, cfg.threshold,
                                                cfg.fail_above, names, cfg.control,
                                                (old[1], made))
    return dataclasses.replace(made, status=made.status or status), b"\n" + text


def report_or_save(runs, cfg, folder, old=None):
    """Reports runs, as write_views() does, and the comparison with old, a saved
    run loaded as (runs, model), if any: the status. Where the sweep's own
    code fails on them, the runs are still saved as JSON, if asked, for
    show to read once that is mended."""
    try:
        made, after = with_comparison(model.model(runs, cfg.fail_above if old is None else None),
                                cfg, old)
        written = write_views(made, cfg, folder)
        write_out(after)
        return made.status if written else 1
    except (SweepError, BrokenPipeError):
        raise
    except Exception as error:
        say(f"unexpected {type(error).__name__}: {error}")
        if cfg.json is not None:
            write_file(cfg.json, document.facts_only(runs))
            say(f"the runs are saved in {cfg.json.shown}")
        return 1


def show(request):
    """Redraws a saved run: 0, or 1 where a file could not be written."""
    made = load_or_exit(request.run)[1]
    return within_session(lambda folder: 0 if write_views(made, request, folder) else 1)


def compare(request):
    old, new = load_or_exit(request.old), load_or_exit(request.new)
    try:
        return print_comparison(old, new, (request.old.shown, request.new.shown), request.threshold,
                        request.fail_above, request.control)
    except SweepError as error:
        say(error)
        return 1
    except BrokenPipeError:
        return end_on_closed_pipe()


def write_each(files):
    """Writes each of files, {destination: bytes}; each that cannot be
    written is said in one line, and the others are written all the same.
    0, or 1 where one was not written."""
    written = True
    for destination, data in files.items():
        try:
            write_file(destination, data)
        except SweepError as error:
            say(error)
            written = False
    return 0 if written else 1


def report_runs(request):
    """Writes the report of saved runs: 0, or 1 where a file could not be
    written."""
    runs = [load_or_exit(f)[0] for f in request.runs]
    names = [f.shown for f in request.runs]
    asked = two_runs.Asked(request.threshold, request.fail_above, request.control)
    refused = two_runs.missing_control(*runs, asked) if len(runs) == 2 else None
    if refused:
        say(" ".join(refused.split()))
        return 2
    return write_each(pages.report_files(runs, names, request.html, request.markdown, asked))


def export(request):
    """Writes a saved run for the dashboards asked: 0, 1 where a file could
    not be written, 2 where its sweep was stopped or failed, unless allowed."""
    made = load_or_exit(request.run)[1]
    refused = None if request.allow_failed else exports.refused(made, request.run.shown)
    if refused:
        say(refused)
        return 2
    asked = ((request.github_benchmark, exports.github_benchmark), (request.bmf, exports.bmf))
    status = write_each({path: make(made) for path, make in asked if path is not None})
    left = exports.left_out(made)
    if left:
        say(f"export: no entry for {len(left)} row{'s' if len(left) > 1 else ''} that "
            "failed, were wrong, impossible or not the stated work, or printed no time to "
            "plot: " + ", ".join(f"{exports.benchmark_name(s)} "
                                 f"({exports.unsound(made, s) or 'no time'})"
                                 for s in left[:5]) + (", …" if left[5:] else ""))
    return status


def main(argv, programs):
    session.handle_signals()
    if not is_open(1):
        say("standard output is closed")
        return 1
    hold_closed_descriptors()
    asked = config.parse(argv, programs)
    if isinstance(asked, config.ShowRequest):
        return show(asked)
    if isinstance(asked, config.CompareRequest):
        return compare(asked)
    if isinstance(asked, config.ReportRequest):
        return report_runs(asked)
    if isinstance(asked, config.ExportRequest):
        return export(asked)
    return run_sweep(asked)


def entry(programs):
    """The launcher's whole work: the status to exit with. programs is the
    folder where dotprod and its companions are found by default."""
    call_me(sys.argv[0])
    try:
        return main(sys.argv[1:], programs)
    except KeyboardInterrupt:  # before the signal handlers were in place
        return 128 + signal.SIGINT
    except Exception as error:  # a fault of the sweep's own: still one line
        say(f"unexpected {type(error).__name__}: {error}")
        return 1
