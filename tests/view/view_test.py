#!/usr/bin/python3
"""The page of a spy log in a real browser: dialogues recorded against
played devices (a serial binary one, a serial stream, a TCP one) are made
into pages by nbrun --view and rendered by headless Chromium; every
exchange and every latency the log shows must be rows of the page's table
"exchanges". A 100,000-line stream, written here rather than recorded, must
load with every exchange in its data; the time it took to draw is printed
(a figure, not a limit: --bench prints only that).

Without chromium the test is skipped (exit 77) unless CI is set: there the
set-up (tools/deps.sh) installs it, and a missing browser is a failure.

usage: view_test.py --top TOP --out OUT --wine-run WINE_RUN --scratch DIR [--bench]
"""
import argparse
import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "docs"))  # the documents' runner of nbrun
import run_doc_blocks  # noqa: E402
from run_doc_blocks import windows  # noqa: E402

DIALOGUES = [
    ("modbus", ["--device", "COM1=examples/devices/modbus-rtu.dev", "Wirelet.nbp", "Wirecodes.nbp",
                "examples/recipes/modbus.nbs"]),
    ("stream", ["--device", "COM1=examples/devices/scale-stream.dev", "Wirelet.nbp", "examples/recipes/scale-stream.nbs"]),
    ("scpi", ["--device", "127.0.0.7:5025=examples/devices/scpi-meter.dev", "Wirelet.nbp", "examples/recipes/scpi.nbs"]),
]
STREAM_LINES = 100000
BROWSER_SECONDS = 120
SKIPPED = 77
DATA = re.compile(r"^\s*([\d.]+) (\S+)\s+([<>])\s+(\d+) (.*)$")


class Dom(html.parser.HTMLParser):
    """The table's rows and the summary of a page as the browser left it."""

    def __init__(self):
        super().__init__()
        self.rows, self.summary, self.body, self.table = [], {}, {}, {}

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "tr" and attrs.get("class") == "exchange":
            self.rows.append(attrs)
        elif attrs.get("id") == "summary":
            self.summary = attrs
        elif attrs.get("id") == "exchanges":
            self.table = attrs
        elif tag == "body":
            self.body = attrs


def render(chromium, page):
    """The page's DOM once its script has run."""
    with tempfile.TemporaryDirectory() as profile:
        done = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                               "--disable-component-update", "--disable-sync", "--no-first-run",
                               "--user-data-dir=" + profile, "--dump-dom", "file://" + page],
                              capture_output=True, timeout=BROWSER_SECONDS)
    dom = Dom()
    dom.feed(done.stdout.decode("utf-8", "replace"))
    return dom


def unescape(shown):
    out, i = bytearray(), 0
    while i < len(shown):
        if shown[i] == "\\":
            c = shown[i + 1]
            if c == "x":
                out.append(int(shown[i + 2:i + 4], 16))
                i += 4
                continue
            out.append({"r": 13, "n": 10, "t": 9}.get(c, ord(c)))
            i += 2
        else:
            out.append(ord(shown[i]))
            i += 1
    return bytes(out)


def data_lines(log):
    """(ms, where, direction, bytes in hex, latency or None) of each line of bytes."""
    found = []
    for line in log.split("\n"):
        m = DATA.match(line)
        if not m or int(m.group(4)) == 0:
            continue
        rest, count = m.group(5), int(m.group(4))
        if rest.startswith('"'):
            end = rest.index('"', 1)
            while rest[end - 1] == "\\" and not rest[:end].endswith("\\\\"):
                end = rest.index('"', end + 1)
            raw = unescape(rest[1:end])
        else:
            raw = bytes.fromhex(rest[:count * 3 - 1])
        latency = re.search(r"latency (?:at most )?([\d.]+) ms", rest)
        found.append((m.group(1), m.group(2), m.group(3), raw.hex().upper(), latency and latency.group(1)))
    return found


def lane_of(where, lane):
    return lane == where or (where == "TCP" and lane.startswith("TCP "))


