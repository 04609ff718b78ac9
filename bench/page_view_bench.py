#!/usr/bin/env python3
"""The page view's way back when the service has been away, and its cost while it waits: the real
program under Xvfb against a stand-in service (tests/e2e/harness.py). Not a test: it prints numbers.

    bench/page_view_bench.py [--runs N] [--away SECONDS] [--wait SECONDS]
        BUILD_DIR selects the build folder (default build/default)

Each run: the page shown, the service stopped, F5 (the view's own page), the service back after
--away seconds; then the time until the favourites page is painted again:
  - without the system's word on the network (the view's own retries), and
  - with it: a stand-in NetworkManager on a bus given as the system bus says the network went and
    came back, as the service does.
Then, the service away for --wait seconds, after the first tries: the whole tree's CPU time,
second by second (the tries come 2, 6, 14, 30, 62 ... s after the failure).
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from startup_bench import PAGES, PROFILE, painted, tree_cpu_seconds, cpu_used  # noqa: E402


class Run:
    def __init__(self, build, network):
        self.program = os.path.join(build, "app", "pellamark_e2e")
        self.standin = os.path.join(build, "tests", "e2e", "pellamark_desktop_standin")
        self.network = network
        self.s = harness.Session(self.program)

    def __enter__(self):
        s = self.s
        s.start_desktop(tray=True, width=1024, height=768)
        s.write_store(PROFILE)
        s.start_service(dict(PAGES))
        extra = {}
        if self.network:
            s.start_session_bus()
            system = os.path.join(s.root, "system-bus")
            s._spawn("system-bus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                    "--address=unix:path=" + system])
            harness.wait_until(lambda: os.path.exists(system), what="the system bus")
            extra["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + system
            env = dict(s.env(), **extra)
            self.nm = subprocess.Popen([self.standin, "--network-manager"], env=env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            assert self.nm.stdout.readline().strip() == "ready"
        self.process = s.start_program(extra_env=extra)
        harness.wait_until(lambda: painted(s), timeout=60, what="the page")
        self.window = s.wait_for_window("Pellamark")
        return self

    def __exit__(self, *exc):
        if self.network:
            self.nm.kill()
        self.s.__exit__(*exc)

    def tell(self, command):
        self.nm.stdin.write(command + "\n")
        self.nm.stdin.flush()
        self.nm.stdout.readline()

    def away(self):
        s = self.s
        s.service.stop()
        if self.network:
            self.tell("network 20")
        s.run_x(["xdotool", "windowactivate", "--sync", str(self.window)])
        s.run_x(["xdotool", "key", "F5"])
        harness.wait_until(lambda: not painted(s), what="the own page")

    def back(self):
        s = self.s
        s.start_service(dict(PAGES))
        began = time.monotonic()
        if self.network:
            self.tell("network 70")
        harness.wait_until(lambda: painted(s), timeout=120, interval=0.02, what="the page")
        return time.monotonic() - began


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--away", type=float, default=3.0)
    parser.add_argument("--wait", type=float, default=60.0)
    args = parser.parse_args()
    build = os.path.abspath(os.environ.get("BUILD_DIR", os.path.join("build", "default")))

    for network in (False, True):
        times = []
        for _ in range(args.runs):
            with Run(build, network) as run:
                run.away()
                time.sleep(args.away)
                times.append(run.back())
        print("%-44s median %.2f s (%s)" % (
            "service back to page painted, " + ("network signal" if network else "retries only"),
            statistics.median(times), ", ".join("%.2f" % t for t in times)))

    with Run(build, False) as run:
        run.away()
        time.sleep(20)  # the first tries are behind; the waits are long now
        busy = []
        last = tree_cpu_seconds(run.process.pid)
        for _ in range(int(args.wait)):
            time.sleep(1)
            now = tree_cpu_seconds(run.process.pid)
            busy.append(cpu_used(last, now))
            last = now
        ticks = sum(1 for b in busy if b > 0)
        print("while the own page waits %d s: CPU %.2f s in all, %d of %d seconds with any "
              "CPU at all" % (args.wait, sum(busy), ticks, len(busy)))


if __name__ == "__main__":
    main()
