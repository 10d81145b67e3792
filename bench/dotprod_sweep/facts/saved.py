# SPDX-License-Identifier: MIT
"""A sweep's raw facts as plain data, and back: what the JSON holds so
that a saved run loads into the same Runs, and so into the same model,
the same table and the same plot. A file may have been made by hand:
every field read is checked, the first wrong one named in one line, and
every string cleaned as a --name is (commands.printable), or made one
line (messages.one_line) for commands, which only lines show."""

import dataclasses
import json
import math
import operator

from . import launchers, printed
from ..messages import one_line
from .fields import (BYTES, MOST, Invalid, brief, cell, field, length, maybe, named,
                     of_type, real, text, whole, wrong)
from .runs import Ceiling, PROBE, Run, Runs, TIMED, WARMUP

SCHEMA = 3
# Every schema the sweep has written. The number is raised when a field
# changes meaning or goes; a field added with a default that means what
# files without it meant keeps it, and is named here with its version.
SCHEMA_HISTORY = {
    1: "before 1.0.0, with no schema field: the machine, exact values, runs, verdicts",
    2: "1.0.0: the arguments, the commands and the figures, but not the facts they come "
       "from: it cannot be shown again",
    3: "1.1.0: the raw facts that load back (sweep, exact, orders, ceiling_runs, runs as "
       "printed), then the figures; added since: ceiling_runs' first_seconds (1.2.0), "
       "second_seconds (1.3.0) and repeat, runs' cpu, sweep's budget, spent and short (1.5.0), "
       "machine's busy_start (1.6.1), runs' threads (1.7.0), programs' files (1.8.0), runs' "
       "thread_cpu and cpus_allowed, sweep's ran, and machine's candidate_commit and "
       "candidate_dirty (1.9.0), sweep's ran_objects and machine's environment_sha256 "
       "(1.10.0)",
}
# show and compare read SCHEMA and the schema before it, which its entry here
# brings up to SCHEMA: with 4, {3: a schema 3 document to the same run in 4}.
UPGRADES = {}

KINDS = (TIMED, WARMUP, PROBE)
RUN_FIELDS = operator.itemgetter("program", "length", "repeat", "kind", "wall", "peak_bytes",
                                 "peak_of", "rank_peaks_bytes", "result", "time_text", "failure")


class LoadError(Exception):
    """A file that is not a saved run this sweep reads: one line, status 2."""


def run_facts(r):
    return {"program": r.program, "length": r.length, "repeat": r.repeat, "kind": r.kind,
            "time": r.seconds if r.time_text else None, "time_text": r.time_text,
            "wall": r.wall, "peak_bytes": r.peak, "peak_of": r.peak_of,
            "rank_peaks_bytes": r.rank_peaks and list(r.rank_peaks),
            "result": r.result_text, "failure": r.failure, "cpu": r.cpu, "threads": r.threads,
            "thread_cpu": r.thread_cpu and list(r.thread_cpu), "cpus_allowed": r.cpus_allowed}


def facts(runs):
    """Everything the model is computed from, as JSON's types."""
    return {
        "schema": SCHEMA,
        "arguments": list(runs.setup.get("arguments", [])),
        "programs": runs.setup.get("programs", {}),
        "machine": runs.machine,
        "sweep": {"programs": list(runs.programs), "reference": runs.reference,
                  "baseline": runs.baseline, "lengths": list(runs.lengths),
                  "probe_lengths": list(runs.probe_lengths), "tolerance": runs.tolerance,
                  "params": {k: [list(p) for p in v] for k, v in runs.params.items()},
                  "families": dict(runs.families), "shown": dict(runs.shown),
                  "stopped": runs.stopped, "seed": runs.seed, "budget": runs.budget,
                  "spent": runs.spent, "short": [{"length": n, "rounds": r}
                                                 for n, r in runs.short.items()],
                  "launches": {k: dataclasses.asdict(v) for k, v in runs.launches.items()},
                  "ran": {k: dict(v) for k, v in runs.ran.items()},
                  "ran_objects": runs.ran_objects},
        "exact": [{"length": n, "value": v} for n, v in runs.exact.items()],
        "orders": [{"length": n, "low": low, "high": high}
                   for n, (low, high) in runs.orders.items()],
        "ceiling_runs": [{"length": c.length, "threads": c.threads, "seconds": c.seconds,
                          "wall": c.wall, "failure": c.failure, "first_seconds": c.first,
                          "second_seconds": c.second, "repeat": c.repeat}
                         for c in runs.ceilings],
        "runs": [run_facts(r) for r in runs.runs],
    }


