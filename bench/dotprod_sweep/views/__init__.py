# SPDX-License-Identifier: MIT
"""Views: each a function of the model that returns text or bytes. The
number formats (formats), the lines a person reads (prose), every
column once (columns), the tables (table), the JSON (document), the
gnuplot script (plot) and what compare prints (comparison). They
compute no figure of their own: imports figures, facts and messages."""
