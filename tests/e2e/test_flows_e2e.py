"""The real program on a private X display through its everyday flows: signing up on a first
start, a later start, changing the options, a server that is down or answers nothing, and a
sign-up against the real favourites service."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, wait_until  # noqa: E402

PROGRAM = os.environ.get("PELLAMARK_E2E_PROGRAM", "")
SERVICE = os.environ.get("PELLAMARK_E2E_SERVICE", "")

PROFILE_KEY = "HKEY_CURRENT_USER\\Software\\Quellworks\\Pellamark"
SIGN_UP = "User Info - Enter Your Email to Start"
OPTIONS = "User Options"
MAIN = "Pellamark"
# Start-up of a web view on a loaded two-core machine can be slow.
SLOW = 60.0


def parse_store(text):
    """The export-format store as {key: {value name: ("sz", text) | ("dword", int)}}."""
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        match = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not match or current is None:
            continue
        name = re.sub(r"\\(.)", r"\1", match.group(1))
        data = match.group(2)
        if data.startswith("dword:"):
            current[name] = ("dword", int(data[6:], 16))
        elif data.startswith('"') and data.endswith('"'):
            current[name] = ("sz", re.sub(r"\\(.)", r"\1", data[1:-1]))
        else:
            current[name] = ("other", data)
    return keys


def port_is_free(port):
    with socket.socket() as probe:
        probe.settimeout(1)
        return probe.connect_ex(("127.0.0.1", port)) != 0


class FlowSession(Session):
    """The harness's session plus what these flows need: the autostart entry, window types,
    message boxes and the reference service."""

    def program_name(self):
        return os.path.splitext(os.path.basename(self.program))[0]

    def autostart_path(self):
        return os.path.join(self.home, ".config", "autostart", self.program_name() + ".desktop")

    def profile(self):
        text = self.read_store()
        return None if text is None else parse_store(text).get(PROFILE_KEY)

    def window_type(self, window):
        return self.window_property(window, "_NET_WM_WINDOW_TYPE")

    def wait_for_dialog(self, name, timeout=SLOW):
        """A visible window of that title that the program marked as a dialog."""
        return wait_until(
            lambda: [w for w in self.windows(name) if "DIALOG" in self.window_type(w)],
            timeout, what="dialog " + name)[0]

    def press(self, window, *keys):
        self.run_x(["xdotool", "windowactivate", "--sync", str(window)])
        self.run_x(["xdotool", "key", "--clearmodifiers"] + list(keys))

    def dismiss_message_box(self, timeout=SLOW):
        """Closes the program's message box with Return; returns the titled windows that were
        visible beside it."""
        box = self.wait_for_dialog(MAIN, timeout)
        beside = [w for w in self.windows(MAIN) if w != box]
        # On a loaded machine a key can reach the box before it has the keyboard: press again.
        for _ in range(5):
            self.press(box, "Return")
            try:
                wait_until(lambda: box not in self.windows(MAIN), timeout=8,
                           what="the message box to close")
                return beside
            except AssertionError:
                continue
        raise AssertionError("the message box did not close on Return")

    def open_options_from_menu(self, main):
        """File > Options: a click on the menu bar, then the keyboard in the open menu."""
        for _ in range(5):
            self.run_x(["xdotool", "windowactivate", "--sync", str(main)])
            before = self.program_windows()
            # "File" is the first item of the menu bar at the top left of the client area.
            self.run_x(["xdotool", "mousemove", "--window", str(main), "15", "10", "click", "1"])
            # The menu is a new untitled window; its type hints are not set every time.
            try:
                wait_until(lambda: self.program_windows() - before, timeout=4,
                           what="the File menu")
            except AssertionError:
                continue  # the click came before the window could take it: click again
            self.run_x(["xdotool", "key", "Down", "Return"])
            return self.wait_for_dialog(OPTIONS)
        raise AssertionError("the File menu did not open")

    def program_windows(self):
        found = self.run_x(["xdotool", "search", "--onlyvisible", "--class", "pellamark"]).stdout
        return set(map(int, found.split()))

    def start_reference_service(self, data):
        """The service binary on the test port; returns once it listens."""
        process = self._spawn("service", [SERVICE, "--listen", "127.0.0.1:%d" % self.port,
                                          "--data", data])
        wait_until(lambda: "listening on " in self.log("service") or process.poll() is not None,
                   what="the service to listen")
        if process.poll() is not None:
            raise AssertionError("the service did not start:\n" + self.log("service"))
        return process


def fav_requests(service):
    return [p for p in service.paths() if p.startswith("/app/fav.asp")]


@unittest.skipUnless(PROGRAM and os.path.exists(PROGRAM), "PELLAMARK_E2E_PROGRAM not built")
class DailyFlowsTest(unittest.TestCase):
    def setUp(self):
        self.session = FlowSession(PROGRAM)
        self.addCleanup(self.session.__exit__, None, None, None)

    def sign_up(self, address):
        s = self.session
        window = s.wait_for_dialog(SIGN_UP)
        self.assertEqual(s.windows(MAIN), [], "the main window waits for the sign-up")
        s.type_text(window, address)
        s.press(window, "Return")
        s.wait_for_no_window(SIGN_UP, SLOW)
        return wait_until(s.profile, what="the stored profile")

    def assert_autostart_runs_the_program(self):
        path = self.session.autostart_path()
        with open(path, encoding="utf-8") as f:
            text = f.read()
        exec_lines = [line[5:] for line in text.splitlines() if line.startswith("Exec=")]
        self.assertEqual(exec_lines, [os.path.realpath(PROGRAM)])
        if shutil.which("desktop-file-validate"):
            check = subprocess.run(["desktop-file-validate", path], capture_output=True,
                                   text=True, timeout=10)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_first_start_signs_up_and_the_next_start_goes_straight_to_the_page(self):
        s = self.session
        s.start_desktop()
        s.start_service()
        program = s.start_program()

        # A four-character address is refused; the box is emptied, so the next address typed
        # is stored alone, and nothing is written until an address is accepted.
        window = s.wait_for_dialog(SIGN_UP, SLOW)
        s.type_text(window, "a@bc")
        s.press(window, "Return")
        self.assertEqual(s.dismiss_message_box(), [])
        s.wait_for_dialog(SIGN_UP)
        self.assertIsNone(s.read_store())
        self.assertEqual(fav_requests(s.service), [])

        profile = self.sign_up("me+test@example.org")
        user_id = profile["UserId"][1]
        self.assertRegex(user_id, r"^[a-z]{5}[0-9]{10}$")
        self.assertEqual(profile["UserId"][0], "sz")
        self.assertEqual(profile["EmailAddress"], ("sz", "me+test@example.org"))
        self.assertEqual(profile["PubId"], ("dword", 2))
        self.assertEqual(profile["Version"], ("sz", "1.00.00"))
        self.assertEqual(profile["StartUp"], ("dword", 1))
        self.assertEqual(os.stat(s.store_path()).st_mode & 0o077, 0, "the store is private")
        self.assert_autostart_runs_the_program()

        expected = ("/app/fav.asp?userid=%s&emailid=me%%2Btest@example.org&pubid=2"
                    "&version=1.00.00" % user_id)
        self.assertEqual(s.service.wait_for_request("/app/fav.asp", SLOW), expected)
        main = s.wait_for_window(MAIN, SLOW)
        self.assertNotIn("DIALOG", s.window_type(main))
        self.assertIsNone(program.poll())

        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(15), 0)
        s.wait_for_no_window(MAIN)

        # The second start reads what the first one stored: no sign-up, the same page.
        stored = s.read_store()
        again = s.start_program("pellamark-again")
        self.assertEqual(s.service.wait_for_request("/app/fav.asp", SLOW, count=2), expected)
        s.wait_for_window(MAIN, SLOW)
        self.assertEqual(s.windows(SIGN_UP, visible=False), [])
        self.assertEqual(s.read_store(), stored, "a plain start rewrites nothing")
        self.assertEqual(s.service.paths().count("/app/apphtml.html"), 2)
        self.assertIsNone(again.poll())

    def test_options_change_the_address_and_switch_the_autostart_entry_off_and_on(self):
        s = self.session
        s.start_desktop()
        s.start_service()
        program = s.start_program()
        self.sign_up("first@example.org")
        user_id = s.profile()["UserId"][1]
        s.service.wait_for_request("/app/fav.asp", SLOW)
        main = s.wait_for_window(MAIN, SLOW)

        # Untick the box (focus starts in the address: CHANGE, CANCEL, then the box), give a
        # new address, and press CHANGE (two steps back from the box).
        dialog = s.open_options_from_menu(main)
        self.assertEqual(s.windows(MAIN), [], "the main window is put away meanwhile")
        s.press(dialog, "ctrl+a")
        s.type_text(dialog, "second@example.org")
        s.press(dialog, "Tab", "Tab", "Tab", "space", "shift+Tab", "shift+Tab", "space")
        s.wait_for_no_window(OPTIONS, SLOW)

        expected = ("/app/fav.asp?userid=%s&emailid=second@example.org&pubid=2"
                    "&version=1.00.00" % user_id)
        self.assertEqual(s.service.wait_for_request("/app/fav.asp", SLOW, count=2), expected)
        main = s.wait_for_window(MAIN, SLOW)
        profile = s.profile()
        self.assertEqual(profile["StartUp"], ("dword", 0))
        self.assertEqual(profile["EmailAddress"], ("sz", "second@example.org"))
        self.assertEqual(profile["UserId"], ("sz", user_id))
        self.assertFalse(os.path.exists(s.autostart_path()), "the autostart entry is removed")

        # The dialog opens unticked from the stored 0; ticking it brings the entry back, and an
        # address left as it is stays stored.
        dialog = s.open_options_from_menu(main)
        s.press(dialog, "Tab", "Tab", "Tab", "space", "shift+Tab", "shift+Tab", "space")
        s.wait_for_no_window(OPTIONS, SLOW)
        s.wait_for_window(MAIN, SLOW)
        wait_until(lambda: s.profile()["StartUp"] == ("dword", 1), what="StartUp 1")
        self.assertEqual(s.profile()["EmailAddress"], ("sz", "second@example.org"))
        self.assert_autostart_runs_the_program()
        self.assertIsNone(program.poll())

    def test_unreachable_or_silent_server_ends_after_a_message_and_stores_nothing(self):
        cases = [
            ("nothing listening", None),
            ("empty probe page", {"/app/apphtml.html": b""}),
        ]
        for name, pages in cases:
            with self.subTest(name), FlowSession(PROGRAM) as s:
                s.start_desktop()
                if pages is None:
                    self.assertTrue(port_is_free(s.port), "something else holds the test port")
                else:
                    s.start_service(pages)
                program = s.start_program()
                self.assertEqual(s.dismiss_message_box(), [], "the main window stays hidden")
                self.assertEqual(program.wait(SLOW), 0)
                self.assertIsNone(s.read_store())
                self.assertFalse(os.path.exists(os.path.dirname(s.autostart_path())))
                if s.service:
                    self.assertEqual(s.service.paths(), ["/app/apphtml.html"])

    @unittest.skipUnless(SERVICE and os.path.exists(SERVICE), "PELLAMARK_E2E_SERVICE not built")
    def test_sign_up_against_the_real_service(self):
        s = self.session
        s.start_desktop()
        data = os.path.join(s.root, "service-data")
        os.makedirs(data, mode=0o700)
        service = s.start_reference_service(data)
        program = s.start_program()
        profile = self.sign_up("me+real@example.org")
        self.assertRegex(profile["UserId"][1], r"^[a-z]{5}[0-9]{10}$")
        s.wait_for_window(MAIN, SLOW)
        wait_until(lambda: re.search(r" GET /app/fav\.asp 200 ", s.log("service")), SLOW,
                   what="the service to serve the favourites page")
        log = s.log("service")
        answered = re.findall(r" (GET|POST) (/app/\S+) (\d{3}) ", log)
        self.assertIn(("GET", "/app/apphtml.html", "200"), answered)
        self.assertEqual([a for a in answered if a[2] != "200"], [], log)
        # The service keeps the user's query out of its log.
        self.assertNotIn(profile["UserId"][1], log)
        self.assertIsNone(program.poll())
        self.assertIsNone(service.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
