"""The Debian packages: made by cpack from the install rules, unpacked into a throw-away root
(dpkg -x, with the dependencies checked against this machine: installing them system-wide would
change the machine the tests run on), checked with the archive's own tools, and the unpacked
program taken through the everyday flows against a stand-in service on the address built into
it, in a network namespace of its own so that no other service on this machine is in the way."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = os.environ.get("PELLAMARK_BUILD_DIR", "")
CPACK = os.environ.get("PELLAMARK_CPACK", "cpack")
SERVICE_HOST = os.environ.get("PELLAMARK_SERVICE_HOST", "127.0.0.1:8480")
VERSION = os.environ.get("PELLAMARK_VERSION", "")
HERE = os.path.dirname(os.path.abspath(__file__))

# Lintian warnings taken as they are, with the reason.
ACCEPTED_WARNINGS = {
    # CPack gives every package with a shared object in a folder right below /usr/lib an
    # ldconfig call. Ours is the page view's module, loaded by path and never through the
    # linker's cache, so the call is needless and harmless.
    "maintscript-calls-ldconfig",
}


def missing(*programs):
    return [p for p in programs if shutil.which(p) is None]


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def installed_version(package):
    done = run(["dpkg-query", "-W", "-f=${Status} ${Version}", package])
    words = done.stdout.split()
    return words[-1] if done.returncode == 0 and "installed" in words[:3] and len(words) > 3 else None


def satisfied(alternative):
    match = re.match(r"^\s*([\w.+-]+)(?::\w+)?\s*(?:\((<<|<=|=|>=|>>)\s*([^)]+)\))?\s*$",
                     alternative)
    if not match:
        return False
    name, operator, wanted = match.groups()
    have = installed_version(name)
    if have is None:
        return False
    if operator is None:
        return True
    names = {"<<": "lt", "<=": "le", "=": "eq", ">=": "ge", ">>": "gt"}
    return run(["dpkg", "--compare-versions", have, names[operator], wanted]).returncode == 0


def in_own_network(args, env):
    """Runs args in a network namespace of their own, with only the loopback interface up."""
    script = "ip link set lo up && exec \"$@\""
    prefix = ["unshare", "--net"] + ([] if os.geteuid() == 0 else ["--map-root-user"])
    return run(prefix + ["sh", "-c", script, "sh"] + args, env=env, timeout=900)


def network_namespaces_work():
    prefix = ["unshare", "--net"] + ([] if os.geteuid() == 0 else ["--map-root-user"])
    return (not missing("unshare", "ip") and
            run(prefix + ["ip", "link", "set", "lo", "up"], timeout=30).returncode == 0)


@unittest.skipUnless(BUILD and VERSION, "run by ctest, which names the build tree")
class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.needed = missing("dpkg-deb", "dpkg-shlibdeps", "file")
        if cls.needed:
            return
        cls.folder = tempfile.mkdtemp(prefix="pellamark-package-")
        out = os.path.join(cls.folder, "out")
        done = run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                   timeout=900)
        if done.returncode != 0:
            raise AssertionError("cpack failed:\n" + done.stdout + done.stderr)
        cls.debs = {name: os.path.join(out, "%s_%s_amd64.deb" % (name, VERSION))
                    for name in ("pellamark", "pellamark-service")}
        cls.root = os.path.join(cls.folder, "root")
        for deb in cls.debs.values():
            if os.path.exists(deb):
                subprocess.run(["dpkg", "-x", deb, cls.root], check=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "folder", None):
            shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        if self.needed:
            self.skipTest("needs " + ", ".join(self.needed) + " (scripts/install-deps.sh)")

    def contents(self, package):
        listing = run(["dpkg-deb", "-c", self.debs[package]], timeout=60).stdout
        return {line.split()[-1].lstrip(".") for line in listing.splitlines()}

    def field(self, package, name):
        return run(["dpkg-deb", "-f", self.debs[package], name], timeout=60).stdout.strip()

    def test_each_package_holds_its_files(self):
        for package, expected in {
            "pellamark": [
                "/usr/bin/pellamark", "/usr/lib/pellamark/pellamark-window",
                "/usr/lib/pellamark/pellamark-webengine.so",
                "/usr/share/pellamark/pellamark.html", "/usr/share/pellamark/terms.txt",
                "/usr/share/applications/com.quellworks.pellamark.desktop",
                "/usr/share/metainfo/com.quellworks.pellamark.metainfo.xml",
                "/usr/share/icons/hicolor/scalable/apps/pellamark.svg",
                "/usr/share/man/man1/pellamark.1.gz", "/usr/share/doc/pellamark/copyright",
            ] + ["/usr/share/icons/hicolor/%dx%d/apps/pellamark.png" % (n, n)
                 for n in (16, 32, 48, 64, 128)],
            "pellamark-service": [
                "/usr/sbin/pellamark-service", "/usr/lib/systemd/system/pellamark-service.service",
                "/usr/share/man/man8/pellamark-service.8.gz",
                "/usr/share/doc/pellamark-service/copyright",
            ],
        }.items():
            with self.subTest(package):
                self.assertTrue(os.path.isfile(self.debs[package]), self.debs[package])
                files = self.contents(package)
                self.assertEqual([f for f in expected if f not in files], [])
                # The desktop tests' copy of the program, with its test address, never ships.
                self.assertEqual([f for f in files if "e2e" in f], [])

    def test_depends_come_from_the_libraries_and_are_met_here(self):
        for package, computed in (("pellamark", "libqt6widgets6"),
                                  ("pellamark-service", "libsqlite3-0")):
            with self.subTest(package):
                depends = self.field(package, "Depends")
                # dpkg-shlibdeps names the libraries with the versions the build needs.
                self.assertRegex(depends, r"\blibc6 \(>= [^)]+\)")
                self.assertIn(computed, depends)
                unmet = [group for group in depends.split(",")
                         if not any(satisfied(a) for a in group.split("|"))]
                self.assertEqual(unmet, [], depends)

    def test_the_desktop_files_validate(self):
        needed = missing("desktop-file-validate", "appstreamcli")
        if needed:
            self.skipTest("needs " + ", ".join(needed))
        share = os.path.join(self.root, "usr", "share")
        for args in (["desktop-file-validate",
                      os.path.join(share, "applications", "com.quellworks.pellamark.desktop")],
                     ["appstreamcli", "validate", "--no-net", "--pedantic",
                      os.path.join(share, "metainfo", "com.quellworks.pellamark.metainfo.xml")]):
            with self.subTest(args[0]):
                done = run(args, timeout=120)
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                self.assertNotRegex(done.stdout + done.stderr, r"(?m)^\s*[EW]:|error|warning")

    def test_lintian_finds_no_errors_and_only_the_accepted_warnings(self):
        if missing("lintian"):
            self.skipTest("needs lintian")
        done = run(["lintian", "--allow-root", "--tag-display-limit", "0"] +
                   list(self.debs.values()), timeout=900)
        tags = re.findall(r"(?m)^([EW]): [\w.+-]+(?: \w+)?: ([\w.+-]+)", done.stdout)
        self.assertEqual([t for t in tags if t[0] == "E"], [], done.stdout + done.stderr)
        self.assertEqual(sorted({t for s, t in tags if s == "W"} - ACCEPTED_WARNINGS), [],
                         done.stdout)

    def test_the_unpacked_program_runs_the_daily_flows(self):
        if not network_namespaces_work():
            self.skipTest("needs unshare and ip, and the right to make a network namespace")
        env = dict(os.environ,
                   PELLAMARK_E2E_PROGRAM=os.path.join(self.root, "usr", "bin", "pellamark"),
                   PELLAMARK_E2E_PORT=SERVICE_HOST.rsplit(":", 1)[1])
        done = in_own_network(
            [sys.executable, os.path.join(HERE, "test_flows_e2e.py"),
             "DailyFlowsTest.test_first_start_signs_up_and_the_next_start_goes_straight_to_the_page",
             "DailyFlowsTest.test_options_change_the_address_and_switch_the_autostart_entry_off_and_on"],
            env)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertRegex(done.stderr, r"Ran 2 tests")
        self.assertNotIn("skipped", done.stderr)
        print(done.stderr)

    def test_the_unpacked_service_answers_on_the_address_its_unit_gives(self):
        if not network_namespaces_work():
            self.skipTest("needs unshare and ip, and the right to make a network namespace")
        unit = os.path.join(self.root, "usr", "lib", "systemd", "system",
                            "pellamark-service.service")
        with open(unit, encoding="utf-8") as f:
            text = f.read()
        exec_start = re.search(r"(?m)^ExecStart=(.*)$", text).group(1).split()
        self.assertEqual(exec_start[0], "/usr/sbin/pellamark-service")
        program = os.path.join(self.root, exec_start[0].lstrip("/"))
        if shutil.which("systemd-analyze"):
            # systemd's own check of the unit, with the program where the unpacked root has it.
            checked = os.path.join(self.folder, "pellamark-service.service")
            with open(checked, "w", encoding="utf-8") as f:
                f.write(text.replace(exec_start[0], program))
            done = run(["systemd-analyze", "verify", "--man=no", checked], timeout=60)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        else:
            print("unit not verified: needs systemd-analyze (package systemd)")
        listen = exec_start[exec_start.index("--listen") + 1]
        data = os.path.join(self.folder, "service-data")
        os.makedirs(data, exist_ok=True)
        args = [program] + [
            data if a == "/var/lib/pellamark-service" else a for a in exec_start[1:]]
        probe = (
            "import subprocess, sys, time, urllib.request\n"
            "service = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL)\n"
            "try:\n"
            "    for _ in range(100):\n"
            "        try:\n"
            "            page = urllib.request.urlopen('http://%s/app/apphtml.html' % sys.argv[1], timeout=5)\n"
            "            print(page.status)\n"
            "            break\n"
            "        except OSError:\n"
            "            time.sleep(0.1)\n"
            "finally:\n"
            "    service.terminate()\n"
            "    service.wait()\n")
        done = in_own_network([sys.executable, "-c", probe, listen] + args, dict(os.environ))
        self.assertEqual(done.stdout.strip(), "200", done.stdout + done.stderr)
        self.assertEqual(listen, SERVICE_HOST, "the service answers where the program looks")


if __name__ == "__main__":
    unittest.main(verbosity=2)
