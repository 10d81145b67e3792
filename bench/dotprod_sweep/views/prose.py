# SPDX-License-Identifier: MIT
"""The lines a person reads, made from the model's figures: why a
version is wrong or impossibly fast, what failed, what a flag advises,
the machine, and each candidate's answer. It computes no figure."""

import math

from ..figures import beyond, evidence, flags, gate, threads, verdict
from ..figures.ceilings import ABSURD_PER_CPU, IMPOSSIBLE
from ..figures.model import ONE_ROUND, SPREAD, SPREAD_FACTOR
from ..figures.stats import MIN_ROUNDS
from .formats import decimals, length_text, percent, plain, span, wrapped

PASS_NAMES = {1: "first", 2: "second"}


def from_length(length):
    return f"lengths from N={length} on" if length else "longer lengths"


def pinning(f):
    """How to pin it where that can be followed here: to CPUs of its own
    only where there are some to spare (flags.spare)."""
    if f.threads > 1:
        return "taskset -c, OMP_PROC_BIND=true" if f.spare else "OMP_PROC_BIND=true"
    return "taskset -c" if f.spare else None


def pin_threads(f):
    """Pinning its threads, advised only to a program that runs several."""
    spare = ", taskset -c" if f.spare else ""
    return f"pin its threads (OMP_PROC_BIND=true{spare}), " if f.threads > 1 else ""


ADVICE = {
    flags.COARSE_OWN: lambda f: (
        f"{f.program}'s times have too few printed digits: print them with %.9f, or, for a "
        f"program you cannot change, use {from_length(f.length)}"),
    flags.COARSE_BASELINE: lambda f: (
        f"{f.baseline}'s times have too few printed digits, and every speedup over them too: "
        f"use {from_length(f.length)}, or a --baseline that prints more digits"),
    flags.ZERO_OWN: lambda f: (
        f"{f.program} printed a loop time of 0, which gives no speed and no speedup: print its "
        f"time with %.9f, or, for a program you cannot change, use {from_length(f.length)}"),
    flags.ZERO_BASELINE: lambda f: (
        f"{f.baseline} printed a loop time of 0, and no speedup can be taken over it: use "
        f"{from_length(f.length)}, or a --baseline that prints more digits"),
    flags.CLUSTERS: lambda f: (
        f"{f.program}'s times fall into two groups: something else ran on its CPUs, or their "
        f"clock changed speed: " + (f"pin it ({pinning(f)}) and " if pinning(f) else "")
        + "stop other work"),
    flags.WIDE_PRINTING: lambda f: (
        f"{f.baseline}'s median time, mostly its printing, is known less well than the "
        f"candidates' and widens every interval over it: "
        + (f"--baseline {flags.QUIET}" if f.quiet_ran else
           f"add {flags.QUIET} as a candidate, with --baseline {flags.QUIET}")),
    flags.WIDE_BASELINE: lambda f: (
        f"{f.baseline}'s median time is known less well than the candidates': "
        + ("pin it (taskset -c), or run " if f.spare else "run ")
        + "more repeats (--repeats R, or a larger --budget)"),
    flags.WIDE_OWN: lambda f: (
        f"{f.program}'s own times vary ±{f.noise * 100:.0f} % from run to run, and its median "
        f"is known less well than {f.baseline}'s: {pin_threads(f)}give it more repeats (a "
        f"larger --budget), or use a quieter machine"),
    flags.WIDE_FAR_OFF: lambda f: (
        f"{f.program}'s and {f.baseline}'s runs differ by under ±{flags.STEADY * 100:.0f} % "
        f"from one to the next, but a few lie far off and reach the interval's ends: give it "
        f"more repeats (a larger --budget), whose median passes over them, or find what "
        f"slowed them"),
    flags.NO_VECTORS: lambda f: (
        f"{f.program}'s peak memory is below the 8·N bytes its two vectors need: it did not "
        f"build them, and its time is not of the same work"),
    flags.REPLAYED: lambda f: (
        f"{f.program} printed the same time, to every digit, at each of its repeats: a loop's "
        f"time varies in its last digits, and one that does not was replayed, not measured"),
    beyond.UNWITNESSED: lambda f: (
        f"{f.program} reads beyond the ceiling of the threads it was held to, and no witness "
        f"saw which threads it ran (a static program, or one that clears its environment): "
        f"declare them (DOTPROD_THREADS=N, or OMP_NUM_THREADS=N, in its command)"),
    beyond.PART_TIMED: lambda f: (
        f"{f.program} reads beyond its ceiling, and faster per byte from memory than it did "
        f"from a cache at N={length_text(f.length)}: its loop time covers less than its work"),
    beyond.CACHED: lambda f: (
        f"{f.program} reads beyond the ceiling of a first pass over vectors just built, which "
        f"fit in a cache here: an untimed pass may have left them in the caches, and its time "
        f"is not of the same work"),
    beyond.UNSEEN: lambda f: (
        f"{f.program} reads beyond its ceiling for a reason the sweep cannot see: threads it "
        f"did not declare, data an untimed pass left in the caches, or a loop time that covers "
        f"less than its work"),
    beyond.FROM_MEMORY: lambda f: (
        f"{f.program} reads faster per byte from memory than from a cache at "
        f"N={length_text(f.length)}, where rates fall as the vectors outgrow the caches: its "
        f"loop time covers less than its work"),
    flags.ERRATIC_RUNS: lambda f: (
        f"{f.program}'s runs differ by ±{f.noise * 100:.0f} %, over {flags.ERRATIC} times the "
        f"±{f.floor * 100:.0f} % of {f.peer}, whose loop takes about as long: its median is "
        f"known, a single run's time is not: " + (
            "pin its threads (OMP_PROC_BIND=true, taskset -c), or run it on cores that no "
            "other work shares" if f.threads > 1 else
            "run it on a core that no other work shares (taskset -c)")),
}


