# SPDX-License-Identifier: MIT
"""The command line: one parser with its subcommands, made into a frozen
Config or a request (config), the values its options take (values), and
the files it reads and writes, checked before anything runs (files), and
where its output goes: standard output, and every file written whole
(output).
Percents become fractions here, once; a bad line is refused in one line
with status 2."""
