# SPDX-License-Identifier: MIT
"""The Markdown table: one view of the model, computing nothing."""

from .model import MIB


def cell(value, form):
    return "n/a" if value is None else format(value, form)


def table(model):
    return comparison(model) if model.candidates else single(model)


def single(model):
    lines = [
        "| N | median time (s) | min (s) | max (s) | ns per term | process wall (s) "
        "| peak memory (MiB) | 8·N (MiB) | peak − 8·N (MiB) |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for s in model.summaries:
        lines.append(
            f"| {s.length} | {s.median:.6f} | {s.low:.6f} | {s.high:.6f} "
            f"| {s.ns_per_term:.1f} | {s.wall:.3f} "
            f"| {s.peak / MIB:.1f} | {s.vectors / MIB:.1f} | {(s.peak - s.vectors) / MIB:.1f} |")
    return "\n".join(lines)


def comparison(model):
    lines = [
        "| N | program | median time (s) | min (s) | max (s) | speedup | speedup min–max "
        "| GB/s | peak memory (MiB) | result | relative error | verdict |",
        "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for n in model.lengths:
        lines.append(f"| {n} | exact value | | | | | | | | {model.runs.exact[n]:.9f} | | |")
        lines += [comparison_row(s) for s in model.at(n)]
    return "\n".join(lines)


def judged(s):
    if s.role == "reference":
        return "reference"
    return "ok" if s.accepted else "**rejected**"


def comparison_row(s):
    spread = f"{min(s.ratios):.2f}–{max(s.ratios):.2f}" if s.ratios else None
    return (f"| {s.length} | {s.program} | {s.median:.6f} | {s.low:.6f} | {s.high:.6f} "
            f"| {cell(s.speedup, '.2f')} | {cell(spread, '')} | {cell(s.gbs, '.2f')} "
            f"| {s.peak / MIB:.1f} | {s.farthest.result_line.split(maxsplit=1)[1]} "
            f"| {s.relative_error:.2e} | {judged(s)} |")
