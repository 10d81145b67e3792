# SPDX-License-Identifier: MIT
"""A chart described in views/charts, drawn as inline SVG for the HTML
report: series with their markers and intervals, reference lines
labelled at their right end, marks across the plot, axes with their
labels and ticks, and a legend. Every text given is escaped here, once:
a label may hold markup. It computes no figure; it only places the ones
it is given."""

import html
import math

from ..views.charts import DASHES, MARKERS, ranges, ticks

WIDTH, PLOT_HEIGHT = 620, 300
LEFT, TOP, BOTTOM = 64, 34, 46
RIGHT, LABELLED_RIGHT = 16, 130   # room for the reference lines' labels
LEGEND_ROW, CHAR = 18, 6.6        # a legend row's height; a character's width at 12 px
LABEL_GAP = 13                    # the least distance between two line labels


def esc(text):
    return html.escape(str(text), quote=True)


# The most characters of a text that its place in the chart holds: a
# longer one is cut, its end marked, and shown whole where a pointer rests.
TITLE, AXIS, LEGEND, LINE_LABEL = 72, 44, 60, 18


def fitted(text, most):
    """text, escaped, cut to most characters, whole in a tip if cut."""
    text = str(text)
    if len(text) <= most:
        return esc(text)
    return f"{esc(text[:most - 1])}…<title>{esc(text)}</title>"


def scale(axis, low, high, start, end):
    """value -> pixel between start and end; one beyond the range lands
    just outside it, where the plot's clip hides it."""
    if axis.log:
        a, b = math.log10(low), math.log10(high)
        def place(v):
            return (math.log10(v) - a) / (b - a) if v > 0 else -1.0
    else:
        def place(v):
            return (v - low) / (high - low)
    return lambda v: start + min(max(place(v), -1.0), 2.0) * (end - start)


def tick_text(text, x, y, anchor, rotate=False):
    """A tick label; 10^k written with k raised."""
    turn = f' transform="rotate(-35 {x:.1f} {y:.1f})"' if rotate else ""
    base, _, power = text.partition("^")
    body = (f'{esc(base)}<tspan dy="-6" font-size="9">{esc(power)}</tspan>' if power
            else esc(text))
    return f'<text x="{x:.1f}" y="{y:.1f}" text-anchor="{anchor}"{turn}>{body}</text>'


def marker(shape, x, y, colour):
    r = 4
    if shape == "circle":
        return f'<circle cx="{x:.1f}" cy="{y:.1f}" r="{r}" fill="{colour}"/>'
    if shape == "square":
        return (f'<rect x="{x - r:.1f}" y="{y - r:.1f}" width="{2 * r}" height="{2 * r}" '
                f'fill="{colour}"/>')
    if shape == "cross":
        return (f'<path d="M{x - r:.1f},{y - r:.1f}L{x + r:.1f},{y + r:.1f}M{x - r:.1f},'
                f'{y + r:.1f}L{x + r:.1f},{y - r:.1f}" stroke="{colour}" stroke-width="2"/>')
    corners = {"triangle": [(0, -r - 1), (r + 1, r), (-r - 1, r)],
               "down": [(0, r + 1), (r + 1, -r), (-r - 1, -r)],
               "diamond": [(0, -r - 1), (r + 1, 0), (0, r + 1), (-r - 1, 0)]}[shape]
    return (f'<path d="M{"L".join(f"{x + a:.1f},{y + b:.1f}" for a, b in corners)}Z" '
            f'fill="{colour}"/>')


def polyline(points, colour, dash, width=1.8):
    """Pieces of a line through points, broken where a point is missing."""
    pieces, piece = [], []
    for p in points + [None]:
        if p is None:
            if len(piece) > 1:
                pieces.append(" ".join(f"{x:.1f},{y:.1f}" for x, y in piece))
            piece = []
        else:
            piece.append(p)
    dashed = f' stroke-dasharray="{dash}"' if dash else ""
    return "".join(f'<polyline points="{p}" fill="none" stroke="{colour}" '
                   f'stroke-width="{width}"{dashed}/>' for p in pieces)


