# SPDX-License-Identifier: MIT
"""The report: one self-contained HTML page, or its Markdown, of one saved
run or a history of several (pages), made of a few kinds of block
(blocks), with its charts described from the model (charts) and drawn
as inline SVG (svg). Built on the views below it; starts no process."""