def advice(flag):
    """What the user can do about a flag, in one sentence."""
    return ADVICE[flag.cause](flag)


def off_by(f):
    return verdict.relative(abs(float(f.result_text) - f.exact), f.exact)


# Results this far from the exact value are said to be so before anything
# else: a race that loses half the terms is first of all half the value.
FAR_OFF = 0.1


def not_reproducible(f):
    ratio = float(f.result_text) / f.exact if f.result_text and f.exact else 1.0
    first = (f"{f.program} is wrong at N={f.length}: its results reach {f.result_text}, "
             f"{ratio:.2g} times the exact value {f.exact:.10g}, and are not reproducible:"
             if abs(ratio - 1) >= FAR_OFF else
             f"{f.program} is not reproducible at N={f.length}:")
    return (f"{first} its {f.count} results spread over {f.spread:.3g} "
            f"({verdict.relative(f.spread, f.exact):.2e} of the exact value), more than float "
            f"rounding allows ({verdict.relative(f.allowed, f.exact):.2e})")


WRONG = {
    evidence.NOT_REPRODUCIBLE: not_reproducible,
    evidence.TOO_FEW_DECIMALS: lambda f: (
        f"{f.program} prints too few decimals at N={f.length}: its result {f.result_text} may "
        f"stand for the exact value {f.exact:.10g}, but the verdict needs at least six "
        f"decimals (printf's %f), or more digits (%.17g)"),
    evidence.BEYOND_FLOAT: lambda f: (
        f"{f.program} is wrong at N={f.length}: its result {f.result_text} is off the exact "
        f"value {f.exact:.10g} by {off_by(f):.2e}, "
        f"{abs(float(f.result_text) - f.exact) / f.allowed:.3g} times what float rounding "
        f"allows ({verdict.relative(f.allowed, f.exact):.2e})"),
    evidence.IMPLAUSIBLE: lambda f: (
        f"{f.program} is wrong at N={f.length}: its result {f.result_text} lies outside what "
        f"float sums in the usual orders give there ({f.orders[0]:.9g} to {f.orders[1]:.9g}), "
        f"off the exact value {f.exact:.10g} by {off_by(f):.2e}"),
    evidence.LESS_ACCURATE: lambda f: (
        f"{f.program} is wrong at N={f.length}: its result {f.result_text} is off the exact "
        f"value {f.exact:.10g} by {off_by(f):.2e}, though at N={f.shown} its result was nearer "
        f"that value than any float, as a double or compensated sum's is, and such a sum "
        f"stays that near at every length"),
}