def drawn_series(s, sx, sy):
    """A series' group: its line, its intervals and its markers, each
    marker with its tip for a pointer resting on it."""
    shape, dash = MARKERS[s.variant % len(MARKERS)], DASHES[s.variant % len(DASHES)]
    usable = [p for p in s.points if p[1] is not None]
    parts = [polyline([(sx(p[0]), sy(p[1])) if p[1] is not None else None for p in s.points],
                      s.colour, dash)] if s.line else []
    for x, y, low, high, tip in usable:
        if low is not None and high is not None:
            px, top, bottom = sx(x), sy(high), sy(low)
            parts.append(f'<path d="M{px:.1f},{top:.1f}V{bottom:.1f}M{px - 3:.1f},{top:.1f}'
                         f'H{px + 3:.1f}M{px - 3:.1f},{bottom:.1f}H{px + 3:.1f}" '
                         f'stroke="{s.colour}" stroke-width="1.2" class="interval"/>')
        parts.append(f'<g class="point">{marker(shape, sx(x), sy(y), s.colour)}'
                     f'<title>{esc(tip)}</title></g>')
    return f'<g class="series" data-name="{esc(s.name)}">{"".join(parts)}</g>'


def spread(wanted, low, high):
    """Label heights as near wanted as they can be, LABEL_GAP apart,
    within low and high: a label for each of close lines."""
    order = sorted(range(len(wanted)), key=wanted.__getitem__)
    placed = {}
    last = low - LABEL_GAP
    for i in order:
        placed[i] = last = max(wanted[i], last + LABEL_GAP)
    overflow = max(0.0, last - high)
    return [min(placed[i] - overflow, high) for i in range(len(wanted))]


def reference_lines(lines, sx, sy):
    return "".join(polyline([(sx(x), sy(y)) for x, y in r.points], r.colour, r.dash, 1.4)
                   for r in lines)


def line_labels(lines, sx, sy, right_edge):
    """Each labelled reference line's label beyond the plot's right edge,
    at the line's end, moved apart where lines end close together, with a
    thin leader from the end to its label."""
    labelled = [r for r in lines if r.label and r.points]
    heights = spread([sy(r.points[-1][1]) + 4 for r in labelled], TOP + 8, TOP + PLOT_HEIGHT)
    drawn = []
    for r, y in zip(labelled, heights):
        end_x, end_y = sx(r.points[-1][0]), sy(r.points[-1][1])
        drawn.append(f'<path d="M{end_x:.1f},{end_y:.1f}L{right_edge + 4:.1f},{y - 4:.1f}" '
                     f'stroke="{r.colour}" stroke-width="0.6"/>'
                     f'<text x="{right_edge + 6:.1f}" y="{y:.1f}" fill="{r.colour}" '
                     f'class="line-label">{fitted(r.label, LINE_LABEL)}</text>')
    return f'<g class="line-labels">{"".join(drawn)}</g>'


def marks(chart, sx, plot_right):
    """Dashed lines across the plot at chart.marks, their texts above it,
    alternately at two heights so that neighbours do not overlap."""
    found = []
    for k, (x, text, colour) in enumerate(chart.marks):
        px = sx(x)
        anchor = "end" if px > (LEFT + plot_right) / 2 else "start"
        found.append(f'<g class="mark"><path d="M{px:.1f},{TOP:.1f}V{TOP + PLOT_HEIGHT:.1f}" '
                     f'stroke="{colour}" stroke-dasharray="3 3" stroke-width="1.2"/>'
                     f'<text x="{px + (-3 if anchor == "end" else 3):.1f}" '
                     f'y="{TOP + 12 + 13 * (k % 2):.1f}" text-anchor="{anchor}" '
                     f'fill="{colour}" stroke="#fff" stroke-width="3" paint-order="stroke">'
                     f'{esc(text)}</text></g>')
    return "".join(found)


def legend_items(chart):
    """(name, colour, shape, dash, marked) of everything the legend names."""
    items = [(s.name, s.colour, MARKERS[s.variant % len(MARKERS)], DASHES[s.variant % len(DASHES)]
              if s.line else None, True) for s in chart.series]
    unlabelled = {r.name: r for r in chart.lines if not r.label}  # named once however many
    items += [(r.name, r.colour, None, r.dash, False) for r in unlabelled.values()]
    return items