def failure(value, where, key="failure"):
    if value is not None and (type(value) is not str or not value):
        raise wrong(where, key, "a reason it failed, or null", value)
    return value and cell(value)


def label(value, where, key, labels):
    """One of sweep.programs' labels, cleaned; labels: {as saved: cleaned}."""
    if type(value) is not str or value not in labels:
        raise wrong(where, key, "a label of sweep.programs", value)
    return labels[value]


def number_text(value, where, key, low=-math.inf):
    """A number as a program printed it (printed.usable), of low or more, or None."""
    if value is not None and not (type(value) is str and printed.usable(value) and
                                  printed.value(value) >= low):
        raise wrong(where, key, "a finite number as printed" + ", 0 or more" * (low == 0), value)
    return value


def entries(value, where, each):
    """each(entry, its path) of a list of objects."""
    return [each(of_type(entry, where, i, dict), f"{where}[{i}]")
            for i, entry in enumerate(of_type(value, where, None, list))]


def keyed(value, where, labels, each):
    """{label: each(entry, its path)} of an object keyed by programs' labels;
    labels: {as saved: cleaned}."""
    found = {}
    for key, entry in of_type(value, where, None, dict).items():
        if key not in labels:
            raise wrong(where, None, "keyed by sweep.programs' labels", key)
        found[labels[key]] = each(entry, f"{where}[{brief(key)}]")
    return found


def record(value, where, depth=0):
    """What is kept only for the record, as the arguments and commands:
    any JSON a few levels deep, every string made one line."""
    if type(value) is str:
        return one_line(value)
    if type(value) is list and depth < 4:
        return [record(v, f"{where}[{i}]", depth + 1) for i, v in enumerate(value)]
    if type(value) is dict and depth < 4:
        return {one_line(k): record(v, f"{where}.{k}", depth + 1) for k, v in value.items()}
    if value is None or type(value) in (bool, int) or type(value) is float and math.isfinite(value):
        return value
    raise wrong(where, None, "text, a finite number, or a list or object of them", value)


def run_from(d, where, labels):
    try:
        (program, n, repeat, kind, wall, peak, peak_of, rank_peaks, result, time_text,
         failed) = RUN_FIELDS(d)
    except KeyError as missing:
        raise Invalid(f"{where}.{missing.args[0]} is missing") from None
    if kind not in KINDS:
        raise wrong(where, "kind", "timed, warm-up or probe", kind)
    if peak_of not in ("process", "tree"):
        raise wrong(where, "peak_of", "process or tree", peak_of)
    if failed is None and (result is None or time_text is None):
        raise Invalid(f"{where} has no failure, and no result or no time_text")
    if rank_peaks is not None and not of_type(rank_peaks, where, "rank_peaks_bytes", list):
        raise wrong(where, "rank_peaks_bytes", "each rank's peak bytes, or null", rank_peaks)
    return Run(label(program, where, "program", labels), length(n, where, "length"),
               whole(repeat, where, "repeat", 1, MOST, "a repeat from 1 to 1000000"), kind,
               real(wall, where, "wall"), whole(peak, where, "peak_bytes", 0, BYTES, "bytes"),
               peak_of, number_text(result, where, "result"),
               number_text(time_text, where, "time_text", 0), failure(failed, where),
               rank_peaks and tuple(whole(p, f"{where}.rank_peaks_bytes", i, 0, BYTES, "bytes")
                                    for i, p in enumerate(rank_peaks)),
               maybe(real, d.get("cpu"), where, "cpu"),  # cpu from 1.5.0, threads 1.7.0
               maybe(whole, d.get("threads"), where, "threads", 1, MOST, "a count from 1"),
               # The witness's, from 1.9.0.
               maybe(seconds_each, d.get("thread_cpu"), where, "thread_cpu"),
               maybe(whole, d.get("cpus_allowed"), where, "cpus_allowed", 1, MOST, "a count"))


def seconds_each(value, where, key):
    """Each thread's processor seconds, as a tuple."""
    return tuple(real(v, f"{named(where, key)}", i)
                 for i, v in enumerate(of_type(value, where, key, list)))


def executables(value, where):
    """{path: SHA-256 or None} of what a program ran, paths cleaned."""
    return {text(path, where, None, one_line): maybe(text, sha, where, brief(path))
            for path, sha in of_type(value, where, None, dict).items()}


