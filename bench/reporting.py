# SPDX-License-Identifier: MIT
"""The sweep's report: the Markdown table on standard output, the JSON
file, and the figures both share with the plot."""

import json
import os
import platform
import statistics
import sys

import checking
from messages import SweepError

MIB = 1024 * 1024


def times(runs):
    return [run.seconds for run in runs]


def speedups(reference, candidate):
    """Per repeat, dotprod's time over the candidate's: the ratio of two
    runs made one after the other, whatever the machine's speed did
    between repeats. A printed time of 0 gives no ratio."""
    return [r.seconds / c.seconds for r, c in zip(reference, candidate)
            if r.seconds > 0 and c.seconds > 0]


def table(outcome, verdicts):
    if len(outcome.programs) == 1:
        return single_table(outcome)
    lines = [
        "| N | program | median time (s) | min (s) | max (s) | speedup | speedup min–max "
        "| GB/s | peak memory (MiB) | result | relative error | verdict |",
        "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for n in outcome.lengths:
        exact = outcome.exact[n]
        lines.append(f"| {n} | exact value | | | | | | | | {exact:.9f} | | |")
        for program in outcome.programs:
            lines.append(comparison_row(outcome, program, n, verdicts.get((program, n), "")))
    return "\n".join(lines)


def comparison_row(outcome, program, n, verdict):
    runs = outcome.measured(program, n)
    reference = outcome.measured(outcome.programs[0], n)
    median = statistics.median(times(runs))
    ratios = speedups(reference, runs)
    exact = outcome.exact[n]
    worst = checking.farthest(runs, exact)
    if program == outcome.programs[0]:
        judged = "reference"
    else:
        judged = "ok" if verdict is None else "**rejected**"
    return (f"| {n} | {program} | {median:.6f} | {min(times(runs)):.6f} "
            f"| {max(times(runs)):.6f} "
            f"| {f'{statistics.median(ratios):.2f}' if ratios else 'n/a'} "
            f"| {f'{min(ratios):.2f}–{max(ratios):.2f}' if ratios else 'n/a'} "
            f"| {f'{8 * n / median / 1e9:.2f}' if median > 0 else 'n/a'} "
            f"| {max(run.peak for run in runs) / MIB:.1f} "
            f"| {worst.result_line.split(maxsplit=1)[1]} "
            f"| {abs(worst.result - exact) / abs(exact) if exact else 0:.2e} | {judged} |")


def single_table(outcome):
    lines = [
        "| N | median time (s) | min (s) | max (s) | ns per term | process wall (s) "
        "| peak memory (MiB) | 8·N (MiB) | peak − 8·N (MiB) |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for n in outcome.lengths:
        runs = outcome.measured(outcome.programs[0], n)
        median = statistics.median(times(runs))
        peak = max(run.peak for run in runs)
        lines.append(
            f"| {n} | {median:.6f} | {min(times(runs)):.6f} | {max(times(runs)):.6f} "
            f"| {median / n * 1e9:.1f} | {statistics.median(run.wall for run in runs):.3f} "
            f"| {peak / MIB:.1f} | {8 * n / MIB:.1f} | {(peak - 8 * n) / MIB:.1f} |")
    return "\n".join(lines)


def cpu_model():
    try:
        with open("/proc/cpuinfo", errors="replace") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    return value.strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def machine():
    try:
        libc = os.confstr("CS_GNU_LIBC_VERSION")
    except (ValueError, OSError):
        libc = " ".join(platform.libc_ver())
    return {"cpu": cpu_model(), "cores": os.cpu_count(),
            "kernel": f"{platform.system()} {platform.release()}", "libc": libc}


def describe(box):
    return f"{box['cpu']}, {box['cores']} cores, {box['kernel']}, {box['libc']}"


def write_json(destination, outcome, verdicts):
    document = {
        "machine": machine(),
        "lengths": [{"length": n, "exact": outcome.exact[n]} for n in outcome.lengths],
        "runs": [{"program": run.program, "length": run.length, "repeat": run.repeat,
                  "warmup": run.warmup, "time": run.seconds, "wall": run.wall,
                  "peak_bytes": run.peak, "result": run.result} for run in outcome.runs],
        "verdicts": [{"program": program, "length": n, "accepted": reason is None,
                      "reason": reason} for (program, n), reason in verdicts.items()],
    }
    try:
        with open(destination.path, "w") as f:
            json.dump(document, f, indent=1)
            f.write("\n")
    except OSError as error:
        raise SweepError(f"cannot write {destination.shown}: {error.strerror}") from None


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


def silence_stdout():
    """Points standard output at /dev/null, so that the interpreter's last
    flush at exit finds nowhere to fail and prints no complaint."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)
