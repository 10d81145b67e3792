# SPDX-License-Identifier: MIT
"""Facts: what the runs were and what they printed, nothing computed from
other runs. A run of one process (runs), the text it printed (printed),
a candidate's command with its label and scans (commands), what a
launcher such as mpirun asks for (launchers), and the JSON a sweep saves
and loads back, every field checked (saved). Imports nothing of the
package but messages."""
