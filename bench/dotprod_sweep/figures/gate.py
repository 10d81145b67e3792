# SPDX-License-Identifier: MIT
"""The gate of two builds timed in one sweep (--baseline old --fail-above
T): each candidate's row against the baseline fails where it is slower
by more than T with its whole interval, passes where its whole interval
lies within that, and otherwise cannot tell, with the reason. Pure."""

from .stats import SLACK

# Why the gate cannot tell at a row.
FAILED = "failed"            # a run failed there
NOT_STATED = "not the stated work"  # its memory or its times say it did not do the work
NO_SPEEDUP = "no speedup"    # a time printed as 0 gives none
ONE_ROUND = "one round"      # no interval
CLUSTERS = "two clusters"    # its or the baseline's median may sit in either from sweep to sweep
REACHES = "reaches past"     # the interval reaches both within and beyond T
NOTHING = "nothing to gate"  # no candidate but the baseline: no row, in place of one


def doubt(s, least):
    """Why the gate cannot tell at row s, or None where it can; least:
    the lowest speedup within the threshold, 1 / (1 + T)."""
    if s.failure:
        return FAILED
    if s.not_stated:
        return NOT_STATED
    if s.speedup is None:
        return NO_SPEEDUP
    if len(s.ratios) < 2:
        return ONE_ROUND
    if s.clusters or cluster_doubt(s, least):
        return CLUSTERS
    return REACHES if below(s.speedup_low, least) else None


def below(speedup, least):
    return speedup * (1 + SLACK) < least


def cluster_doubt(s, least):
    """Whether the clusters of row s's times, or of the baseline's, may put
    its median on the other side of the limit from its interval."""
    if s.cluster_speedups is None:
        return False
    slowest, fastest = s.cluster_speedups
    return below(s.speedup_high, least) != below(fastest, least) or \
        below(s.speedup_low, least) != below(slowest, least)


def beyond(s, least):
    """Whether row s is slower than T allows with its whole interval and,
    where its or the baseline's times fall in two clusters, with the
    clusters that favour it most: a right build is never failed for
    where one sweep's median happened to sit."""
    if s.speedup_high is None or not below(s.speedup_high, least):
        return False
    return s.cluster_speedups is None or below(s.cluster_speedups[1], least)


def gated_rows(summaries):
    """The rows a gate judges: the candidates', the baseline's aside."""
    return [s for s in summaries if s.role == "candidate" and not s.baseline]


def outcome(summaries, fail_above):
    """(slower, unsure) of the candidates' rows at fail_above, a fraction:
    the rows slower than the baseline by more than it with the whole
    interval, which fail the gate, and (row, why) of those it cannot tell;
    (None, NOTHING) where there is no row to gate. Both empty without a
    gate."""
    if fail_above is None:
        return (), ()
    least = 1 / (1 + fail_above)
    rows = gated_rows(summaries)
    if not rows:
        return (), ((None, NOTHING),)
    slower = tuple(s for s in rows if beyond(s, least))
    unsure = tuple((s, why) for s in rows if s not in slower
                   for why in [doubt(s, least)] if why)
    return slower, unsure
