# SPDX-License-Identifier: MIT
"""The sweep's command line, read by one parser with five subcommands:
run (the default, which the word may be left out of), show, compare,
report and export.
It becomes a frozen Config to run, or a Show, Compare, Report or
ExportRequest;
percents become fractions as they are read (values.py). A bad command
line is refused in one line with status 2 before anything runs."""

import argparse
import difflib
import os
import re
import sys
from dataclasses import dataclass

from . import files
from .. import __version__
from ..facts import commands
from ..figures import comparison
from .values import count, cpu_list, fraction, lengths, percent, positive, revision, seconds
from ..facts.commands import Command, CommandError
from .files import InputFile, OutputFile
from .requests import CompareRequest, ExportRequest, ReportRequest, ShowRequest
from ..messages import UsageError, say

DEFAULT_LENGTHS = (10**3, 10**4, 10**5, 10**6, 10**7)
DEFAULT_BUDGET = 120
SUBCOMMANDS = ("run", "show", "compare", "report", "export")

RUN_USAGE = """dotprod-sweep [run] [OPTION]...
       dotprod-sweep show RUN.json [OPTION]...
       dotprod-sweep compare OLD.json NEW.json [OPTION]...
       dotprod-sweep report RUN.json [MORE.json]... --html FILE | --markdown FILE
       dotprod-sweep export RUN.json --github-benchmark FILE | --bmf FILE"""
SUBCOMMANDS_SAID = ("Subcommands: run, the default (the word may be left out), times the "
                    "programs as the options above say; show prints a run saved with --json "
                    "again, compare compares two, report writes one or more as an HTML "
                    "page or Markdown, and export writes one for a CI dashboard. Each "
                    "subcommand's --help lists its options. The manual: man dotprod-sweep once "
                    "installed; in the source tree, man -l build/release/man/dotprod-sweep.1 "
                    "once built.")

# What argparse should take as an option's value, not as an option: a
# number such as -1e400 or -inf, which the option's type then refuses.
NUMBER_LIKE = re.compile(r"-(\.?[0-9]|inf|nan)", re.IGNORECASE)


@dataclass(frozen=True)
class Config:
    reference: Command         # dotprod: what results are judged against
    candidates: tuple          # Commands: the versions compared with it
    baseline: str              # the label of the program speedups are over
    exact: Command | None      # dotprod-exact, where needed
    ceiling: Command | None    # dotprod-ceiling, with candidates
    ceiling_threads: tuple     # the thread counts it is run with
    lengths: tuple             # ascending
    repeats: int | None        # fixed, or None: as many as the intervals need
    time_budget: float         # seconds after which no more repeats are added
    warmup: int                # untimed runs of each program per length
    tolerance: float
    timeout: float
    cpus: tuple | None         # every run is pinned to these, or None
    seed: int                  # shuffles the turns in each round
    fail_fast: bool
    plot: OutputFile | None
    json: OutputFile | None
    compare: InputFile | None  # a saved run to compare this one with
    threshold: float           # a fraction: a smaller change is not called one
    fail_above: float | None   # a fraction: a slowdown beyond it, interval and all, is status 3
    control: str | None        # the label compare pairs times with, or None: the baseline
    csv: OutputFile | None
    wide: bool                 # the table with every column
    argv: tuple                # as given, for the record
    witness: str | None = None  # the library preloaded into every run, or None: sampled
    commit: str | None = None  # the commit of what is timed, as --commit gave it
    gate_budget: float | None = None  # seconds more for rows the gate cannot tell yet

    @property
    def programs(self):
        """The timed programs, in the order they take turns."""
        return (self.reference, *self.candidates)


class Once(argparse.Action):
    """An option's value; given twice, it is refused, where argparse would
    silently keep the last. The dests given are kept in .options_given."""
    def __call__(self, parser, namespace, value, option=None):
        given = vars(namespace).setdefault("options_given", set())
        if self.dest in given:
            raise UsageError(f"{option} is given twice: it takes one value")
        given.add(self.dest)
        setattr(namespace, self.dest, value)


class Parser(argparse.ArgumentParser):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        # Every option that takes a value, now and added later, takes it once.
        self.register("action", None, Once)
        self.register("action", "store", Once)
        self._negative_number_matcher = NUMBER_LIKE  # argparse's own: -1.5, not -1e400
        self.commands = {}     # the subcommands' parsers, by name

    def error(self, message):
        raise UsageError(f"{message}{self.nearest(message)}; "
                         f"usage: {self.prog} [OPTION]... (--help lists them)")

    def nearest(self, message):
        """For an option not known, the known one it may have meant."""
        words = message.rpartition(": ")[2].split() if "unrecognized" in message else []
        known = [o for action in self._actions for o in action.option_strings]
        for word in words:
            found = difflib.get_close_matches(word.split("=")[0], known, 1, 0.75)
            if found:
                return f" (did you mean {found[0]}?)"
        return ""


