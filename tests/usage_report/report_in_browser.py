#!/usr/bin/env python3
"""The HTML report, the whole road: a database of known jobs, quillonctl.exe
under Wine writing the report, and the page read in headless Chromium
(through ChromeDriver) the way a person sees it. The table's totals and the
chart's bars are read from the DOM and checked against the jobs' own sums;
the page must load nothing, run nothing and show markup in names as text.
Screenshots and a printed PDF are kept under the build directory.

usage: report_in_browser.py BUILD_DIR SCHEMA_FILE
"""
import base64
import csv
import io
import json
import os
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

BUILD, SCHEMA = os.path.abspath(sys.argv[1]), sys.argv[2]
ARTIFACTS = os.path.join(BUILD, "usage_report")
FAILURES = []


def check(ok, what, observed=None):
    if not ok:
        FAILURES.append(what if observed is None else f"{what}: observed {observed!r}")


USERS = ["ann", "Bob, Jr.", 'Zoë "Z" Ødegård', "Дмитрий", "李雷", "<script>alert(1)</script>"]
PRINTERS = ["Laser 2", "Farbe, 3. OG"]
COMPUTERS = ["WS-01", "Büro-PC"]
DAY = 86400
MARCH_1 = 1740787200  # 2025-03-01 00:00 UTC
QUOTA = 1000  # ann's pages in all


