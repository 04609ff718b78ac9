"""The page view when the favourites page cannot be shown, and the desktop's light or dark
preference: the real program against the real service (and a stand-in where only one can say
what the case needs: a name that does not resolve, a certificate nobody trusts). The page on
screen is read back through the web engine's remote debugging list (its title and address)."""

import html
import http.server
import json
import os
import ssl
import subprocess
import sys
import threading
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import wait_until  # noqa: E402
from test_flows_e2e import FlowSession, MAIN, SERVICE, SLOW  # noqa: E402
from test_main_e2e import PROFILE  # noqa: E402

PROGRAM = os.environ.get("PELLAMARK_E2E_PROGRAM", "")
STANDIN = os.environ.get("PELLAMARK_E2E_DESKTOP_STANDIN", "")
CLUSTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service",
                       "postgres-cluster.sh")
DEBUG_PORT = 18492
TLS_PORT = 18493
FAVOURITES = "Your favourites"
UNREACHABLE = "The favourites service cannot be reached at the moment."
# PageRetry: 2 s, then 4 s, 8 s ... The page must come back within the wait after the service.
RETRY_BOUND = 2 + 4 + 8 + 5


class ViewSession(FlowSession):
    def env(self):
        env = super().env()
        env["QTWEBENGINE_REMOTE_DEBUGGING"] = "127.0.0.1:%d" % DEBUG_PORT
        return env

    def pages(self):
        """(title, url) of the pages the web engine shows."""
        try:
            with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % DEBUG_PORT,
                                        timeout=2) as answer:
                # The list gives the titles escaped for HTML.
                return [(html.unescape(p.get("title", "")), p.get("url", ""))
                        for p in json.load(answer) if p.get("type") == "page"]
        except OSError:
            return []

    def wait_for_title(self, title, timeout=SLOW):
        return wait_until(lambda: [p for p in self.pages() if p[0] == title], timeout,
                          what="the page titled %r (pages: %r)" % (title, self.pages()))

    def reload(self, window):
        self.press(window, "F5")

    def fav_lines(self, log):
        return len([line for line in self.log(log).splitlines() if " /app/fav.asp " in line])

    def pids(self, name):
        out = subprocess.run(["pgrep", "-f", name], capture_output=True, text=True).stdout
        return sorted(int(pid) for pid in out.split())


def tls_server(folder, pages):
    """An https server with a certificate nobody trusts."""
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = pages.get(self.path.split("?", 1)[0], b"missing")
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", TLS_PORT), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