def parser(programs):
    """The one parser of the command line, whose first word must name its
    subcommand: with_subcommand() puts run there where it names none."""
    top = Parser(prog="dotprod-sweep", add_help=False)
    sub = top.add_subparsers(dest="command", required=True)
    run_options(sub.add_parser(
        "run", prog="dotprod-sweep", usage=RUN_USAGE, epilog=SUBCOMMANDS_SAID,
        description="Run dotprod for several lengths, several times each, check that the "
        "results agree, and print a Markdown table of the loop's time and the process's peak "
        "memory. With --candidate, also time other versions of the same work against it and "
        "judge their results against the exact value."), programs)
    show_options(sub.add_parser(
        "show", description="Print the table of a run saved with --json, as the run printed "
        "it, and redraw its plot or write its JSON again."))
    compare_options(sub.add_parser(
        "compare", description="Compare two runs saved with --json: for each program, scan "
        "values and length both measured, whether the new loop is faster, slower or "
        "no different, with a 95 % interval."))
    report_options(sub.add_parser(
        "report", description="Write one or more runs saved with --json as one HTML page that "
        "needs no network, or as Markdown: for one run its answers, table and charts; for "
        "several, oldest first, each program's history and the commits where it changed; "
        "for two, what compare says of them first."))
    export_options(sub.add_parser("export", description="Write a run saved with --json for "
        "a dashboard: github-action-benchmark's customSmallerIsBetter list, or Bencher Metric "
        "Format (BMF)."))
    top.commands = sub.choices
    return top


def report_options(p):
    p.add_argument("runs", metavar="RUN.json", nargs="+", help="runs saved with --json")
    p.add_argument("--html", metavar="FILE", help="write the report as one HTML page")
    p.add_argument("--markdown", metavar="FILE", help="write it as GitHub-flavoured Markdown")
    comparing_options(p, ", of two runs")


def export_options(p):
    p.add_argument("run", metavar="RUN.json", help="a file written by dotprod-sweep --json")
    p.add_argument("--github-benchmark", metavar="FILE",
                   help="write github-action-benchmark's customSmallerIsBetter JSON")
    p.add_argument("--bmf", metavar="FILE", help="write Bencher Metric Format JSON")
    p.add_argument("--allow-failed", action="store_true",
                   help="export a run whose sweep was stopped or exited 1 too (refused otherwise)")


def run_options(p, programs):
    p.add_argument("--version", action="version", version=f"dotprod-sweep {__version__}")
    p.add_argument("--binary", default=os.path.join(programs, "dotprod"),
                   help=f"the dotprod to run (default: {programs}/dotprod)")
    p.add_argument("--candidate", action=commands.CandidateAction, dest="given",
                   metavar="COMMAND",
                   help="a version to compare with dotprod: a command line, {n} for the "
                   "length (else it comes last), NAME=VALUE words first for its environment "
                   "(DOTPROD_THREADS=N declares the threads it runs, as OMP_NUM_THREADS does); "
                   "may be repeated")
    p.add_argument("--name", action=commands.CandidateAction, dest="given", metavar="LABEL",
                   help="the label of the --candidate just before it")
    p.add_argument("--scan", type=commands.scan, action="append", default=[],
                   metavar="NAME=V1,V2,...",
                   help="run every candidate whose command holds {NAME} once per value; "
                   "may be repeated")
    p.add_argument("--baseline", metavar="NAME", help="the program speedups are over: a "
                   "candidate's label, or dotprod (the default)")
    p.add_argument("--exact", metavar="PATH",
                   help=f"the program that prints the exact value "
                   f"(default: {programs}/dotprod-exact)")
    p.add_argument("--ceiling", metavar="PATH", help="the program that measures the machine's "
                   f"read rate (default: {programs}/dotprod-ceiling, where it is built)")
    p.add_argument("--lengths", type=lengths, default=DEFAULT_LENGTHS,
                   help="comma-separated lengths, each once (default: "
                   "1000,10000,100000,1000000,10000000)")
    p.add_argument("--repeats", type=positive, metavar="R",
                   help="runs per length (default: from 6 on, until every speedup's 95 %% "
                   "interval is within ±10 %% or the budget is spent, at most 250)")
    p.add_argument("--budget", type=seconds, default=DEFAULT_BUDGET, metavar="SECONDS",
                   help=f"add no more repeats after this long (default: {DEFAULT_BUDGET})")
    p.add_argument("--warmup", type=count, metavar="N",
                   help="untimed runs of each program before each length's repeats "
                   "(default: 0; with --candidate the probes, run first, warm every program)")
    p.add_argument("--tolerance", type=fraction, default=0.0, metavar="REL",
                   help="widen what float rounding may explain by REL times the exact value, "
                   "REL from 0 to 1 (default: 0)")
    p.add_argument("--cpus", type=cpu_list, metavar="LIST",
                   help="run every program on these CPUs only, e.g. 0,2-3 (default: all "
                   "the sweep may use)")
    p.add_argument("--seed", type=count, metavar="N",
                   help="the seed that shuffles the programs' turns in each round "
                   "(default: a new one, recorded in the JSON)")
    p.add_argument("--timeout", type=seconds, default=600, metavar="SECONDS",
                   help="kill a run that takes longer (default: 600)")
    p.add_argument("--fail-fast", action="store_true",
                   help="stop at the first run that fails, instead of going on without it")
    p.add_argument("--plot", metavar="FILE.png",
                   help="also draw ns per term, peak memory, read rate and speedups against N "
                   "(needs gnuplot)")
    p.add_argument("--json", metavar="FILE",
                   help="also write the runs, the summaries and the machine as JSON")
    p.add_argument("--compare", metavar="OLD.json",
                   help="then compare this run with one saved by --json")
    comparing_options(p, ", with --compare")
    table_options(p)
    gate_and_commit_options(p)