def ceiling_from(d, where):
    # Runs saved before 1.2.0, 1.3.0 and 1.5.0 have no pass times and no round.
    return Ceiling(length(field(d, "length", where), where, "length"),
                   whole(field(d, "threads", where), where, "threads", 1, MOST, "threads"),
                   real(field(d, "seconds", where), where, "seconds"),
                   real(field(d, "wall", where), where, "wall"),
                   failure(field(d, "failure", where), where),
                   *(maybe(real, d.get(k), where, k, "a time above 0, or null", math.ulp(0))
                     for k in ("first_seconds", "second_seconds")),
                   maybe(whole, d.get("repeat"), where, "repeat", 1, MOST, "a round"))


def order_from(d, where):
    low, high = (real(field(d, k, where), where, k, "a finite value", -math.inf) for k in ("low", "high"))
    if low > high:
        raise Invalid(f"{where} has its low above its high: {low!r} > {high!r}")
    return length(field(d, "length", where), where, "length"), (low, high)


def labels_of(saved):
    """{label as saved: cleaned} of sweep.programs: one or more, unique once cleaned."""
    if not of_type(saved, "sweep", "programs", list):
        raise wrong("sweep", "programs", "one or more labels", saved)
    labels = {}
    for i, p in enumerate(saved):
        clean = text(p, "sweep.programs", i)
        if not clean.strip():
            raise wrong("sweep.programs", i, "a label", p)
        if clean in labels.values():
            raise Invalid(f"sweep.programs[{i}] is {clean} once cleaned, as an earlier label is")
        labels[p] = clean
    return labels


def lengths_of(value, where, least=0):
    found = tuple(length(n, where, i) for i, n in enumerate(of_type(value, where, None, list)))
    if len(set(found)) < len(found) or len(found) < least:
        raise wrong(where, None, "a list of distinct lengths" + ", one or more" * least, value)
    return found


def scans(value, where):
    for i, p in enumerate(of_type(value, where, None, list)):
        if type(p) is not list or len(p) != 2 or not all(type(x) is str for x in p):
            raise wrong(where, i, "a scanned name and its value", p)
    return tuple((cell(name), cell(scanned)) for name, scanned in value)


def launch_from(value, where):
    d = of_type(value, where, None, dict)
    if field(d, "launcher", where) not in (launchers.NONE, launchers.MPIRUN, launchers.SRUN):
        raise wrong(where, "launcher", "none, mpirun or srun", d["launcher"])
    ranks, nodes = (maybe(whole, field(d, k, where), where, k, 1, MOST, "a count, or null")
                    for k in ("ranks", "nodes"))
    return launchers.Launch(d["launcher"], ranks, nodes,
                            whole(field(d, "threads", where), where, "threads", 1, MOST, "a count"))


def get_flag(sweep, key):
    """A yes or no of the sweep section's, no where a file from before it has none."""
    value = sweep.get(key, False)
    if type(value) is not bool:
        raise wrong("sweep", key, "true or false", value)
    return value


def sweep_from(sweep):
    """Runs' fields from the sweep section, and {label as saved: cleaned}."""
    labels = labels_of(field(sweep, "programs", "sweep"))
    def get(key, check, *args):  # the field at key, checked
        return check(field(sweep, key, "sweep"), f"sweep.{key}", *args)
    params = get("params", keyed, labels, scans)
    families = get("families", keyed, labels, lambda v, at: text(v, at, None))
    unnamed = [p for p, scanned in params.items() if len(scanned) == 1 and p not in families]
    if unnamed:
        raise Invalid(f"sweep.families has no entry for {unnamed[0]}, which sweep.params scans")
    if sweep.get("short") and sweep.get("budget") is None:
        raise Invalid("sweep.short has lengths the budget held short, and sweep.budget is null")
    return dict(
        programs=tuple(labels.values()), params=params, families=families,
        **{role: get(role, label, None, labels) for role in ("reference", "baseline")},
        lengths=get("lengths", lengths_of, 1), probe_lengths=get("probe_lengths", lengths_of),
        tolerance=get("tolerance", real, None, "a tolerance of 0 or more"),
        shown=get("shown", keyed, labels, lambda v, at: text(v, at, None, one_line)),
        stopped=get("stopped", lambda v, at: maybe(text, v, at, None)),
        seed=get("seed", lambda v, at: maybe(whole, v, at, None, 0, math.inf, "a seed")),
        launches=get("launches", keyed, labels, launch_from),
        ran=keyed(sweep.get("ran", {}), "sweep.ran", labels, executables),  # from 1.9.0
        ran_objects=get_flag(sweep, "ran_objects"),  # from 1.10.0
        # Runs saved before 1.5.0 have no budget, time spent or short lengths.
        budget=maybe(real, sweep.get("budget"), "sweep", "budget"),
        spent=maybe(real, sweep.get("spent"), "sweep", "spent"),
        short=dict(entries(sweep.get("short", []), "sweep.short", lambda d, at: (
            length(field(d, "length", at), at, "length"),
            whole(field(d, "rounds", at), at, "rounds", 0, MOST, "a number of rounds"))))), labels


