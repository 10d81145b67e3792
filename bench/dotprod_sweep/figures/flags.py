# SPDX-License-Identifier: MIT
"""What a row's interval does not say: flags where it would mislead or
cannot be acted on, each with the figures that its advice is made of
(views/prose.advice). Pure functions of the runs."""

import math
import statistics
from dataclasses import dataclass

from . import load, stats
from ..facts import launchers

COARSE = 0.01       # a printed time whose last digit is worth more than 1 % of it
ERRATIC = 3         # a program whose runs differ this many times the machine's floor, ...
ERRATIC_LEAST = 0.05  # ... and by more than 5 %, is erratic
# Loops whose medians lie within this factor of each other run on the same
# time scale: a loop of microseconds varies more than one of seconds on any
# machine, so only the first is a floor for the second.
PEER_SCALE = 10
QUIET = "dotprod-quiet"  # dotprod's loop without its printing: a steady baseline

# Why a row is flagged, each with its own advice.
COARSE_OWN, COARSE_BASELINE = "coarse", "coarse baseline"
ZERO_OWN, ZERO_BASELINE = "time 0", "baseline time 0"
CLUSTERS = "clusters"
WIDE_PRINTING, WIDE_BASELINE, WIDE_OWN = "printing baseline", "noisy baseline", "noisy"
WIDE_FAR_OFF = "far off"
# Run-to-run noise below this, the row's and the baseline's, cannot make an
# interval wide: a few runs far off did.
STEADY = stats.WIDE / 2
ERRATIC_RUNS = "erratic"
# Evidence that a run did not do the stated work: kinds and causes alike.
NO_VECTORS, REPLAYED = "no vectors", "replayed"
NOT_STATED = (NO_VECTORS, REPLAYED)
# Times replayed: the same to the last printed digit, with this many
# significant ones or more, over this many repeats, of a loop longer than
# this: a real loop's time varies in its last digits from run to run.
REPLAY_DIGITS, REPLAY_REPEATS, REPLAY_LONGER = 4, 5, 10e-6


@dataclass(frozen=True)
class Flag:
    kind: str          # "coarse", "clusters", "wide" or "erratic": the table's note
    cause: str         # one of the causes above: which advice fits
    program: str       # the row's program
    baseline: str      # the program speedups are over
    length: int | None = None  # coarse: from which length its times would have digits enough
    noise: float = 0.0         # the row's own run-to-run noise
    floor: float = 0.0         # the noise it is held against
    peer: str | None = None    # erratic: the steadiest program whose loop is as long
    quiet_ran: bool = False    # wide over a printing baseline: the quiet one is a candidate
    threads: int = 1           # the threads it runs on a node: pinning helps only several
    spare: bool = True         # the machine has a CPU beside its threads and the rest (spare)


def power_of_ten_above(x):
    return 10 ** max(0, math.ceil(math.log10(x)))


def long_enough(n, own):
    """The length, a power of ten, from which own's printed times would
    resolve the loop to COARSE, were the time proportional to N."""
    middle = statistics.median(r.seconds for r in own)
    half = statistics.median(r.time_half_unit for r in own)
    wanted = n * half / (COARSE * middle) if middle > 0 else math.inf
    # Past any length --lengths takes (a time of 1e-320 s): none would do.
    return power_of_ten_above(wanted) if wanted < 2**31 else None


def zero_median(runs):
    return bool(runs) and statistics.median(r.seconds for r in runs) == 0


def coarse(runs):
    """Whether the printed times resolve the loop too roughly to compare:
    more repeats cannot help, more printed digits can."""
    if not runs:
        return False
    middle = statistics.median(r.seconds for r in runs)
    return middle == 0 or statistics.median(r.time_half_unit for r in runs) > COARSE * middle


def peers(runs, n):
    """(noise, median, program) of every program's timed runs at length n
    that have a noise floor: made once a length, as each row looks at
    them all."""
    found = []
    for p in runs.programs:
        times = [r.seconds for r in runs.of(p, n) if not r.failure]
        noise = stats.noise_floor(times)
        if noise is not None:
            found.append((noise, statistics.median(times), p))
    return found


def steadiest(found, seconds):
    """(noise, program): the least run-to-run noise among found, peers(),
    whose loops take within PEER_SCALE of seconds, or (None, None): the
    floor a loop that long reached on this machine in this sweep."""
    return min(((noise, p) for noise, middle, p in found
                if middle > 0 and seconds / PEER_SCALE <= middle <= seconds * PEER_SCALE),
               default=(None, None))