def wrong_line(finding):
    """The one line that says why a version is wrong."""
    return WRONG[finding.rule](finding)


COUNTED = {threads.WITNESSED: "witnessed", threads.BUSY_CPUS: "kept busy"}
PROOF = {threads.WITNESSED: "as many as the witness saw run",
         threads.BUSY_CPUS: "as many CPUs as its process kept busy"}


def unwitnessed_line(programs):
    """The candidates the witness could not see into, and what held them."""
    return (f"No witness held in the runs of {', '.join(programs)} (a static or setuid "
            f"program, a cleared environment, or a process that ended without a word): their "
            f"threads are those declared, counted or proven by their processor time, and only "
            f"every CPU's ceiling makes a time impossible.")


def impossible_line(s):
    claim = ("a time too short for any finite rate" if s.gbs == math.inf else
             f"{s.gbs:.3g} GB/s" if s.gbs else
             f"a time of 0, which stands for {s.least_gbs:.3g} GB/s or more")
    if s.ceiling is None:
        return (f"{s.program} claims an impossible time at N={s.length}: {claim}, "
                f"more than any machine reads")
    on = f" on {s.ceiling_threads} thread{'s' * (s.ceiling_threads > 1)}, {PROOF[s.ceiling_proof]}" \
        if s.ceiling_threads else " on every CPU of its nodes" if s.launched else \
        " on every CPU it may use, as no witness saw its threads"
    return (f"{s.program} claims an impossible time at N={s.length}: {claim}, "
            f"more than {IMPOSSIBLE:g} times the {s.ceiling_gbs:.3g} GB/s this machine "
            f"reads at best{on}")


def failure_line(f):
    """Where a program failed alike at several lengths, the first, and how
    many more."""
    on = f" with {f.threads} thread{'s' * (f.threads > 1)}" if f.threads else ""
    more = len(f.lengths) - 1
    again = f" (and the same at {more} more length{'s' * (more > 1)})" if more else ""
    return f"{f.program} {f.lengths[0]}{on} {f.reason}{again}"


def unchecked_line(u):
    why = (f"{u.ceiling} failed: {u.failure}" if u.failure else
           f"{u.ceiling} printed no time above 0" if u.ran else
           f"the sweep stopped before {u.ceiling} ran there" if u.stopped else
           f"no {u.ceiling} was run")
    return (f"speeds not checked against the machine's ceiling at "
            f"N={', '.join(map(str, u.lengths))} ({why}); only rates beyond "
            f"{ABSURD_PER_CPU / 1e12:g} TB/s per CPU are refused")


def short_line(model):
    """Where the budget held fewer rounds than planned, one line."""
    if not model.short:
        return None
    at = ", ".join(f"{rounds} at N={length_text(n)}" for n, rounds in model.short.items())
    return (f"the budget of {model.budget:g} s held fewer rounds than the {MIN_ROUNDS} planned "
            f"({at}): those intervals are wider; a larger --budget holds them all")


def drift_line(model):
    """Where intervals are wide only for how far their medians drifted
    while the sweep ran, one line."""
    drifted = [s for s in model.summaries if s.drifted]
    if not drifted:
        return None
    named = ", ".join(f"{s.program} at N={length_text(s.length)}" for s in drifted[:3])
    more = f" and {len(drifted) - 3} more" if len(drifted) > 3 else ""
    return (f"Drift: the speedups of {named}{more} moved while the sweep ran by more than "
            f"their rounds' noise; their intervals take that in, as a rerun would find them "
            f"elsewhere, and reach past ±10 %. A quieter machine narrows them.")


def time_line(model):
    """What the sweep was given and what it took; where the ceiling ran in
    the rounds, how much of it that was."""
    if model.spent is None:
        return f"Ceiling calibration took {decimals(model.calibration_seconds, 1)} s." \
            if model.calibration_seconds else None
    given = f"Budget {model.budget:g} s; t" if model.budget else "T"
    ceiling = f", {decimals(model.ceiling_seconds, 1)} s of it on the ceiling's runs" \
        if model.ceiling_seconds else ""
    return f"{given}he sweep took {decimals(model.spent, 1)} s{ceiling}."


