#!/usr/bin/env python3
"""Start-up, memory and restore figures of the real program under Xvfb, side by side with a plain
single-process web view tray wrapper (bench/baseline_tray.cpp), in the same run and on the same
kind of desktop. Not a test: it prints numbers.

    bench/startup_bench.py [--runs N] [--hidden SECONDS]
        BUILD_DIR selects the build folder of the program (default build/default), BASELINE_DIR the one
        holding bench/bench_baseline_tray (default: BUILD_DIR).

Runs of the two programs are interleaved. Each run with a profile measures:
  - exec to the tray icon embedded, and exec to the page painted (a screenshot of the screen
    polled until the page's colour shows);
  - the proportional set size (PSS, /proc/PID/smaps_rollup) of the whole process tree with the
    page shown;
  - close to the tray, Restore from the tray icon at once: until the page is painted again;
  - close to the tray, wait: the tree's PSS and CPU time over that wait;
  - Restore from the tray icon after the wait: from the click until the window is viewable (the
    window manager lists it, seen by `xprop -spy` as it happens), and until the page is painted.
The Restore figures count from the moment the click is sent.
A first start of the program (no profile) adds the tree's PSS with the sign-up dialog shown.
"""

import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

PROFILE = (
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark]\n"
    "\"UserId\"=\"abcde0123456789\"\n"
    "\"EmailAddress\"=\"bench@example.org\"\n"
    "\"PubId\"=dword:00000002\n"
    "\"Version\"=\"1.00.00\"\n"
    "\"StartUp\"=dword:00000001\n"
)
# The page's colour, found in the screenshots: #3c7a2e, in the screen's B G R byte order.
PAGE_COLOUR = b"\x2e\x7a\x3c"
PAGES = {
    "/app/apphtml.html": b"<html><body>ok</body></html>",
    "/app/fav.asp": b"<html><body style='background:#3c7a2e'><h1>Favourites</h1></body></html>",
}
SIGN_UP = "User Info - Enter Your Email to Start"


