#!/usr/bin/env python3
"""What a person sees of the plots, in headless Chromium: the chosen code's
marker over its code on the axis, the histogram's bars, the yield, the printed
pages, a hostile log escaped, and the README's pictures as the demo makes them.

  browser_check.py --vcomctl BIN --shift BIN --docs DIR --out DIR [--update-docs]
  browser_check.py screenshot PAGE.html OUT.png
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

SKIP = 77
PAGE_SIZE = (820, 1180)  # the README's screenshot: the summary and the first chip
DEMO_PICTURES = ["demo-panel.svg", "demo-line-report.html"]
PNG_TOLERANCE = 0.02  # share of pixels that font rendering may change
HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_SCRIPT = os.path.join(HERE, "..", "..", "..", "..", "scripts", "plot-demo.sh")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def report(chip, ok, best, time, **extra):
    r = {"chip": chip, "ok": ok, "best": best, "start": 120, "updates": 10, "readings": 30,
         "elapsed_s": 3.0, "time": "2026-03-02T%sZ" % time, "panel": "SN-%s-%d" % (chip, best)}
    r.update(extra)
    return json.dumps(r)


def known_panel(b, vcomctl, out):
    raw = [{"value": v, "reading": abs(v - 131) * 0.5 + 1 + (i % 3) * 0.05, "t_s": i}
           for i, v in enumerate([100, 100, 100, 160, 160, 160, 125, 125, 125, 131, 131, 131, 131])]
    panel = json.loads(report("in525", True, 131, "06:00:00", raw=raw, range={"lo": 0, "hi": 255},
                              samples=[], saved=True, verified=True))
    with open(os.path.join(out, "known-panel.jsonl"), "w") as f:
        f.write(json.dumps(panel) + "\n")
    svg = os.path.join(out, "known-panel.svg")
    subprocess.run([vcomctl, "plot", os.path.join(out, "known-panel.jsonl"), "-o", svg], check=True)
    b.open(svg, 700, 440)
    ticks = [(float(t), box) for t, box in zip(
        b.evaluate("[...document.querySelectorAll('.xtick')].map(t => t.textContent)"),
        b.boxes(".xtick"))]
    (v0, t0), (v1, t1) = ticks[0], ticks[-1]
    centre = lambda box: (box[0] + box[2]) / 2
    expected = centre(t0) + (131 - v0) * (centre(t1) - centre(t0)) / (v1 - v0)
    chosen = b.boxes(".chosen")
    check(len(chosen) == 1 and abs(centre(chosen[0]) - expected) < 1.5,
          "the chosen marker stands over 131 on the axis (%s px, axis says %.1f)"
          % ([round(centre(c), 1) for c in chosen], expected))
    b.screenshot(os.path.join(out, "known-panel.png"))
    link, victim = os.path.join(out, "link.svg"), os.path.join(out, "victim")
    for path in (link, victim):
        if os.path.lexists(path):
            os.remove(path)
    os.symlink(victim, link)
    refused = subprocess.run([vcomctl, "plot", os.path.join(out, "known-panel.jsonl"), "-o", link],
                             stderr=subprocess.DEVNULL).returncode
    check(refused == 1 and not os.path.exists(victim), "a symlink at the output is refused")


def known_log(b, vcomctl, out):
    lines = [report("auo", True, 128, "06:00:00"), report("auo", True, 128, "06:10:00"),
             report("auo", True, 130, "06:20:00"), report("auo", True, 131, "06:30:00"),
             report("auo", False, 131, "06:40:00", reason="meter", error="<b>timed out</b>"),
             report("in525", True, 100, "06:05:00", panel="<script>window.hacked=1</script>"),
             report("in525", True, 101, "06:15:00", confirmed=False),
             report("<img src=x onerror=window.hacked=2>", True, 90, "06:25:00"),
             '{"chip": "auo", "ok": true, "flicker": NaN}', "{not json",
             report("auo", "yes", 128, "06:50:00")]
    log, html = os.path.join(out, "known-log.jsonl"), os.path.join(out, "known-log.html")
    with open(log, "w") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run([vcomctl, "line-report", log, "-o", html], check=True, stderr=subprocess.DEVNULL)
    b.open(html, *PAGE_SIZE)
    yield_text = b.evaluate("document.getElementById('yield').innerText")
    check(yield_text == "87.5 %", "the yield reads 87.5 %% (%r)" % yield_text)
    chips = b.evaluate("[...document.querySelectorAll('h2')].map(h => h.innerText.split(' · ')[0])")
    auo = chips.index("auo") if "auo" in chips else -1
    bars = [box for box in b.boxes("#chip-%d svg.codes rect.bar" % auo) if box[3] > box[1]]
    check(len(bars) == 3, "auo's histogram shows 3 bars, one per chosen code (%d)" % len(bars))
    skipped = b.evaluate("document.getElementById('skipped').innerText")
    check(skipped == "3 log lines skipped", "the bad lines are counted (%r)" % skipped)
    text = b.evaluate("document.body.innerText")
    check(b.evaluate("document.querySelectorAll('script, img').length") == 0
          and b.evaluate("window.hacked") is None, "no markup from the log took effect")
    check("<script>window.hacked=1</script>" in text and "<img src=x" in text
          and "<b>timed out</b>" in text, "the hostile panel id, chip and message read as text")
    pages = len(re.findall(rb"/Type\s*/Page(?![a-z])", b.pdf()))
    check(pages == 3, "the printed report has one A4 page per chip: 3 (%d)" % pages)
    b.screenshot(os.path.join(out, "known-log.png"))


def demo_pictures(b, args):
    subprocess.run(["bash", DEMO_SCRIPT, args.vcomctl, args.shift, args.out], check=True)
    png = os.path.join(args.out, "demo-line-report.png")
    if args.update_docs:
        os.makedirs(args.docs, exist_ok=True)
        for name in DEMO_PICTURES + ["demo-line-report.png"]:
            shutil.copy(os.path.join(args.out, name), os.path.join(args.docs, name))
        return
    for name in DEMO_PICTURES:
        with open(os.path.join(args.out, name), "rb") as made, \
                open(os.path.join(args.docs, name), "rb") as kept:
            check(made.read() == kept.read(), "docs/%s is what the demo makes" % name)
    share = browser.differing_share(png, os.path.join(args.docs, "demo-line-report.png"))
    check(share <= PNG_TOLERANCE, "docs/demo-line-report.png matches the demo's screenshot "
          "(%.2f %% of pixels differ, %.0f %% allowed)" % (100 * share, 100 * PNG_TOLERANCE))


def screenshot(page, png):
    b = browser.Browser()
    try:
        b.open(page, *PAGE_SIZE)
        b.screenshot(png)
    finally:
        b.close()


def main():
    if browser.chromium_path() is None:
        print("chromium is not installed (scripts/install-deps.sh installs it)")
        return 1 if os.environ.get("CI") == "true" else SKIP
    if len(sys.argv) == 4 and sys.argv[1] == "screenshot":
        screenshot(sys.argv[2], sys.argv[3])
        return 0
    parser = argparse.ArgumentParser()
    for option in ("--vcomctl", "--shift", "--docs", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--update-docs", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    b = browser.Browser()
    try:
        known_panel(b, args.vcomctl, args.out)
        known_log(b, args.vcomctl, args.out)
    finally:
        b.close()
    demo_pictures(None, args)
    print("screenshots in " + args.out)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
