"""The real program on a private X display when things go wrong: a server that keeps the start-up
check waiting, and a profile folder the program may not write to."""

import os
import signal
import socket
import stat
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import wait_until  # noqa: E402
from test_flows_e2e import FlowSession, MAIN, SIGN_UP, SLOW, fav_requests  # noqa: E402

PROGRAM = os.environ.get("PELLAMARK_E2E_PROGRAM", "")


class DrippingServer:
    """Answers every request on 127.0.0.1:port with the headers of a long page, then one byte of
    it every half second, so that no single wait of the client's is ever long."""

    def __init__(self, port):
        self.requests = threading.Event()
        self._stop = threading.Event()
        self._listener = socket.socket()
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(("127.0.0.1", port))
        self._listener.listen(8)
        self._listener.settimeout(0.2)
        self._threads = [threading.Thread(target=self._accept, daemon=True)]
        self._threads[0].start()

    def _accept(self):
        while not self._stop.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            thread = threading.Thread(target=self._drip, args=(connection,), daemon=True)
            self._threads.append(thread)
            thread.start()

    def _drip(self, connection):
        with connection:
            try:
                connection.recv(65536)
                self.requests.set()
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")
                while not self._stop.wait(0.5):
                    connection.sendall(b"x")
            except OSError:
                pass

    def stop(self):
        self._stop.set()
        self._listener.close()
        for thread in self._threads:
            thread.join(5)


def permission_bits_hold_for(prefix):
    """Whether a folder without write permission stops a program started with `prefix`."""
    with FlowSession(PROGRAM) as probe:
        folder = os.path.join(probe.root, "read-only")
        os.mkdir(folder, 0o500)
        try:
            done = subprocess.run(prefix + ["touch", os.path.join(folder, "x")],
                                  capture_output=True, timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            return False
        return done.returncode != 0


def unprivileged_prefix():
    """How to start the program so that permission bits hold for it, or None. Root's override
    does not reach into a new user namespace for files it owns outside of it."""
    if os.geteuid() != 0:
        return []
    prefix = ["unshare", "--user"]
    return prefix if permission_bits_hold_for(prefix) else None


@unittest.skipUnless(PROGRAM and os.path.exists(PROGRAM), "PELLAMARK_E2E_PROGRAM not built")
class ResilienceTest(unittest.TestCase):
    def setUp(self):
        self.session = FlowSession(PROGRAM)
        self.addCleanup(self.session.__exit__, None, None, None)

    def test_sigterm_during_a_dripping_check_ends_at_once_and_frees_the_lock(self):
        s = self.session
        s.start_desktop()
        server = DrippingServer(s.port)
        self.addCleanup(server.stop)
        program = s.start_program()
        self.assertTrue(server.requests.wait(SLOW), "the start-up check never asked")
        wait_until(lambda: MAIN in s.tray_icons(), SLOW, what="the icon in the tray")
        time.sleep(2)  # well into the dripping answer
        self.assertIsNone(program.poll(), "the check is still waiting")

        signalled = time.monotonic()
        program.send_signal(signal.SIGTERM)
        status = program.wait(10)
        elapsed = time.monotonic() - signalled
        print("SIGTERM during the check: ended after %.3f s" % elapsed, file=sys.stderr)
        self.assertEqual(status, 0)
        self.assertLess(elapsed, 1.0)
        wait_until(lambda: MAIN not in s.tray_icons(), what="the icon to leave the tray")

        # The lock went with it: the next copy runs its own check.
        server.stop()
        s.start_service()
        s.start_program("pellamark-next")
        s.service.wait_for_request("/app/apphtml.html", SLOW)
        s.wait_for_dialog(SIGN_UP, SLOW)

    def test_a_read_only_profile_folder_keeps_the_sign_up_open_and_writes_nothing(self):
        prefix = unprivileged_prefix()
        if prefix is None:
            self.skipTest("runs as root and cannot start the program where permission bits "
                          "hold (no user namespaces here)")
        s = self.session
        s.start_desktop()
        s.start_service()
        folder = os.path.dirname(s.store_path())
        os.makedirs(folder, mode=0o700)
        os.chmod(folder, stat.S_IRUSR | stat.S_IXUSR)
        program = s._spawn("pellamark", prefix + [PROGRAM])

        window = s.wait_for_dialog(SIGN_UP, SLOW)
        s.type_text(window, "ann@example.org")
        s.press(window, "Return")
        self.assertEqual(s.dismiss_message_box(), [], "the main window stays hidden")
        self.assertEqual(s.windows(SIGN_UP), [window])
        self.assertEqual(s.windows(MAIN), [])
        self.assertEqual(os.listdir(folder), [])
        self.assertEqual(fav_requests(s.service), [])
        self.assertIsNone(program.poll())

        # Once the folder may be written, the same press signs up with what was typed.
        os.chmod(folder, stat.S_IRWXU)
        s.press(window, "Return")
        s.wait_for_no_window(SIGN_UP, SLOW)
        profile = wait_until(s.profile, what="the stored profile")
        self.assertEqual(profile["EmailAddress"], ("sz", "ann@example.org"))
        s.service.wait_for_request("/app/fav.asp", SLOW)
        s.wait_for_window(MAIN, SLOW)


if __name__ == "__main__":
    unittest.main(verbosity=2)