@unittest.skipUnless(PROGRAM and os.path.exists(PROGRAM), "PELLAMARK_E2E_PROGRAM not built")
class PageViewTest(unittest.TestCase):
    def setUp(self):
        self.session = ViewSession(PROGRAM)
        self.addCleanup(self.session.__exit__, None, None, None)

    def start(self, extra_env=None):
        s = self.session
        s.write_store(PROFILE)
        program = s.start_program(extra_env=extra_env)
        window = s.wait_for_window(MAIN, SLOW)
        return program, window

    @unittest.skipUnless(SERVICE and os.path.exists(SERVICE), "PELLAMARK_E2E_SERVICE not built")
    def test_the_service_away_and_back(self):
        """The service stopped (SQLite) or its database away (PostgreSQL, 503): the view's own
        page, then the favourites page again by itself once the service is back."""
        s = self.session
        cluster_state = os.path.join(s.root, "cluster")
        started = subprocess.run(["bash", CLUSTER, "start", cluster_state], capture_output=True)
        with open(cluster_state) as f:
            cluster = f.read().splitlines()
        cases = [("service stopped", ["--data", os.path.join(s.root, "data")], UNREACHABLE)]
        if started.returncode == 0 and cluster[0] == "ok":
            self.addCleanup(subprocess.run, ["bash", CLUSTER, "stop", cluster_state])
            cases.append(("database away", ["--database", cluster[1]],
                          "The favourites service cannot give out the page just now "
                          "(it answered 503)."))
        else:
            print("skipped 'database away': no PostgreSQL cluster (%s)" % cluster[1:2])
        s.start_desktop()
        for number, (name, store, sentence) in enumerate(cases):
            log = "service-%d" % number

            def serve():
                listening = s.log(log).count("listening on ")
                process = s._spawn(log, [SERVICE, "--listen", "127.0.0.1:%d" % s.port] + store)
                wait_until(lambda: s.log(log).count("listening on ") > listening,
                           what="the service")
                return process

            with self.subTest(name):
                service = serve()
                program, window = self.start()
                s.wait_for_title(FAVOURITES)
                window_pids = s.pids("pellamark-window-e2e")
                before = s.fav_lines(log)

                if name == "service stopped":
                    s.stop(service)
                else:
                    subprocess.run(["bash", CLUSTER, "pause", cluster_state], check=True)
                s.reload(window)
                s.wait_for_title(sentence)

                if name == "service stopped":
                    service = serve()
                else:
                    subprocess.run(["bash", CLUSTER, "resume", cluster_state], check=True)
                back = time.monotonic()
                s.wait_for_title(FAVOURITES, timeout=RETRY_BOUND)
                print("%s: the page back %.1f s after the service" % (name,
                                                                      time.monotonic() - back))
                self.assertGreater(s.fav_lines(log), before)
                self.assertEqual(s.pids("pellamark-window-e2e"), window_pids, "no restart")
                self.assertIsNone(program.poll())
                s.stop(program)
                s.stop(service)

    def test_a_name_that_does_not_resolve_and_a_refused_certificate(self):
        s = self.session
        s.start_desktop()
        pages = {"/app/apphtml.html": b"ok", "/app/fav.asp": b"set below"}
        s.start_service(pages)
        tls = tls_server(s.root, {"/": b"<title>Unsafe</title>"})
        self.addCleanup(tls.shutdown)
        cases = [
            ("http://favourites.invalid/app/fav.asp",
             "The favourites service's name could not be found: the network may not be up yet."),
            ("https://127.0.0.1:%d/" % TLS_PORT,
             "The connection to the favourites service is not safe: its certificate was refused, "
             "so the page is not shown."),
        ]
        program, window = None, None
        for target, sentence in cases:
            with self.subTest(target):
                pages["/app/fav.asp"] = (302, {"Location": target}, b"")
                if program is None:
                    program, window = self.start()
                else:
                    s.reload(window)
                s.wait_for_title(sentence)
                # Tried again, it is refused again: there is no way around it.
                time.sleep(3)
                self.assertEqual([t for t, _ in s.pages()], [sentence])

    @unittest.skipUnless(STANDIN and os.path.exists(STANDIN), "the desktop stand-in not built")
    def test_the_page_follows_the_desktops_light_or_dark_preference(self):
        s = self.session
        s.start_desktop()
        s.start_session_bus()
        standin = subprocess.Popen([STANDIN], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   env=s.env(), text=True)
        self.addCleanup(standin.kill)
        self.assertEqual(standin.stdout.readline().strip(), "ready")

        def tell(command):
            standin.stdin.write(command + "\n")
            standin.stdin.flush()
            self.assertEqual(standin.stdout.readline().strip(), "done " + command)

        tell("color-scheme 1")
        s.start_service({
            "/app/apphtml.html": b"ok",
            "/app/fav.asp": b"<title>Scheme</title><script>fetch('/scheme?dark=' + "
                            b"matchMedia('(prefers-color-scheme: dark)').matches)</script>",
            "/scheme": b"",
        })
        self.start()
        s.service.wait_for_request("/scheme?dark=true", SLOW)
        tell("color-scheme 2")
        s.service.wait_for_request("/scheme?dark=false", SLOW)
        s.wait_for_window(MAIN)


if __name__ == "__main__":
    unittest.main(verbosity=2)
