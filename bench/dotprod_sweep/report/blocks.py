# SPDX-License-Identifier: MIT
"""The report's blocks (headings, text, lists, tables, figures, folded
parts) and the two ways they are written: an HTML page whose only style
is inline, with no script and a policy that lets it fetch nothing, and
GitHub-flavoured Markdown. Every text is escaped here, for the form it
is written in: a program's label may hold markup."""

import html
import re
from dataclasses import dataclass

from . import svg
from ..views.formats import Bold

# Nothing fetched, nothing run: styles and the inline SVG only.
POLICY = "default-src 'none'; style-src 'unsafe-inline'; img-src data:"

CSS = """
body { font: 15px/1.45 system-ui, sans-serif; margin: 0; color: #1a1a1a; background: #fff; }
main { max-width: 1240px; margin: 0 auto; padding: 12px 20px 40px; }
h1 { font-size: 1.45em; margin: 0.4em 0; }
h2 { font-size: 1.15em; border-bottom: 1px solid #ddd; padding-bottom: 3px; margin-top: 1.6em; }
p, li { overflow-wrap: anywhere; }
ul { padding-left: 1.3em; }
.answers li, .changes li { font-weight: 600; }
.warnings li { color: #9a3412; }
.notes li, .facts li { color: #333; }
.scroll { overflow-x: auto; max-width: 100%; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; font-size: 14px; }
th, td { padding: 3px 9px; border-bottom: 1px solid #e4e4e4; white-space: nowrap; }
th { background: #f4f4f4; }
.l { text-align: left; } .r { text-align: right; }
.figures { display: grid; grid-template-columns: repeat(auto-fill, minmax(480px, 1fr)); gap: 20px; }
figure { margin: 0; min-width: 0; }
details { margin: 4px 0 0 4px; font-size: 14px; }
svg.chart { width: 100%; height: auto; font: 12px system-ui, sans-serif; }
svg.chart .grid { stroke: #e8e8e8; }
svg.chart .title { font-size: 14px; font-weight: 600; }
svg.chart .point:hover { opacity: 0.6; }
"""


@dataclass(frozen=True)
class Heading:
    level: int
    text: str


@dataclass(frozen=True)
class Text:
    text: str


@dataclass(frozen=True)
class Lines:
    items: list           # a line, or (line, link within the page)
    kind: str             # its class: answers, warnings, notes, ...


@dataclass(frozen=True)
class Table:
    header: list
    aligns: str           # 'l' or 'r' per column
    rows: list


@dataclass(frozen=True)
class Details:
    """A part folded away, opened by the reader."""
    summary: str
    blocks: list


@dataclass(frozen=True)
class Figures:
    items: list           # (charts.Chart, Details or None): the chart, and its numbers


def esc(text):
    return html.escape(str(text), quote=True)


def html_cell(text, tag, align):
    inner = f"<strong>{esc(text[2:-2])}</strong>" if isinstance(text, Bold) else esc(text)
    return f'<{tag} class="{align}">{inner}</{tag}>'


def html_table(t):
    head = "".join(html_cell(h, "th", a) for h, a in zip(t.header, t.aligns))
    body = "".join("<tr>" + "".join(html_cell(c, "td", a) for c, a in zip(row, t.aligns))
                   + "</tr>" for row in t.rows)
    # A table wider than the page scrolls alone: the page never does.
    return (f'<div class="scroll"><table><thead><tr>{head}</tr></thead><tbody>{body}</tbody>'
            '</table></div>')


def html_item(item):
    if isinstance(item, tuple):
        return f'<li><a href="{esc(item[1])}">{esc(item[0])}</a></li>'
    return f"<li>{esc(item)}</li>"


def html_figures(f, counter):
    parts = []
    for chart, numbers in f.items:
        counter.append(chart)
        k = len(counter)
        folded = html_block(numbers, counter) if numbers else ""
        parts.append(f'<figure id="figure-{k}">{svg.render(chart, f"f{k}")}{folded}</figure>')
    return f'<div class="figures">{"".join(parts)}</div>'


def html_block(b, counter):
    """One block as HTML; counter numbers the figures of the page."""
    if isinstance(b, Heading):
        return f"<h{b.level}>{esc(b.text)}</h{b.level}>"
    if isinstance(b, Text):
        return f"<p>{esc(b.text)}</p>"
    if isinstance(b, Lines):
        return f'<ul class="{esc(b.kind)}">{"".join(html_item(i) for i in b.items)}</ul>'
    if isinstance(b, Table):
        return html_table(b)
    if isinstance(b, Details):
        inner = "".join(html_block(x, counter) for x in b.blocks)
        return f"<details><summary>{esc(b.summary)}</summary>{inner}</details>"
    return html_figures(b, counter)


def html_page(title, blocks):
    counter = []
    body = "".join(html_block(b, counter) for b in blocks)
    return ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">'
            f'<meta http-equiv="Content-Security-Policy" content="{POLICY}">'
            '<meta name="viewport" content="width=device-width, initial-scale=1">'
            f"<title>{esc(title)}</title><style>{CSS}</style></head>"
            f"<body><main>{body}</main></body></html>\n")


MARKDOWN_SPECIAL = re.compile(r"([\\`*_\[\]|#<>~$&])")
# A word joiner after @: a label such as @octocat would otherwise mention,
# and so notify, whoever has that name when the page is a pull request's
# comment.
NO_MENTION = "@\u2060"


def md(text):
    """Text that Markdown shows as it is: its markup characters escaped
    (strikethrough, maths and entities included), no HTML let through,
    and no one mentioned."""
    escaped = MARKDOWN_SPECIAL.sub(r"\\\1", str(text)).replace("\n", " ")
    return escaped.replace("@", NO_MENTION)


def md_cell(text):
    return f"**{md(text[2:-2])}**" if isinstance(text, Bold) else md(text)


def md_table(t):
    rule = ["---:" if a == "r" else "---" for a in t.aligns]
    rows = [t.header, rule, *t.rows]
    return "\n".join("| " + " | ".join(c if r is rule else md_cell(c) for c in r) + " |"
                     for r in rows)


def md_block(b):
    if isinstance(b, Heading):
        return "#" * b.level + " " + md(b.text)
    if isinstance(b, Text):
        return md(b.text)
    if isinstance(b, Lines):
        return "\n".join("- " + md(i[0] if isinstance(i, tuple) else i) for i in b.items)
    if isinstance(b, Table):
        return md_table(b)
    if isinstance(b, Details):
        inner = "\n\n".join(md_block(x) for x in b.blocks)
        return f"<details><summary>{esc(b.summary)}</summary>\n\n{inner}\n\n</details>"
    folded = [md_block(numbers) for _, numbers in b.items if numbers]
    return "\n\n".join(folded) if folded else \
        "The figures are drawn in the HTML report (--html)."


def markdown_page(blocks):
    return "\n\n".join(md_block(b) for b in blocks) + "\n"