def check(log, dom):
    """What the page lacks of the log."""
    problems = []
    rows = dom.rows
    if not rows:
        return ["the page shows no exchange (did its script run?)"]
    if str(len(rows)) != dom.summary.get("data-exchanges"):
        problems.append("%d rows, but the page holds %s exchanges" % (len(rows), dom.summary.get("data-exchanges")))
    for ms, where, direction, hexed, latency in data_lines(log):
        mine = [r for r in rows if lane_of(where, r["data-lane"])]
        if direction == ">" and not any(r["data-request"] == hexed and r["data-ms"] == ms for r in mine):
            problems.append("the request at %s on %s (%s) is not on the page" % (ms, where, hexed))
        if direction == "<" and not any(hexed in r["data-answer"] for r in mine):
            problems.append("the answer at %s on %s (%s) is not on the page" % (ms, where, hexed))
        if latency and not any(r["data-latency"] == latency and hexed in r["data-answer"] for r in mine):
            problems.append("the latency %s ms of the answer at %s on %s is not on the page" % (latency, ms, where))
    return problems


def stream_log():
    """A 10-minute stream: a reading asked for and answered every 12 ms."""
    lines = ["# spy log, format 2: time in ms, where, what (> the plug-in sent, < came back)",
             "      0.0 COM1   open \"COM1\": ok", "      0.1 COM1   settings 9600 8N1, no flow control"]
    for k in range(STREAM_LINES // 2):
        ms = 1 + k * 12
        reading = "ST,GS,+%07.2f kg\\r\\n" % (12 + (k % 50) / 100)
        lines.append("%9.1f COM1   >     3 \"W\\r\\n\"" % ms)
        lines.append("%9.1f COM1   <    19 \"%s\"  (19 reads, latency 4.2 ms, came after %.1f)" % (ms + 6, reading, ms + 4))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    for option in ("--top", "--out", "--wine-run", "--scratch"):
        parser.add_argument(option, required=True)
    parser.add_argument("--bench", action="store_true")
    options = parser.parse_args()
    chromium = shutil.which("chromium")
    if not chromium:
        if os.environ.get("CI"):
            print("FAILED: chromium is missing, and CI is set (tools/deps.sh installs it)")
            return 1
        print("SKIPPED: chromium is missing (tools/deps.sh installs it); the page is not tested")
        return SKIPPED
    options.every_script_of = []
    runner = run_doc_blocks.Runner(options)
    shutil.rmtree(runner.scratch, ignore_errors=True)
    os.makedirs(runner.scratch)
    failures = []

    def page_of(name, log_path):
        page = os.path.join(runner.scratch, name + ".html")
        code, out, err = runner.nbrun(name + "-view", ["--view", windows(log_path), windows(page)])
        if code != 0 or not os.path.exists(page):
            failures.append("%s: nbrun --view ended with %s: %s" % (name, code, err.strip()))
            return None
        return page

    if not options.bench:
        for name, args in DIALOGUES:
            code, out, err = runner.nbrun(name, ["--quiet", "--spy=spy.log"] + runner.arguments(args))
            log_path = os.path.join(runner.scratch, name, "spy.log")
            if code != 0:
                failures.append("%s: the recorded run ended with %s: %s" % (name, code, err.strip()))
                continue
            page = page_of(name, log_path)
            if not page:
                continue
            with open(log_path, encoding="latin-1") as f:
                problems = check(f.read(), render(chromium, page))
            failures += ["%s: %s" % (name, p) for p in problems]
            print("%s: %s" % (name, "FAILED" if problems else "every exchange and latency is on the page"))

    log_path = runner.write("stream-100000.log", stream_log().rstrip("\n"))
    page = page_of("stream-100000", log_path)
    if page:
        dom = render(chromium, page)
        print("a page of %d lines, %d exchanges (%d KB): drawn %s ms after it began to load, %s rows in view"
              % (STREAM_LINES, STREAM_LINES // 2, os.path.getsize(page) // 1024, dom.body.get("data-drawn-ms", "?"),
                 dom.table.get("data-shown", "?")))
        if dom.summary.get("data-exchanges") != str(STREAM_LINES // 2) or not dom.rows or \
                str(len(dom.rows)) != dom.table.get("data-shown"):
            failures.append("the stream's page holds %s exchanges and shows %d rows, not %d and those in view"
                            % (dom.summary.get("data-exchanges"), len(dom.rows), STREAM_LINES // 2))
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
