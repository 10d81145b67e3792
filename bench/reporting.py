"""The sweep's report: the Markdown table on standard output."""

import os
import statistics
import sys

from messages import SweepError

MIB = 1024 * 1024


def table(series):
    lines = [
        "| N | median time (s) | min (s) | max (s) | ns per term | process wall (s) "
        "| peak memory (MiB) | 8·N (MiB) | peak − 8·N (MiB) |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for n, runs in series.items():
        times = [run.seconds for run in runs]
        median = statistics.median(times)
        peak = max(run.peak for run in runs)
        lines.append(
            f"| {n} | {median:.6f} | {min(times):.6f} | {max(times):.6f} "
            f"| {median / n * 1e9:.1f} | {statistics.median(run.wall for run in runs):.3f} "
            f"| {peak / MIB:.1f} | {8 * n / MIB:.1f} | {(peak - 8 * n) / MIB:.1f} |")
    return "\n".join(lines)


def write_out(text):
    """Prints text. Output that cannot be written stops the sweep with
    status 1; a closed pipe (BrokenPipeError) is left to the caller."""
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
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
