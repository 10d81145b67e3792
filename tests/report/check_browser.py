#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The HTML report in a real browser, headless Chromium: the page logs
no console error, fetches nothing, runs no script of its own, fits 1280
pixels without scrolling sideways, shows a program's label as text, and
each chart has its series, each with its markers, named in its legend,
its axis labels, and every text inside the chart. A screenshot of each
page is saved. Checks the reports of the unit tests' hand-built runs
(one run, a history with a step, and two runs either side of it, before
and after), or the HTML files given.

Usage: check_browser.py [--out FOLDER] [REPORT.html ...]. Exits 0 when
every check passes, 1 when one fails, and 77 (skipped) without Chromium."""
import argparse
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "sweep"))

SKIPPED = 77
WIDTH = 1280
SECONDS = 180
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--hide-scrollbars"]
RESULT = re.compile(r'<pre id="report-check">(.*?)</pre>', re.S)

# Put first in <head>, before the page's policy, which would refuse it:
# it records what the page logs or fails to do, and once laid out, what a
# reader sees. It writes its findings into the page, which --dump-dom prints.
CHECKER = """<script>
(function () {
  var errors = [];
  function note(kind) { return function () {
    errors.push(kind + ": " + Array.prototype.join.call(arguments, " ")); }; }
  console.error = note("console.error");
  console.warn = note("console.warn");
  window.addEventListener("error", function (e) {
    errors.push("error: " + (e.message || (e.target && (e.target.src || e.target.href)) || e.type));
  }, true);
  document.addEventListener("securitypolicyviolation", function (e) {
    errors.push("refused by the page's policy: " + e.violatedDirective + " " + e.blockedURI);
  });
  function within(box, r) {
    return r.left >= box.left - 1 && r.right <= box.right + 1 &&
           r.top >= box.top - 1 && r.bottom <= box.bottom + 1;
  }
  function whole(t) {  // a text cut to fit holds its whole in a title
    var title = t.querySelector("title");
    return title ? title.textContent : t.textContent;
  }
  function text(svg, selector) {
    var found = svg.querySelector(selector);
    return found ? whole(found) : "";
  }
  function chart(svg) {
    var box = svg.getBoundingClientRect();
    var outside = Array.prototype.filter.call(svg.querySelectorAll("text"), function (t) {
      return t.textContent && !within(box, t.getBoundingClientRect());
    }).map(function (t) { return t.textContent; });
    var series = Array.prototype.map.call(svg.querySelectorAll("g.series"), function (g) {
      return {name: g.getAttribute("data-name"), points: g.querySelectorAll(".point").length};
    });
    var legend = Array.prototype.map.call(svg.querySelectorAll(".legend-item text"), whole);
    return {title: text(svg, "text.title"), declared: Number(svg.getAttribute("data-series")),
            series: series, legend: legend, x: text(svg, "text.axis-label.x"),
            y: text(svg, "text.axis-label.y"), outside: outside,
            width: Math.round(box.width)};
  }
  window.addEventListener("load", function () {
    var out = document.createElement("pre");
    out.id = "report-check";
    out.textContent = JSON.stringify({
      errors: errors,
      fetched: performance.getEntriesByType("resource").map(function (r) { return r.name; }),
      scripts: document.scripts.length - 1,
      width: document.documentElement.scrollWidth, window: window.innerWidth,
      height: document.documentElement.scrollHeight,
      text: document.body.innerText,
      figures: document.querySelectorAll("figure").length,
      charts: Array.prototype.map.call(document.querySelectorAll("svg.chart"), chart)});
    document.body.appendChild(out);
  });
})();
</script>"""


def chromium():
    for name in (os.environ.get("CHROMIUM"), "chromium", "chromium-browser"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def browse(browser, page, *options):
    """Chromium's run on page (a file), in a profile of its own: its
    output, and its log's console lines."""
    with tempfile.TemporaryDirectory() as profile:
        done = subprocess.run([browser, *FLAGS, f"--user-data-dir={profile}",
                               "--enable-logging=stderr", "--v=0", *options,
                               "file://" + os.path.abspath(page)],
                              capture_output=True, text=True, timeout=SECONDS,
                              stdin=subprocess.DEVNULL)
    console = [line for line in done.stderr.splitlines() if ":CONSOLE" in line]
    return done, console