def known_jobs():
    """(user, printer, computer, submitted, pages, color, duplex, bytes); every
    job at noon UTC, so that any zone within 12 hours puts it on that day."""
    jobs, seed = [], 7
    for i in range(60):
        seed = (seed * 1103515245 + 12345) % 2**32
        r = seed >> 8
        day = r % 34 - 2  # two days either side of March
        jobs.append((r % len(USERS), (r // 7) % 2, (r // 11) % 2, MARCH_1 + day * DAY + 43200,
                     1 + r % 40, 1 + (r // 13) % 2, 1 + (r // 17) % 3, 1000 + r % 9000))
    return jobs


def fill(path, jobs):
    db = sqlite3.connect(path)
    with open(SCHEMA, encoding="utf-8") as f:
        db.executescript(f.read())
    db.executemany("INSERT INTO USERS (UserName) VALUES (?)", [(u,) for u in USERS])
    db.executemany("INSERT INTO PRINTERS (PrnName) VALUES (?)", [(p,) for p in PRINTERS])
    db.executemany("INSERT INTO COMPUTERS (CompName) VALUES (?)", [(c,) for c in COMPUTERS])
    db.executemany(
        "INSERT INTO PRNDATA (idUser, idPrinter, idComp, DocName, Submitted, Pages, Color, "
        "Duplex, JobSize, PaperSize, PaperLength, PaperWidth) VALUES (?, ?, ?, 'doc', ?, ?, ?, ?, ?, 9, 0, 0)",
        [(u + 1, p + 1, c + 1, t, n, col, dup, b) for u, p, c, t, n, col, dup, b in jobs])
    # ann has a quota of her own: 1000 pages in all, until reset.
    db.execute("INSERT INTO QUOTAS (idUser, idPrinter, Pages, ColourOnly, Period, Action) "
               f"VALUES (1, -1, {QUOTA}, 0, 'none', 1)")
    db.commit()
    db.close()


def sums(jobs, key):
    out = {}
    for j in jobs:
        if not MARCH_1 <= j[3] < MARCH_1 + 31 * DAY:
            continue
        s = out.setdefault(key(j), [0, 0, 0, 0, 0])
        s[0] += 1
        s[1] += j[4]
        s[2] += j[4] if j[5] == 2 else 0
        s[3] += j[4] if j[6] == 1 else (j[4] + 1) // 2
        s[4] += j[7]
    return out


def quillonctl(*args, code=0):
    run = subprocess.run([os.path.join(BUILD, "wine-run"), os.path.join(BUILD, "bin", "quillonctl.exe"),
                          "report", *args], capture_output=True, timeout=120)
    check(run.returncode == code, f"quillonctl report {' '.join(args)} exits {code}",
          (run.returncode, run.stderr.decode(errors="replace")))
    return run.stdout


class Browser:
    """Chromium through ChromeDriver's W3C WebDriver protocol, on loopback."""

    def __init__(self, profile):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.driver = subprocess.Popen(["chromedriver", f"--port={self.port}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while True:
            try:
                self.call("GET", "/status")
                break
            except OSError:
                if time.monotonic() > deadline or self.driver.poll() is not None:
                    raise
                time.sleep(0.1)  # ChromeDriver offers nothing to wait on but its port
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                f"--user-data-dir={profile}", "--window-size=1100,1500", "--hide-scrollbars"]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": "/usr/bin/chromium", "args": args}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.load(r)["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError(f"WebDriver {method} {path}: {e.read().decode(errors='replace')[:500]}")

    def do(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def screenshot(self, path):
        """The whole page: the window is made as tall as the page first (its
        frame, outer less inner height, added)."""
        self.do("POST", "/window/rect", {"width": 1000, "height": 800})
        height = self.do("POST", "/execute/sync", {"script": (
            "return Math.ceil(document.body.getBoundingClientRect().bottom) + 32"
            " + window.outerHeight - window.innerHeight"), "args": []})
        self.do("POST", "/window/rect", {"width": 1000, "height": int(height)})
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.do("GET", "/screenshot")))

    def close(self):
        try:
            self.call("DELETE", f"/session/{self.session}")
        finally:
            self.driver.terminate()
            self.driver.wait(timeout=30)


# What the page shows, as a reader finds it: cells by their text, bars by
# their drawn size.
READ_PAGE = """
const cells = tr => Array.from(tr.children).map(c => c.textContent);
const box = r => { const b = r.getBBox(); return {width: b.width, height: b.height}; };
const bar = g => ({label: g.dataset.label, pages: +g.dataset.pages, colour: +g.dataset.colourPages,
  mono_size: box(g.querySelector('rect.mono')), colour_size: box(g.querySelector('rect.colour')),
  shown: g.getBoundingClientRect().height > 0});
return {
  header: cells(document.querySelector('table.usage thead tr')),
  rows: Array.from(document.querySelectorAll('table.usage tbody tr')).map(cells),
  total: cells(document.querySelector('table.usage tfoot tr')),
  bars: Array.from(document.querySelectorAll('svg.bars g.bar')).map(bar),
  steps: Array.from(document.querySelectorAll('svg.time g.step')).map(bar),
  scripts: document.scripts.length,
  loaded: performance.getEntriesByType('resource').length,
  title: document.querySelector('h1').textContent,
  scope: document.querySelector('p.scope').textContent,
};
"""


def figures(cells):
    return [int(c) for c in cells[1:6]]


def check_bars(bars, by_label, dimension):
    """Each bar names a row and carries its figures; mono and colour are drawn
    in proportion to their pages, against the longest bar for the most pages."""
    most = max(s[1] for s in by_label.values())
    longest = max(bars, key=lambda b: b["pages"])
    whole = longest["mono_size"][dimension] + longest["colour_size"][dimension]
    check(whole > 100, "the longest bar has a visible length", whole)
    for b in bars:
        check(b["label"] in by_label, "every bar names a row of the table", b["label"])
        s = by_label.get(b["label"], [0, 0, 0])
        check((b["pages"], b["colour"]) == (s[1], s[2]), f"bar {b['label']!r}: its pages",
              (b["pages"], b["colour"]))
        mono, colour = b["mono_size"][dimension], b["colour_size"][dimension]
        check(abs(mono - whole * (s[1] - s[2]) / most) < 1.0 and abs(colour - whole * s[2] / most) < 1.0,
              f"bar {b['label']!r} is drawn to scale", (mono, colour, whole, s[1], s[2], most))


def main():
    os.makedirs(ARTIFACTS, exist_ok=True)
    jobs = known_jobs()
    with tempfile.TemporaryDirectory(prefix="quillon-report-") as work:
        db = os.path.join(work, "jobs.db")
        fill(db, jobs)
        dsn = f"Driver=SQLite3;Database={db}"
        by_user = os.path.join(ARTIFACTS, "report-user.html")
        by_day = os.path.join(ARTIFACTS, "report-day.html")
        quillonctl("--dsn", dsn, "--from", "2025-03-01", "--to", "2025-03-31", "--format", "html",
                   "--price-mono", "0.05", "--price-colour", "0.25", "--output", "Z:" + by_user)
        quillonctl("--dsn", dsn, "--by", "day", "--from", "2025-03-01", "--to", "2025-03-31",
                   "--format", "html", "--output", "Z:" + by_day)
        if FAILURES:
            return
        # CSV on standard output (a pipe: the UTF-8 bytes as they are), read
        # by Python's own CSV reader.
        out = quillonctl("--dsn", dsn, "--from", "2025-03-01", "--to", "2025-03-31", "--format", "csv")
        rows = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
        expected_csv = {u: s for u, s in sums(jobs, lambda j: USERS[j[0]]).items()}
        check({r[0]: [int(v) for v in r[1:6]] for r in rows[1:-1]} == expected_csv,
              "the CSV on standard output", rows)
        # What fails says so in its exit code, and writes nothing.
        quillonctl("--dsn", dsn, "--output", "Z:" + os.path.join(work, "no", "such", "dir.html"), code=8)
        quillonctl("--dsn", "Driver=SQLite3;Database=" + os.path.join(work, "empty.db"), code=6)
        quillonctl("--dsn", dsn, "--by", "week", code=1)

        browser = Browser(os.path.join(work, "profile"))
        try:
            browser.do("POST", "/url", {"url": "file://" + by_user})
            page = browser.do("POST", "/execute/sync", {"script": READ_PAGE, "args": []})
            browser.screenshot(os.path.join(ARTIFACTS, "report-user.png"))
            pdf = base64.b64decode(browser.do("POST", "/print", {"background": True}))
            with open(os.path.join(ARTIFACTS, "report-user.pdf"), "wb") as f:
                f.write(pdf)

            expected = sums(jobs, lambda j: USERS[j[0]])
            total = [sum(s[i] for s in expected.values()) for i in range(5)]
            cents = sum((s[1] - s[2]) * 5 + s[2] * 25 for s in expected.values())
            check(page["header"] == ["user", "jobs", "pages", "colour_pages", "sheets", "bytes", "cost",
                                     "quota", "left"],
                  "the table's header", page["header"])
            # The quota and what is left now, counted over all of ann's jobs;
            # the other users have none, and the total sums neither.
            ann_pages = sum(j[4] for j in jobs if j[0] == 0)
            quotas = {r[0]: r[7:9] for r in page["rows"]}
            check(quotas.get(USERS[0]) == [str(QUOTA), str(QUOTA - ann_pages)], "ann's quota and what is left",
                  quotas.get(USERS[0]))
            check(all(q == ["", ""] for u, q in quotas.items() if u != USERS[0]),
                  "no quota shown for the others", quotas)
            check(page["total"][7:9] == ["", ""], "the total sums no quota", page["total"])
            check(page["total"][0] == "total" and figures(page["total"]) == total,
                  "the table's total row", page["total"])
            check(page["total"][6] == f"{cents // 100}.{cents % 100:02d}", "the total cost", page["total"])
            shown = {r[0]: figures(r) for r in page["rows"]}
            check(shown == expected, "every user's row", shown)
            check(USERS[5] in shown, "a name made of markup is shown as text", list(shown))
            check(page["scripts"] == 0, "the page holds no script", page["scripts"])
            check(page["loaded"] == 0, "the page loads nothing", page["loaded"])
            check(page["title"] == "Printing by user" and "2025-03-01 to 2025-03-31" in page["scope"],
                  "the heading names the period", (page["title"], page["scope"]))
            check(len(page["bars"]) == len(expected), "a bar per user", len(page["bars"]))
            check(all(b["shown"] for b in page["bars"]), "every bar is drawn")
            check_bars(page["bars"], expected, "width")
            check(pdf.startswith(b"%PDF") and pdf.count(b"/Type /Page") >= 1, "the page prints")

            browser.do("POST", "/url", {"url": "file://" + by_day})
            page = browser.do("POST", "/execute/sync", {"script": READ_PAGE, "args": []})
            browser.screenshot(os.path.join(ARTIFACTS, "report-day.png"))
            days = sums(jobs, lambda j: time.strftime("%Y-%m-%d", time.gmtime(j[3])))
            labels = [time.strftime("%Y-%m-%d", time.gmtime(MARCH_1 + d * DAY)) for d in range(31)]
            check([r[0] for r in page["rows"]] == labels, "every day of March, in order",
                  [r[0] for r in page["rows"]])
            check([s["label"] for s in page["steps"]] == labels, "a column over time for every day",
                  [s["label"] for s in page["steps"]])
            check(figures(page["total"]) == total, "the day report's total", page["total"])
            full = {d: days.get(d, [0, 0, 0, 0, 0]) for d in labels}
            check_bars(page["steps"], full, "height")
            check(any(full[d][1] == 0 for d in labels), "the jobs leave a day empty")
        finally:
            browser.close()


main()
for failure in FAILURES:
    print("FAILED:", failure)
print(f"{'0 failed' if not FAILURES else str(len(FAILURES)) + ' failed'}; artifacts in {ARTIFACTS}")
sys.exit(1 if FAILURES else 0)
