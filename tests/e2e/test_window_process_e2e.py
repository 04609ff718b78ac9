"""The main window lives in a process of its own: what happens when it dies, when the program
dies, when the window has been put away long enough for it to end, and the window state rows
across the two processes."""

import os
import shutil
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import wait_until  # noqa: E402
from test_flows_e2e import FlowSession, MAIN, OPTIONS, SLOW  # noqa: E402
from test_main_e2e import PROFILE  # noqa: E402

PROGRAM = os.environ.get("PELLAMARK_E2E_PROGRAM", "")
GRACE_MS = 1500
# The desktop tests' copy of the program starts the tests' copy of the window program.
WINDOW_PROGRAM = "pellamark-window-e2e"
WINDOW_PROGRAMS = (WINDOW_PROGRAM, "QtWebEngineProcess")


class WindowSession(FlowSession):
    def env(self):
        env = super().env()
        env["PELLAMARK_WINDOW_GRACE_MS"] = str(GRACE_MS)
        return env

    def window_processes(self):
        """Living processes of this session's window (the window program and its engine's)."""
        found = []
        for entry in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    name = os.path.basename(f.read().split(b"\0")[0].decode(errors="replace"))
                with open("/proc/%s/environ" % entry, "rb") as f:
                    ours = ("HOME=" + self.home).encode() in f.read().split(b"\0")
                with open("/proc/%s/stat" % entry) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            if name in WINDOW_PROGRAMS and ours and state != "Z":
                found.append((name, int(entry)))
        return found

    def window_program_pids(self):
        return [pid for name, pid in self.window_processes() if name == WINDOW_PROGRAM]

    def tray_icon(self):
        out = self.run_x(["xwininfo", "-tree", "-id", hex(self.tray_window())]).stdout
        return [int(line.split()[0], 16) for line in out.splitlines()
                if line.strip().startswith("0x") and '"Pellamark"' in line][0]

    def click_tray_icon(self, button=1):
        self.run_x(["xdotool", "mousemove", "--window", str(self.tray_icon()), "6", "6",
                    "click", str(button)])

    def geometry(self, window):
        """(x, y, width, height), or None while the window cannot be asked."""
        out = self.run_x(["xdotool", "getwindowgeometry", "--shell", str(window)]).stdout
        values = dict(line.split("=", 1) for line in out.split())
        try:
            return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))
        except (KeyError, ValueError):
            return None


def favourites(service):
    return len([p for p in service.paths() if p.startswith("/app/fav.asp")])


