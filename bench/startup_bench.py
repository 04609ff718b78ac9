#!/usr/bin/env python3
"""Start-up and memory figures of the real program under Xvfb (not a test: it prints numbers).

    bench/startup_bench.py [--runs N]     (BUILD_DIR selects the build folder, default build)

For each run it measures, against a local recording service:
  - first start (no profile): time until the probe request arrives and until the sign-up window
    is mapped, and the resident memory of the whole process tree then (no web engine yet);
  - start with a profile: time until the favourites page is requested and the window mapped, and
    the memory of the process tree once the page has loaded (the web engine running);
  - a second copy: time until it has ended.
"""

import argparse
import os
import statistics
import subprocess
import sys
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


def tree_rss_kib(pid):
    """Resident memory of a process and all its descendants, in KiB: (all, anonymous only).
    Most of the rest is shared library text, which the system can drop and share."""
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
    total, anon, todo = 0, 0, [pid]
    while todo:
        current = todo.pop()
        todo.extend(children.get(current, []))
        try:
            with open("/proc/%d/status" % current) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
                    elif line.startswith("RssAnon:"):
                        anon += int(line.split()[1])
        except OSError:
            pass
    return total, anon


def first_start(program):
    with harness.Session(program) as s:
        s.start_desktop(tray=True)
        service = s.start_service()
        began = time.monotonic()
        process = s.start_program()
        service.wait_for_request("/app/apphtml.html")
        probe = time.monotonic() - began
        s.wait_for_window("User Info - Enter Your Email to Start")
        window = time.monotonic() - began
        time.sleep(1.0)  # let it settle before reading memory
        rss = tree_rss_kib(process.pid)
        return probe, window, rss


def start_with_profile(program):
    with harness.Session(program) as s:
        s.start_desktop(tray=True)
        s.write_store(PROFILE)
        service = s.start_service()
        began = time.monotonic()
        process = s.start_program()
        service.wait_for_request("/app/fav.asp")
        page = time.monotonic() - began
        s.wait_for_window("Pellamark")
        window = time.monotonic() - began
        time.sleep(3.0)
        rss = tree_rss_kib(process.pid)

        began = time.monotonic()
        second = subprocess.run([program], env=s.env(), timeout=30)
        second_copy = time.monotonic() - began
        assert second.returncode == 0
        return page, window, rss, second_copy


def summary(name, values, unit, scale=1.0):
    values = [v * scale for v in values]
    print("%-44s median %8.1f %s   min %8.1f   max %8.1f" %
          (name, statistics.median(values), unit, min(values), max(values)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = os.environ.get("BUILD_DIR", "build")
    program = os.path.abspath(os.path.join(build, "app", "pellamark_e2e"))
    if not os.path.exists(program):
        sys.exit("no %s: build the project first" % program)

    firsts = [first_start(program) for _ in range(args.runs)]
    profiles = [start_with_profile(program) for _ in range(args.runs)]
    print("runs: %d" % args.runs)
    summary("first start: probe request", [f[0] for f in firsts], "ms", 1000)
    summary("first start: sign-up window mapped", [f[1] for f in firsts], "ms", 1000)
    summary("first start: memory, sign-up shown", [f[2][0] for f in firsts], "MiB", 1 / 1024)
    summary("  of which anonymous", [f[2][1] for f in firsts], "MiB", 1 / 1024)
    summary("profile: favourites page requested", [p[0] for p in profiles], "ms", 1000)
    summary("profile: main window mapped", [p[1] for p in profiles], "ms", 1000)
    summary("profile: memory, page shown (all processes)", [p[2][0] for p in profiles], "MiB",
            1 / 1024)
    summary("  of which anonymous", [p[2][1] for p in profiles], "MiB", 1 / 1024)
    summary("second copy: ended", [p[3] for p in profiles], "ms", 1000)


if __name__ == "__main__":
    main()