def tree(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    found, todo = [], [pid]
    while todo:
        current = todo.pop()
        found.append(current)
        todo.extend(children.get(current, []))
    return found


def tree_pss_kib(pid):
    total = 0
    for current in tree(pid):
        try:
            with open("/proc/%d/smaps_rollup" % current) as f:
                total += sum(int(line.split()[1]) for line in f if line.startswith("Pss:"))
        except OSError:
            pass
    return total


def tree_cpu_seconds(pid):
    """User and system time of each process of the tree, by process id. Without the time of the
    children a process has reaped: that would count a reaped child's whole life."""
    times = {}
    for current in tree(pid):
        try:
            with open("/proc/%d/stat" % current) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            times[current] = sum(int(v) for v in fields[11:13]) / os.sysconf("SC_CLK_TCK")
        except OSError:
            pass
    return times


def cpu_used(before, after):
    """CPU time the tree used between two readings; a process that ended in between is not
    counted for its last moments."""
    return sum(max(0.0, seconds - before.get(pid, 0.0)) for pid, seconds in after.items())


def painted(s):
    shot = subprocess.run(["xwd", "-root", "-silent"], env=s.env(), capture_output=True,
                          timeout=10).stdout
    return shot.count(PAGE_COLOUR) > 20000


def tray_icon(s):
    panel = s.tray_window()
    if panel is None:
        return None
    out = s.run_x(["xwininfo", "-tree", "-id", hex(panel)]).stdout
    icons = [int(line.split()[0], 16) for line in out.splitlines()
             if line.strip().startswith("0x") and "child" not in line]
    return icons[0] if icons else None


def click_tray(s):
    """Clicks the tray icon; the moment just before the click is sent (the click program's own
    start is counted too)."""
    icon = harness.wait_until(lambda: tray_icon(s), what="the tray icon")
    s.run_x(["xdotool", "mousemove", "--window", str(icon), "6", "6"])
    began = time.monotonic()
    s.run_x(["xdotool", "click", "1"])
    return began


class ClientListSpy:
    """The window manager's list of the windows it manages, as it changes (xprop -spy): the moment
    a window becomes viewable, without polling."""

    def __init__(self, s):
        self.changes = []  # (time, ids)
        self.process = subprocess.Popen(["xprop", "-root", "-spy", "_NET_CLIENT_LIST"],
                                        env=s.env(), stdout=subprocess.PIPE, text=True)
        self.initial = self._ids(self.process.stdout.readline())
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    @staticmethod
    def _ids(line):
        return set(part.strip(" ,\n") for part in line.split("#", 1)[-1].split(","))

    def _read(self):
        for line in self.process.stdout:
            self.changes.append((time.monotonic(), self._ids(line)))

    def first_new_window_after(self, moment, timeout=60):
        def found():
            for when, ids in list(self.changes):
                if when >= moment and ids - self.initial:
                    return when
            return None
        return harness.wait_until(found, timeout=timeout, interval=0.005,
                                  what="a new window")

    def stop(self):
        self.process.kill()


def since(began):
    return time.monotonic() - began


def close_to_tray(s, title):
    window = s.wait_for_window(title)
    s.close_window(window)
    s.wait_for_no_window(title)
    harness.wait_until(lambda: not painted(s), what="the page to leave the screen")


def with_profile(command, title, hidden):
    figures = {}
    with harness.Session(command[0]) as s:
        s.start_desktop(tray=True, width=1024, height=768)
        s.write_store(PROFILE)
        s.start_service(dict(PAGES))
        began = time.monotonic()
        process = s._spawn("program", command)
        harness.wait_until(lambda: tray_icon(s), interval=0.005, what="the tray icon")
        figures["tray"] = since(began)
        harness.wait_until(lambda: painted(s), timeout=60, interval=0.01, what="the page")
        figures["page"] = since(began)
        time.sleep(3.0)
        figures["pss_shown"] = tree_pss_kib(process.pid)

        close_to_tray(s, title)
        time.sleep(0.5)
        began = click_tray(s)
        harness.wait_until(lambda: painted(s), timeout=60, interval=0.01, what="the page")
        figures["restore_warm"] = since(began)

        close_to_tray(s, title)
        cpu = tree_cpu_seconds(process.pid)
        time.sleep(hidden)
        figures["cpu_hidden"] = cpu_used(cpu, tree_cpu_seconds(process.pid))
        figures["pss_tray"] = tree_pss_kib(process.pid)
        spy = ClientListSpy(s)
        began = click_tray(s)
        figures["viewable_cold"] = spy.first_new_window_after(began) - began
        spy.stop()
        harness.wait_until(lambda: painted(s), timeout=60, interval=0.01, what="the page")
        figures["restore_cold"] = since(began)
        assert process.poll() is None, "the program ended during the run"
    return figures


def first_start(program):
    with harness.Session(program) as s:
        s.start_desktop(tray=True, width=1024, height=768)
        s.start_service(dict(PAGES))
        process = s.start_program()
        s.wait_for_window(SIGN_UP)
        time.sleep(1.0)  # let it settle before reading memory
        return {"pss_signup": tree_pss_kib(process.pid)}


ROWS = [  # key, label, unit, scale
    ("pss_tray", "tree PSS %s s after closing to the tray", "MiB", 1 / 1024),
    ("pss_signup", "tree PSS, sign-up dialog shown (first start)", "MiB", 1 / 1024),
    ("pss_shown", "tree PSS, page shown", "MiB", 1 / 1024),
    ("page", "exec to the page painted (with a profile)", "ms", 1000),
    ("tray", "exec to the tray icon embedded", "ms", 1000),
    ("viewable_cold", "Restore to the window viewable, after the wait", "ms", 1000),
    ("restore_cold", "Restore to the page painted, after the wait", "ms", 1000),
    ("restore_warm", "Restore to the page painted, at once", "ms", 1000),
    ("cpu_hidden", "CPU time of the tree over the wait, hidden", "s", 1),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--hidden", type=float, default=60.0, help="seconds hidden in the tray")
    args = parser.parse_args()
    build = os.environ.get("BUILD_DIR", os.path.join("build", "default"))
    program = os.path.abspath(os.path.join(build, "app", "pellamark_e2e"))
    baseline = os.path.abspath(os.path.join(os.environ.get("BASELINE_DIR", build), "bench",
                                            "bench_baseline_tray"))
    for path in (program, baseline):
        if not os.path.exists(path):
            sys.exit("no %s: build the project first" % path)
    port = int(os.environ.get("PELLAMARK_E2E_PORT", "18480"))
    page = "http://127.0.0.1:%d/app/fav.asp" % port

    results = {"pellamark": [], "baseline": []}
    for run in range(args.runs):
        results["pellamark"].append(with_profile([program], "Pellamark", args.hidden))
        results["pellamark"][-1].update(first_start(program))
        results["baseline"].append(with_profile([baseline, page], "Baseline", args.hidden))
        print("run %d: %r" % (run + 1, results), file=sys.stderr)

    print("runs: %d each, interleaved; medians (min..max)" % args.runs)
    print("%-48s %28s %28s %6s" % ("figure", "pellamark", "baseline", "ratio"))
    for key, label, unit, scale in ROWS:
        medians = {}
        cells = []
        for name in ("pellamark", "baseline"):
            values = [r[key] * scale for r in results[name] if key in r]
            if not values:
                cells.append("-")
                continue
            medians[name] = statistics.median(values)
            cells.append("%.1f (%.1f..%.1f) %s" % (medians[name], min(values), max(values), unit))
        ratio = ("%.2f" % (medians["pellamark"] / medians["baseline"])
                 if len(medians) == 2 and medians["baseline"] else "-")
        print("%-48s %28s %28s %6s" % (label.replace("%s", "%g" % args.hidden), cells[0],
                                       cells[1], ratio))


if __name__ == "__main__":
    main()
