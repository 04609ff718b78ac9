"""The installed program: `cmake --install` into a temporary prefix gives a tree in which the
program finds its files away from the build tree and starts through to the favourites page.

The tree also holds the desktop tests' build of the program (component e2e): the same program
with the test service's address built in, so the program that ships has no way to be pointed
elsewhere at run time."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import wait_until  # noqa: E402
from test_flows_e2e import FlowSession, SIGN_UP, MAIN, SLOW  # noqa: E402

BUILD = os.environ.get("PELLAMARK_BUILD_DIR", "")
CMAKE = os.environ.get("PELLAMARK_CMAKE", "cmake")
LAYOUT = {key: os.environ.get("PELLAMARK_" + key, "") for key in (
    "PROGRAM_NAME", "E2E_PROGRAM_NAME", "MODULE_NAME", "WINDOW_NAME", "INSTALL_BINDIR",
    "INSTALL_DATADIR",
    "INSTALL_MODULEDIR", "INSTALL_ICONDIR")}


@unittest.skipUnless(BUILD and all(LAYOUT.values()), "run by ctest, which names the build tree")
class InstalledTreeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="pellamark-install-")
        for extra in ([], ["--component", "e2e"]):
            done = subprocess.run([CMAKE, "--install", BUILD, "--prefix", cls.prefix] + extra,
                                  capture_output=True, text=True, timeout=120)
            if done.returncode != 0:
                raise AssertionError("cmake --install failed:\n" + done.stdout + done.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def path(self, folder_key, name):
        return os.path.join(self.prefix, LAYOUT[folder_key], name)

    def test_the_tree_holds_the_program_its_files_and_icons(self):
        expected = [
            self.path("INSTALL_BINDIR", LAYOUT["PROGRAM_NAME"]),
            self.path("INSTALL_MODULEDIR", LAYOUT["MODULE_NAME"]),
            self.path("INSTALL_MODULEDIR", LAYOUT["WINDOW_NAME"]),
            self.path("INSTALL_DATADIR", "pellamark.html"),
            self.path("INSTALL_DATADIR", "terms.txt"),
            self.path("INSTALL_ICONDIR", "scalable/apps/pellamark.svg"),
        ] + [self.path("INSTALL_ICONDIR", "%dx%d/apps/pellamark.png" % (size, size))
             for size in (16, 32, 48, 64, 128)]
        missing = [path for path in expected if not os.path.isfile(path)]
        self.assertEqual(missing, [])
        # Nothing the program looks for lies beside it, so the run below finds the installed ones.
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, LAYOUT["INSTALL_BINDIR"]))),
                         sorted([LAYOUT["PROGRAM_NAME"], LAYOUT["E2E_PROGRAM_NAME"]]))
        program = expected[0]
        self.assertTrue(os.access(program, os.X_OK))
        # No library search path into the build tree.
        dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True,
                                 timeout=30).stdout
        self.assertNotIn(os.path.realpath(BUILD), dynamic)

    def test_the_installed_program_signs_up_and_shows_the_page(self):
        program = self.path("INSTALL_BINDIR", LAYOUT["E2E_PROGRAM_NAME"])
        with FlowSession(program) as s:
            s.start_desktop()
            s.start_service()
            process = s.start_program()
            window = s.wait_for_dialog(SIGN_UP, SLOW)
            s.type_text(window, "installed@example.org")
            s.press(window, "Return")
            s.wait_for_no_window(SIGN_UP, SLOW)
            # The page is asked for by the web engine, loaded from the installed module folder.
            request = s.service.wait_for_request("/app/fav.asp", SLOW)
            self.assertIn("emailid=installed@example.org", request)
            s.wait_for_window(MAIN, SLOW)
            self.assertIsNone(process.poll(), s.log("pellamark"))
            self.assertNotIn("could not be started", s.log("pellamark"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