def gate_and_commit_options(p):
    p.add_argument("--gate-budget", type=seconds, metavar="SECONDS",
                   help="with --fail-above, keep timing the rows the gate cannot tell yet, "
                   "for up to SECONDS more, until it can")
    p.add_argument("--commit", type=revision, metavar="REV",
                   help="record REV as the commit of what is timed (default: the commit of the "
                   "git tree the sweep is run from, else $GITHUB_SHA or $CI_COMMIT_SHA)")


def show_options(p):
    p.add_argument("run", metavar="RUN.json", help="a file written by dotprod-sweep --json")
    p.add_argument("--plot", metavar="FILE.png", help="draw the run's plot (needs gnuplot)")
    p.add_argument("--json", metavar="FILE", help="write the run's JSON again")
    table_options(p)


def compare_options(p):
    p.add_argument("old", metavar="OLD.json")
    p.add_argument("new", metavar="NEW.json")
    comparing_options(p)


def comparing_options(p, where=""):
    p.add_argument("--threshold", type=percent, default=comparison.THRESHOLD, metavar="PCT",
                   help="call a change only where the whole 95 %% interval lies beyond "
                   f"±PCT %%{where} (default: {comparison.THRESHOLD * 100:g})")
    p.add_argument("--fail-above", type=percent, metavar="PCT",
                   help="exit 3 where a program is slower by more than PCT %%, its whole "
                   "interval beyond it" + (" (without --compare: a candidate slower than the "
                                           "--baseline)" if where else ""))
    p.add_argument("--control", metavar="LABEL", help="pair each round's times with this "
                   f"program's{where}, so that the machine's drift cancels (default: the baseline)")


def table_options(p):
    p.add_argument("--wide", action="store_true",
                   help="print every column, not the table that fits 120 columns")
    p.add_argument("--csv", metavar="FILE", help="also write every column as CSV")


def with_subcommand(argv):
    """argv led by its subcommand: run, where its first word names none.
    Only the first word is looked at: any later one may be an option's
    value, a program or a file that happens to be called show."""
    return list(argv) if argv[:1] and argv[0] in SUBCOMMANDS else ["run", *argv]


def parsed(argv, programs):
    """argv's options, with .command naming the subcommand."""
    top = parser(programs)
    args, rest = top.parse_known_args(with_subcommand(argv))
    if rest:  # said by the subcommand, which knows the options it may have meant
        top.commands[args.command].error(f"unrecognized arguments: {' '.join(rest)}")
    return args


def timed_programs(args):
    """dotprod, the candidates with every scan value, and the baseline's label."""
    try:
        return commands.timed(files.program(args.binary, "dotprod"),
                              getattr(args, "given", None) or [], args.scan, args.baseline)
    except CommandError as error:
        raise UsageError(str(error)) from None