def setup_from(document):
    """The arguments and each program's command; the model reads only the ceiling's as given."""
    programs = record(of_type(field(document, "programs", ""), "", "programs", dict), "programs")
    ceiling = programs.get("ceiling")
    if not (ceiling is None or type(ceiling) is dict and type(ceiling.get("given", "")) is str):
        raise wrong("programs", "ceiling", "a command, or null", ceiling)
    arguments = of_type(field(document, "arguments", ""), "", "arguments", list)
    return {"arguments": record(arguments, "arguments"), "programs": programs}


def machine_from(value):
    """The machine: what the model and compare read checked, all kept."""
    host = record(of_type(value, "", "machine", dict), "machine")
    host.setdefault("candidate_commit", host.get("commit"))  # to 1.8.1, the sweep's stood for it
    for key, v in host.items():
        if key in ("cpu", "kernel", "libc", "governor", "version", "date",
                   "environment_sha256") or key.endswith("commit"):
            host[key] = maybe(text, v, "machine", key)
        elif key in ("cores", "online_cpus"):
            maybe(whole, v, "machine", key, 1, MOST, "a number of CPUs, or null")
        elif key in ("load_start", "load_end", "busy_start"):  # busy_start: the load of an instant
            maybe(real, v, "machine", key, "a load average of 0 or more, or null")
        elif key == "environment":
            maybe(of_type, v, "machine", key, dict)
        elif key == "candidate_dirty" and type(v) not in (bool, type(None)):
            raise wrong("machine", key, "true, false or null", v)
    for i, cpu in enumerate(maybe(of_type, host.get("affinity"), "machine", "affinity", list) or ()):
        whole(cpu, "machine.affinity", i, 0, MOST, "a CPU's number")
    for at, cache in entries(host.get("caches", []), "machine.caches", lambda c, at: (at, c)):
        for key in ("level", "bytes"):
            whole(field(cache, key, at), at, key, 1, BYTES, "a count from 1")
    return host


def runs_from(document):
    """The Runs a document of this schema holds, every field checked and every string cleaned;
    Invalid names the first that is not what the sweep saves."""
    fields, labels = sweep_from(of_type(field(document, "sweep", ""), "", "sweep", dict))
    def section(key):
        return field(document, key, "")
    return Runs(
        **fields,
        runs=[run_from(of_type(r, "runs", i, dict), f"runs[{i}]", labels)
              for i, r in enumerate(of_type(section("runs"), "", "runs", list))],
        exact=dict(entries(section("exact"), "exact", lambda d, at: (
            length(field(d, "length", at), at, "length"),
            real(field(d, "value", at), at, "value", "a finite exact value", -math.inf)))),
        orders=dict(entries(section("orders"), "orders", order_from)),
        ceilings=entries(section("ceiling_runs"), "ceiling_runs", ceiling_from),
        machine=machine_from(section("machine")), setup=setup_from(document))


def upgraded(document, shown):
    """document in this schema: as it is, or brought up from the one before."""
    schema = document["schema"]
    reads = [s for s in (SCHEMA - 1, SCHEMA) if s == SCHEMA or s in UPGRADES]
    if type(schema) is int and schema in reads:
        return document if schema == SCHEMA else UPGRADES[schema](document)
    why = ("not a schema number" if type(schema) is not int else
           f"from {'a newer' if schema > SCHEMA else 'an older'} dotprod-sweep")
    raise LoadError(f"{shown} holds a run of schema {brief(schema)}, {why}; this "
                    f"dotprod-sweep reads schema {' or '.join(map(str, reads))}")


def load(path, shown=None):
    """The Runs saved in the JSON file at path."""
    shown = shown or path
    try:
        with open(path, "rb") as f:
            document = json.loads(f.read())
    except OSError as error:
        raise LoadError(f"cannot read {shown}: {error.strerror}") from None
    except (ValueError, RecursionError):
        raise LoadError(f"{shown} is not JSON") from None
    if not isinstance(document, dict) or "schema" not in document:
        raise LoadError(f"{shown} is not a run saved by dotprod-sweep")
    try:
        return runs_from(upgraded(document, shown))
    except Invalid as error:
        raise LoadError(f"{shown}: {error}") from None