def seen(browser, page):
    """What the checker found in page, laid out 1280 pixels wide."""
    with tempfile.TemporaryDirectory() as folder:
        copy = os.path.join(folder, "checked.html")
        with open(page, encoding="utf-8") as f:
            text = f.read()
        with open(copy, "w", encoding="utf-8") as f:
            f.write(text.replace("<head>", "<head>" + CHECKER, 1))
        done, console = browse(browser, copy, f"--window-size={WIDTH},900", "--dump-dom",
                               "--virtual-time-budget=5000")
    found = RESULT.search(done.stdout)
    if not found:
        raise SystemExit(f"{page}: the checker wrote nothing; Chromium said:\n"
                         f"{done.stderr[-2000:]}")
    result = json.loads(html.unescape(found.group(1)))
    result["errors"] += console
    return result


def screenshot(browser, page, png, height):
    done, _ = browse(browser, page, f"--window-size={WIDTH},{min(max(height, 600), 16000)}",
                     f"--screenshot={os.path.abspath(png)}")
    return os.path.exists(png) and os.path.getsize(png) > 0


def problems(r, wanted):
    """Each check the page fails, in one line; wanted: texts it must show."""
    found = [f"console or load error: {e}" for e in r["errors"]]
    found += [f"fetched {url}" for url in r["fetched"]]
    found += [f"{r['scripts']} script(s) of its own"] if r["scripts"] else []
    if r["width"] > r["window"]:
        found.append(f"{r['width']} pixels wide in a {r['window']}-pixel window")
    if not r["charts"] or len(r["charts"]) != r["figures"]:
        found.append(f"{len(r['charts'])} charts for {r['figures']} figures")
    for c in r["charts"]:
        where = f"chart {c['title']!r}"
        if not c["series"] or len(c["series"]) != c["declared"]:
            found.append(f"{where}: {len(c['series'])} series drawn of {c['declared']}")
        found += [f"{where}: series {s['name']!r} has no marker" for s in c["series"]
                  if not s["points"]]
        found += [f"{where}: {s['name']!r} not in its legend" for s in c["series"]
                  if s["name"] not in c["legend"]]
        found += [f"{where}: no {axis} axis label" for axis in ("x", "y") if not c[axis].strip()]
        found += [f"{where}: {t!r} lies outside the chart" for t in c["outside"]]
    found += [f"does not show {t!r}" for t in wanted if t not in r["text"]]
    return found


def fixtures(folder):
    """The unit tests' runs as three reports: [(page, texts it must show)]."""
    import unit_report
    from dotprod_sweep.figures import model
    from dotprod_sweep.report import pages, two_runs
    from dotprod_sweep.views import prose
    one = unit_report.one_run()
    several = unit_report.several_runs()
    made = [("one-run.html", pages.render([one], ["run.json"], "html"),
              prose.answer_lines(model.model(one)).splitlines()),
             ("history.html", pages.render(several, unit_report.names(len(several)), "html"),
              [unit_report.HOSTILE + " at 10^5: 2× slower from commit 3c0ffee"]),
             ("two-runs.html", pages.render(several[2:4], ["before.json", "after.json"], "html",
                                            two_runs.Asked(fail_above=0.2)),
              ["Before and after: commit 2c0ffee → commit 3c0ffee",
               "gate failed: " + unit_report.HOSTILE + " is slower than in the old run"])]
    found = []
    for name, data, wanted in made:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        found.append((os.path.join(folder, name), wanted))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=".", help="where the pages and screenshots go")
    parser.add_argument("pages", nargs="*", help="reports to check, instead of the fixtures")
    args = parser.parse_args()
    browser = chromium()
    if not browser:
        print("check_browser: no chromium on PATH: skipped")
        return SKIPPED
    os.makedirs(args.out, exist_ok=True)
    pages = [(p, []) for p in args.pages] or fixtures(args.out)
    failed = False
    for page, wanted in pages:
        r = seen(browser, page)
        png = os.path.join(args.out, os.path.splitext(os.path.basename(page))[0] + ".png")
        found = problems(r, wanted)
        found += [] if screenshot(browser, page, png, r["height"]) else ["no screenshot"]
        print(f"{page}: {len(r['charts'])} charts, {sum(len(c['series']) for c in r['charts'])} "
              f"series, {r['width']} of {r['window']} pixels wide, {r['height']} high, "
              f"{len(r['errors'])} console errors; screenshot {png}")
        for c in r["charts"]:
            drawn = ", ".join(f"{s['name']} ({s['points']})" for s in c["series"])
            print(f"  {c['title']}: {drawn}; x {c['x']!r}, y {c['y']!r}")
        for line in found:
            print(f"  FAILED: {line}")
        failed = failed or bool(found)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