def spare(cores, threads):
    """Whether a row's threads can be pinned apart from everything else:
    the CPUs the sweep had hold them and one more, for the sweep and the
    system. On 2 CPUs a one-thread loop has nowhere quieter to go, and
    advice to pin it cannot be followed. Unknown CPUs: assumed spare."""
    return not cores or cores > threads + 1


def row_flags(s, own, floor, base, runs, steady=(None, None)):
    """Flags only where the interval alone would mislead or cannot be
    acted on: a candidate's row only. s: the row's Summary; own and base:
    the row's and the baseline's timed runs; floor: the baseline's noise
    floor; steady: steadiest() for the row's median."""
    if s.baseline or s.failure:
        return ()
    n = s.length
    threads = launchers.node_threads(s.launch) if s.launch else 1
    free = spare(runs.machine.get("cores"), threads)
    def flag(kind, cause, **figures):
        return Flag(kind, cause, s.program, runs.baseline, threads=threads, spare=free,
                    **figures)
    found = [flag(kind, kind) for kind, holds in ((NO_VECTORS, without_vectors(s)),
                                                  (REPLAYED, replayed(own))) if holds]
    if s.speedup is None:
        return tuple(found) + zero_flags(s, own, base, flag)
    if s.coarse:
        found.append(flag("coarse", COARSE_OWN, length=long_enough(n, own)))
    if coarse(base):
        found.append(flag("coarse", COARSE_BASELINE, length=long_enough(n, base)))
    if s.clusters:
        found.append(flag("clusters", CLUSTERS))
    noise, floor = s.own_noise or 0.0, floor or 0.0
    if s.wide and not s.coarse:
        cause = WIDE_FAR_OFF if max(noise, floor) < STEADY else \
            WIDE_OWN if median_reach(own) > median_reach(base) else \
            WIDE_PRINTING if runs.baseline == runs.reference else WIDE_BASELINE
        if not s.drifted:  # drift alone is said once, under the table
            found.append(flag("wide", cause, noise=noise, floor=floor,
                              quiet_ran=QUIET in runs.programs))
    elif steady[0] is not None and noise > max(ERRATIC * steady[0], ERRATIC_LEAST) and \
            free and not load.busy(runs.machine):
        # Its median is known: the flag is only for what pinning can do.
        found.append(flag("erratic", ERRATIC_RUNS, noise=noise, floor=steady[0],
                          peer=steady[1]))
    return tuple(found)


def median_reach(made):
    """How far the 95 % interval of the median of runs made reaches, its
    larger side, as a logarithm: what the median adds to a speedup's
    interval. A dear baseline run fewer times than the rows beside it can
    widen their intervals more than their own noisier runs do."""
    times = [r.seconds for r in made if r.seconds and r.seconds > 0]
    return stats.median_reach(times) if len(times) > 1 else math.inf


def without_vectors(s):
    """Whether a run's peak memory lies below the 8·N bytes its two vectors
    need, so that it cannot have built them. MPI ranks each hold a part:
    not for them."""
    ranks = s.launch.ranks if s.launch and s.launch.launcher != launchers.NONE else None
    return bool(s.peak) and (ranks or 1) == 1 and s.peak < s.vectors


def significant(text):
    """The significant digits a number was printed with: 0.001230 has 4."""
    digits = text.lower().partition("e")[0].lstrip("+-").replace(".", "")
    return len(digits.lstrip("0"))


def replayed(own):
    """Whether the runs' printed times are one text, repeated: a time
    replayed, not measured."""
    texts = {r.time_text for r in own}
    if len(own) < REPLAY_REPEATS or len(texts) != 1 or None in texts:
        return False
    text = texts.pop()
    return significant(text) >= REPLAY_DIGITS and float(text) > REPLAY_LONGER


def zero_flags(s, own, base, flag):
    """A row with no speedup because a time printed as 0 gives no speed:
    its own, or the baseline's, which every speedup is over."""
    if s.zero_time:
        return (flag("coarse", ZERO_OWN, length=long_enough(s.length, own)),)
    if zero_median(base):
        return (flag("coarse", ZERO_BASELINE, length=long_enough(s.length, base)),)
    return ()