def slower_line(s, baseline, fail_above):
    return (f"{s.program} is slower than {baseline} by more than {fail_above * 100:g} % at "
            f"N={s.length}: {plain(1 / s.speedup)}× slower ({plain(1 / s.speedup_high)}–"
            f"{plain(1 / s.speedup_low)})")


def speed_against(s, baseline, interval=True):
    """'1.08× slower than old (1.02–1.15)' of a row's time against the
    baseline's; without its interval where it has none."""
    if s.speedup >= 1:
        said, low, high = f"{plain(s.speedup)}× faster", s.speedup_low, s.speedup_high
    else:
        said, low, high = f"{plain(1 / s.speedup)}× slower", 1 / s.speedup_high, 1 / s.speedup_low
    return f"{said} than {baseline}" + (f" ({plain(low)}–{plain(high)})" if interval else "")


DOUBTS = {gate.FAILED: lambda s, limit: f"it failed: {s.failure}",
          gate.NOT_STATED: lambda s, limit: "it did not do the stated work (" + ", ".join(
              SUSPECT[f.kind] for f in s.flags if f.kind in flags.NOT_STATED) + ")",
          gate.NO_SPEEDUP: lambda s, limit: "it has no speedup (a time printed as 0)",
          gate.ONE_ROUND: lambda s, limit: "one round, no interval",
          gate.CLUSTERS: lambda s, limit: ("its" if s.clusters else "the baseline's") +
          " times fall in two clusters, and its median may sit in either",
          gate.REACHES: lambda s, limit: f"its interval reaches past {limit} slower"}


def gate_line(model):
    """The gate's outcome in one line, for standard output: failed, cannot
    tell (where first, and why), or passed (and the worst row)."""
    limit, base = f"{model.fail_above * 100:g} %", model.baseline
    if model.slower:
        s = model.slower[0]
        return f"gate failed: {slower_line(s, base, model.fail_above)}"
    if model.unsure:
        s, why = model.unsure[0]
        if s is None:
            return "gate cannot tell: no candidate but the baseline"
        said = f"{s.program}: " if s.speedup is None else \
            f"{s.program} is {speed_against(s, base, why != gate.ONE_ROUND)}, "
        more = len(model.unsure) - 1
        return (f"gate cannot tell at N={length_text(s.length)}: {said}"
                f"{DOUBTS[why](s, limit)}" + (f" (and {more} more)" if more else "")
                + "; rerun with more budget or on a quieter machine")
    s = min(gate.gated_rows(model.summaries), key=lambda r: r.speedup_low)
    return (f"gate passed: every candidate within {limit} of {base} at every length (worst: "
            f"{s.program} at N={length_text(s.length)}, {speed_against(s, base)})")


def lines(model):
    """What standard error says after the runs: every line a user must
    read, the stop first."""
    return ([model.stopped] if model.stopped else []) + \
        [failure_line(f) for f in model.failures] + [wrong_line(f) for f in model.wrong] + \
        [impossible_line(s) for s in model.impossible] + \
        ([unchecked_line(model.unchecked)] if model.unchecked else []) + \
        [line for line in [short_line(model)] if line] + \
        [slower_line(s, model.baseline, model.fail_above) for s in model.slower]


def describe(host):
    return (f"{host.get('cpu', 'unknown CPU')}, {host.get('cores', '?')} cores, "
            f"{host.get('kernel', 'unknown kernel')}, {host.get('libc', 'unknown libc')}")


def load_text(value):
    return "unknown" if value is None else decimals(value, 2)


def machine_line(host):
    return (f"Machine: {describe(host)}; load average {load_text(host.get('load_start'))} at the "
            f"start, {load_text(host.get('load_end'))} at the end.")


NO_SPEEDUP = {"own": "it printed a loop time of 0",
              "baseline": "the baseline printed a loop time of 0"}