def compared_with(args, written):
    """The saved run --compare names, or None; without it, --threshold
    would be accepted and do nothing (--fail-above then gates the
    candidates against the baseline)."""
    if args.compare is None:
        for name in sorted({"threshold", "control"} & getattr(args, "options_given", set())):
            raise UsageError(f"--{name} needs --compare OLD.json, or use "
                             "dotprod-sweep compare OLD.json NEW.json")
        return None
    old = files.input_file(args.compare)
    files.spare(old, written, "the run compared with")
    return old


def gate_budget(args):
    """--gate-budget's seconds: it adds rounds for a run's own gate, whose
    rounds the budget sets."""
    if args.gate_budget is not None and (args.fail_above is None or args.compare is not None
                                         or args.repeats is not None):
        raise UsageError("--gate-budget needs --fail-above without --compare or --repeats: it "
                         "adds rounds for the gate of the builds in this sweep")
    return args.gate_budget


def run_config(args, argv, programs):
    """The Config of a run. programs is the folder where dotprod and its
    companions are found."""
    reference, expanded, baseline = timed_programs(args)
    exact = files.exact_program(args.exact, reference, programs, needed=bool(expanded),
                                saving=args.json is not None)
    ceiling = files.ceiling_program(args.ceiling, reference, programs, wanted=bool(expanded))
    plot, json, csv = files.outputs((args.plot, args.json, args.csv),
                                    [c for c in (reference, *expanded, exact, ceiling) if c])
    old = compared_with(args, (plot, json, csv))
    files.gnu_time()
    cpus = len(args.cpus or os.sched_getaffinity(0))
    return Config(
        reference=reference, candidates=expanded, baseline=baseline, exact=exact,
        ceiling=ceiling, ceiling_threads=(1,) if cpus == 1 else (1, cpus),
        lengths=args.lengths, repeats=args.repeats, time_budget=args.budget,
        warmup=args.warmup or 0,
        tolerance=args.tolerance, timeout=args.timeout, cpus=args.cpus,
        seed=int.from_bytes(os.urandom(4), "little") if args.seed is None else args.seed,
        fail_fast=args.fail_fast,
        plot=plot, json=json, csv=csv, wide=args.wide, compare=old,
        threshold=args.threshold, fail_above=args.fail_above, control=args.control,
        argv=tuple(argv), witness=files.witness_library(reference, programs),
        commit=args.commit, gate_budget=gate_budget(args))


def show_request(args):
    run = files.input_file(args.run)
    plot, json, csv = files.outputs((args.plot, args.json, args.csv), [])
    files.spare(run, (plot, json, csv), "the run read")
    return ShowRequest(run, plot, json, csv, args.wide)


def compare_request(args):
    return CompareRequest(files.input_file(args.old), files.input_file(args.new),
                          args.threshold, args.fail_above, args.control)


def report_request(args):
    runs = tuple(files.input_file(path) for path in args.runs)
    html, markdown = files.outputs((args.html, args.markdown), [])
    if html is None and markdown is None:
        raise UsageError("report needs --html FILE or --markdown FILE")
    for run in runs:
        files.spare(run, (html, markdown), "a run read")
    # Only two runs are compared: with more or fewer they would do nothing.
    for name in sorted({"threshold", "fail_above", "control"}
                       & getattr(args, "options_given", set())):
        if len(runs) != 2:
            raise UsageError(f"--{name.replace('_', '-')} needs two runs, before and after "
                             f"(report was given {len(runs)})")
    return ReportRequest(runs, html, markdown, args.threshold, args.fail_above, args.control)


def export_request(args):
    run = files.input_file(args.run)
    github, bmf = files.outputs((args.github_benchmark, args.bmf), [])
    if github is None and bmf is None:
        raise UsageError("export needs --github-benchmark FILE or --bmf FILE")
    files.spare(run, (github, bmf), "the run read")
    return ExportRequest(run, github, bmf, args.allow_failed)


def request(argv, programs):
    """What argv asks for: a Config, a ShowRequest or a CompareRequest;
    UsageError where it asks amiss."""
    args = parsed(argv, programs)
    if args.command == "show":
        return show_request(args)
    if args.command == "compare":
        return compare_request(args)
    if args.command == "report":
        return report_request(args)
    if args.command == "export":
        return export_request(args)
    return run_config(args, argv, programs)


def parse(argv, programs):
    """What argv asks for, or one line and status 2."""
    try:
        return request(argv, programs)
    except UsageError as error:
        say(error)
        sys.exit(2)
