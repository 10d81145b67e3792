# SPDX-License-Identifier: MIT
"""What the subcommands that read saved runs are asked, as config.py
makes it from their command lines: frozen, files checked, percents
already fractions."""

from dataclasses import dataclass

from .files import InputFile, OutputFile
from ..figures import comparison


@dataclass(frozen=True)
class ShowRequest:
    run: InputFile             # the saved run to read
    plot: OutputFile | None
    json: OutputFile | None
    csv: OutputFile | None
    wide: bool


@dataclass(frozen=True)
class CompareRequest:
    old: InputFile
    new: InputFile
    threshold: float           # a fraction, as in Config
    fail_above: float | None
    control: str | None        # as in Config


@dataclass(frozen=True)
class ReportRequest:
    runs: tuple                # InputFile: the saved runs, oldest first
    html: OutputFile | None
    markdown: OutputFile | None
    threshold: float = comparison.THRESHOLD  # as in Config, for two runs
    fail_above: float | None = None
    control: str | None = None


@dataclass(frozen=True)
class ExportRequest:
    run: InputFile
    github_benchmark: OutputFile | None  # github-action-benchmark's list
    bmf: OutputFile | None               # Bencher Metric Format
    allow_failed: bool = False           # a stopped or failed sweep's run too