def comparison(a, baseline):
    """How a candidate compares with the baseline, as a clause."""
    if a.answer is None:
        why = NO_SPEEDUP.get(a.why_none)
        return f"no speedup measured ({why})," if why else "no speedup measured,"
    if a.answer == "baseline":
        return "the baseline,"
    at = f"at N={length_text(a.length)}"
    if a.unsure == SPREAD:
        way = {"faster": "how much faster than", "slower": "how much slower than"}.get(
            a.answer, "whether faster or slower than")
        return (f"cannot tell {way} {baseline} {at} (its interval, "
                f"{plain(a.factor_low)}–{plain(a.factor_high)}, spans more than a factor of "
                f"{SPREAD_FACTOR}),")
    span = ("(one round, no interval)" if a.unsure == ONE_ROUND else
            f"({plain(a.factor_low)}–{plain(a.factor_high)})")
    return {"faster": f"{plain(a.factor)}× faster than {baseline} {at} {span},",
            "slower": f"{plain(a.factor)}× slower than {baseline} {at} {span},",
            "the same speed": f"the same speed as {baseline} {at} {span},",
            "cannot tell": f"cannot tell whether faster or slower than {baseline} {at} {span},"
            }[a.answer]


def limit(a):
    """What the verdict within float rounding cannot tell, said beside it."""
    if not a.hides:
        return ""
    n, loss = a.hides
    sharp = (f"; N={length_text(a.sharp[0])} shows one over {a.sharp[1] * 100:.2g} %"
             if a.sharp else "")
    return f", which at N={length_text(n)} hides a loss of up to {loss * 100:.2g} %{sharp}"


def answer_line(a, baseline):
    said = [f"{a.program}:", comparison(a, baseline), a.verdict + limit(a)]
    if a.share is not None:
        where = "" if a.share_length == a.length else f" at N={length_text(a.share_length)}"
        said[-1] += ","
        kind = f" {PASS_NAMES[a.share_pass]}-pass" if a.share_pass else ""
        counted = f" (threads {COUNTED.get(a.threads_from, 'counted')})" \
            if a.threads_counted else ""
        said.append(f"{percent(a.share)}{span(a.share_low, a.share_high)} of the "
                    f"{a.share_threads}-thread{kind} ceiling{counted}{where}")
        if a.best_share is not None:
            said[-1] += f"; at best {percent(a.best_share)} at N={length_text(a.best_length)}"
    if a.suspect:
        said[-1] += "; not the stated work: " + ", ".join(
            f"{SUSPECT[kind]} from N={length_text(n)}" for kind, n in a.suspect)
    return " ".join(said)


SUSPECT = {flags.NO_VECTORS: "its peak memory is below its two vectors' 8·N bytes",
           flags.REPLAYED: "its times are one text, replayed"}


def answer_lines(model):
    """One line per candidate: what a reader looks for first."""
    return "\n".join(answer_line(a, model.baseline) for a in model.answers)


def printing_line(model):
    """What dotprod's time is made of, where speedups are over it: its
    printing, one line a term, measured beside the quiet loop where that
    ran."""
    if model.baseline != model.reference or model.reference == flags.QUIET or \
            not model.candidates:
        return None
    if flags.QUIET in model.programs:
        both = [(n, {s.program: s.median for s in model.at(n) if s.median})
                for n in model.lengths]
        both = [(n, m[flags.QUIET], m[model.reference]) for n, m in both
                if flags.QUIET in m and model.reference in m]
        if not both or both[-1][1] >= both[-1][2]:
            return None  # nothing measured beside it, at any length
        n, quiet, own = both[-1]
        loop = quiet / own
        return wrapped(f"{model.reference}'s time at N={length_text(n)} is "
                       f"{plain((1 - loop) * 100)} % printing, a line a term: {flags.QUIET}, the "
                       f"same loop without it, takes {plain(loop * 100)} % of it; --baseline "
                       f"{flags.QUIET} compares with the loop alone.")
    return wrapped(f"{model.reference}'s time is mostly its printing, a line a term: add "
                   f"{flags.QUIET} as a candidate, with --baseline {flags.QUIET}, to compare "
                   "with the same loop without it.")