@unittest.skipUnless(PROGRAM and os.path.exists(PROGRAM), "PELLAMARK_E2E_PROGRAM not built")
class WindowProcessTest(unittest.TestCase):
    def setUp(self):
        self.session = WindowSession(PROGRAM)
        self.addCleanup(self.session.__exit__, None, None, None)

    def start_with_profile(self):
        s = self.session
        s.start_desktop()
        s.start_service()
        s.write_store(PROFILE)
        program = s.start_program()
        s.service.wait_for_request("/app/fav.asp", SLOW)
        window = s.wait_for_window(MAIN, SLOW)
        wait_until(lambda: "Pellamark" in s.tray_icons(), what="the icon in the tray")
        return program, window

    def test_a_dead_window_process_leaves_the_tray_and_restore_brings_a_new_one(self):
        program, _ = self.start_with_profile()
        s = self.session
        [first] = s.window_program_pids()
        os.kill(first, signal.SIGKILL)
        # Killed so soon after it started, the window counts as one that did not come up: the
        # program says so, and goes on in the tray.
        self.assertEqual(s.dismiss_message_box(), [])
        self.assertIsNone(program.poll(), "the program carries on")
        self.assertIn("Pellamark", s.tray_icons())

        s.click_tray_icon()
        s.wait_for_window(MAIN, SLOW)
        s.service.wait_for_request("/app/fav.asp", SLOW, count=2)
        self.assertNotIn(first, s.window_program_pids())
        self.assertEqual(len(s.window_program_pids()), 1)

    def test_the_window_process_ends_within_a_second_of_the_program_killed(self):
        program, _ = self.start_with_profile()
        s = self.session
        self.assertTrue(s.window_processes())
        program.kill()
        program.wait(10)
        time.sleep(1.0)
        self.assertEqual(s.window_processes(), [])

    def test_after_the_grace_period_the_window_comes_back_where_it_was(self):
        program, window = self.start_with_profile()
        s = self.session
        cases = [
            ("normal", ["windowsize", str(window), "640", "480"],
             ["windowmove", str(window), "100", "150"]),
            ("maximised", ["windowsize", str(window), "700", "500"], None),
        ]
        for name, size, move in cases:
            with self.subTest(name):
                s.run_x(["wmctrl", "-i", "-r", hex(window), "-b",
                         ("add" if name == "maximised" else "remove")
                         + ",maximized_vert,maximized_horz"])
                s.run_x(["xdotool"] + size)
                if move:
                    s.run_x(["xdotool"] + move)
                time.sleep(1.0)  # the window reports its place once the window system is done
                before = s.geometry(window)
                requests = favourites(s.service)

                s.close_window(window)
                s.wait_for_no_window(MAIN)
                wait_until(lambda: not s.window_processes(), timeout=GRACE_MS / 1000 + 10,
                           what="the window process to end")
                self.assertIsNone(program.poll())

                s.click_tray_icon()
                window = s.wait_for_window(MAIN, SLOW)
                s.service.wait_for_request("/app/fav.asp", SLOW, count=requests + 1)
                time.sleep(1.0)
                self.assertEqual(favourites(s.service), requests + 1,
                                 "%s: coming back is no change of the window's state" % name)
                try:
                    wait_until(lambda: s.geometry(window) == before, timeout=5)
                except AssertionError:
                    self.fail("%s: at %r, not %r" % (name, s.geometry(window), before))
                maximised = "MAXIMIZED_HORZ" in s.window_property(window, "_NET_WM_STATE")
                self.assertEqual(maximised, name == "maximised")

    def test_options_while_minimised_keep_the_window_minimised_and_its_process(self):
        program, window = self.start_with_profile()
        s = self.session
        s.run_x(["xdotool", "windowminimize", str(window)])
        wait_until(lambda: "_NET_WM_STATE_HIDDEN" in s.window_property(window, "_NET_WM_STATE"),
                   what="the window to be minimised")
        time.sleep(0.5)  # the state handling offers Restore in the tray menu
        pids = s.window_program_pids()

        # The tray menu: Restore (offered while minimised), Options, Exit.
        for _ in range(5):
            before = s.program_windows()
            s.click_tray_icon(3)
            try:
                wait_until(lambda: s.program_windows() - before, timeout=4, what="the menu")
            except AssertionError:
                continue
            s.run_x(["xdotool", "key", "Down", "Down", "Return"])
            break
        s.wait_for_dialog(OPTIONS)
        time.sleep(GRACE_MS / 1000 + 1.0)
        self.assertEqual(s.window_program_pids(), pids, "a minimised window keeps its process")
        self.assertIn(window, s.windows(MAIN, visible=False))
        self.assertIn("_NET_WM_STATE_HIDDEN", s.window_property(window, "_NET_WM_STATE"))
        self.assertIsNone(program.poll())

    def test_maximising_and_back_keep_the_page(self):
        program, window = self.start_with_profile()
        s = self.session
        time.sleep(0.5)
        for change in ("add", "remove", "add", "remove"):
            s.run_x(["wmctrl", "-i", "-r", hex(window), "-b",
                     change + ",maximized_vert,maximized_horz"])
            wait_until(lambda: ("MAXIMIZED_HORZ" in s.window_property(window, "_NET_WM_STATE"))
                       == (change == "add"), what="the window to be " + change + "ed")
            time.sleep(0.5)  # the state first, the size some 10 to 70 ms after
        self.assertEqual(favourites(s.service), 1, "maximising and back keep the page")
        self.assertIsNone(program.poll())

    def test_a_missing_window_program_is_said_and_restore_works_once_it_is_back(self):
        s = self.session
        # The program finds its window program beside itself: a copy of it in a folder of its
        # own, with its fetch program, first without the window program.
        folder = os.path.join(s.root, "program")
        os.makedirs(folder)
        built = os.path.dirname(PROGRAM)
        program_copy = os.path.join(folder, os.path.basename(PROGRAM))
        shutil.copy2(PROGRAM, program_copy)
        shutil.copy2(os.path.join(built, "pellamark-fetch"), folder)
        s.program = program_copy
        s.start_desktop()
        s.start_service()
        s.write_store(PROFILE)
        program = s.start_program()
        self.assertEqual(s.dismiss_message_box(), [], "no main window beside the message")
        self.assertIn("pellamark-window-e2e is missing", s.log("pellamark"))
        self.assertIsNone(program.poll(), "the program carries on in the tray")
        self.assertIn("Pellamark", s.tray_icons())

        for name in (WINDOW_PROGRAM, "pellamark-webengine.so"):
            shutil.copy2(os.path.join(built, name), os.path.join(folder, name))
        s.click_tray_icon()
        s.wait_for_window(MAIN, SLOW)
        s.service.wait_for_request("/app/fav.asp", SLOW)
        self.assertEqual(len(s.window_program_pids()), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