def legend(chart, top):
    """The legend's rows under the plot: (svg, height)."""
    parts, x, y = [], LEFT, top
    for name, colour, shape, dash, marked in legend_items(chart):
        width = 34 + CHAR * min(len(name), LEGEND)
        if x + width > WIDTH - RIGHT and x > LEFT:
            x, y = LEFT, y + LEGEND_ROW
        swatch = polyline([(x, y - 4), (x + 26, y - 4)], colour, dash) if dash is not None else ""
        swatch += marker(shape, x + 13, y - 4, colour) if marked else ""
        parts.append(f'<g class="legend-item">{swatch}<text x="{x + 32:.1f}" y="{y:.1f}">'
                     f'{fitted(name, LEGEND)}</text></g>')
        x += width + 14
    return "".join(parts), (y - top + LEGEND_ROW) if parts else 0


def axes(chart, xs, ys, sx, sy, right):
    """Grid, ticks and axis labels."""
    bottom = TOP + PLOT_HEIGHT
    x_ticks = ticks(chart.x, *xs)
    rotate = len(x_ticks) * max((len(t) for _, t in x_ticks), default=1) * CHAR > right - LEFT
    parts = [f'<rect x="{LEFT}" y="{TOP}" width="{right - LEFT}" height="{PLOT_HEIGHT}" '
             f'fill="none" stroke="#999"/>']
    for v, t in x_ticks:
        parts.append(f'<path d="M{sx(v):.1f},{TOP}V{bottom}" class="grid"/>')
        parts.append(tick_text(t, sx(v), bottom + 15, "end" if rotate else "middle", rotate))
    for v, t in ticks(chart.y, *ys):
        parts.append(f'<path d="M{LEFT},{sy(v):.1f}H{right}" class="grid"/>')
        parts.append(tick_text(t, LEFT - 5, sy(v) + 4, "end"))
    # Turned ticks reach down by their length: the axis label goes below.
    longest = max((len(t) for _, t in x_ticks), default=1)
    below = bottom + (26 + int(longest * CHAR * 0.6) if rotate else 34)
    parts.append(f'<text class="axis-label x" x="{(LEFT + right) / 2:.1f}" y="{below}" '
                 f'text-anchor="middle">{fitted(chart.x.label, 2 * AXIS)}</text>')
    parts.append(f'<text class="axis-label y" x="14" y="{TOP + PLOT_HEIGHT / 2:.1f}" '
                 f'text-anchor="middle" transform="rotate(-90 14 {TOP + PLOT_HEIGHT / 2:.1f})">'
                 f'{fitted(chart.y.label, AXIS)}</text>')
    return "".join(parts), below


def render(chart, ident="chart"):
    """The chart as an <svg> element, sized by its viewBox to its host;
    ident: a name no other chart of the page has."""
    right = WIDTH - (LABELLED_RIGHT if any(r.label for r in chart.lines) else RIGHT)
    xs, ys = ranges(chart)
    sx = scale(chart.x, *xs, LEFT, right)
    sy = scale(chart.y, *ys, TOP + PLOT_HEIGHT, TOP)
    drawn_axes, below = axes(chart, xs, ys, sx, sy, right)
    keyed, keyed_height = legend(chart, below + 24)
    height = below + 24 + keyed_height
    clip = f"clip-{esc(ident)}"
    body = (f'<clipPath id="{clip}"><rect x="{LEFT}" y="{TOP}" width="{right - LEFT}" '
            f'height="{PLOT_HEIGHT}"/></clipPath>{drawn_axes}'
            f'<g clip-path="url(#{clip})">{reference_lines(chart.lines, sx, sy)}'
            f'{marks(chart, sx, right)}'
            f'{"".join(drawn_series(s, sx, sy) for s in chart.series)}</g>'
            f'{line_labels(chart.lines, sx, sy, right)}{keyed}')
    return (f'<svg class="chart" data-series="{len(chart.series)}" role="img" '
            f'viewBox="0 0 {WIDTH} {height:.0f}" xmlns="http://www.w3.org/2000/svg">'
            f'<title>{esc(chart.title)}</title>'
            f'<text class="title" x="{WIDTH / 2}" y="20" text-anchor="middle">'
            f'{fitted(chart.title, TITLE)}</text>{body}</svg>')
