"""Desktop test harness: a private X display with a window manager and a tray, a local service
stub, and the program, all in a temporary folder that is removed afterwards.

Typical use (python3 standard library only, plus xdotool, wmctrl and xwininfo):

    with Session(program) as s:
        s.start_desktop(tray=True)
        s.write_store(PROFILE)
        p = s.start_program()
        s.service.wait_for_request("/app/fav.asp")
        wid = s.wait_for_window("Pellamark")
"""

import http.server
import os
import shutil
import subprocess
import struct
import tempfile
import threading
import time
import zlib

DEFAULT_TIMEOUT = 20.0


def wait_until(predicate, timeout=DEFAULT_TIMEOUT, interval=0.05, what="condition"):
    """Polls until predicate() returns something truthy; returns it, or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(interval)


def xwd_to_rgb(dump):
    """Width, height and RGB rows of a 24/32-bit TrueColor X window dump (what Xvfb gives)."""
    (header_size, _, _, _, width, height, _, byte_order, _, _, _, bits_per_pixel,
     bytes_per_line, _, red, green, blue, _, _, ncolors) = struct.unpack(">20I", dump[:80])
    if bits_per_pixel not in (24, 32):
        raise AssertionError("unexpected X window dump: %d bits per pixel" % bits_per_pixel)
    pixels = dump[header_size + ncolors * 12:]
    size = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    shifts = [(mask, (mask & -mask).bit_length() - 1) for mask in (red, green, blue)]
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + width * size]
        values = [int.from_bytes(line[x:x + size], order) for x in range(0, len(line), size)]
        rows.append(bytes(((v & mask) >> shift) & 0xff for v in values for mask, shift in shifts))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    raw = b"".join(b"\x00" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


class ServiceStub:
    """The favourites service on 127.0.0.1:port, answering every GET and recording it. A page is
    its body, or a tuple (status, headers, body)."""

    def __init__(self, port, pages=None):
        self.pages = pages if pages is not None else {
            "/app/apphtml.html": b"<html><body>ok</body></html>",
            "/app/fav.asp": b"<html><head><title>Favourites</title></head>"
                            b"<body><h1>Your favourites</h1></body></html>",
        }
        self.requests = []  # (path with query, user agent)
        self._lock = threading.Lock()
        stub = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with stub._lock:
                    stub.requests.append((self.path, self.headers.get("User-Agent", "")))
                # A page is its body, or (status, headers, body).
                page = stub.pages.get(self.path.split("?", 1)[0])
                status, headers, body = ((404, {}, b"missing") if page is None else
                                         page if isinstance(page, tuple) else (200, {}, page))
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        http.server.ThreadingHTTPServer.allow_reuse_address = True
        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def paths(self):
        with self._lock:
            return [path for path, _ in self.requests]

    def wait_for_request(self, prefix, timeout=DEFAULT_TIMEOUT, count=1):
        """Waits until `count` requests whose path starts with prefix have arrived."""
        return wait_until(lambda: [p for p in self.paths() if p.startswith(prefix)][count - 1:],
                          timeout, what="a request for " + prefix)[-1]

    def stop(self):
        self._server.shutdown()
        self._server.server_close()


class Session:
    """One test's world. Everything it starts is stopped and its folder removed on exit."""

    def __init__(self, program, port=None):
        self.program = program
        self.port = port if port is not None else int(os.environ.get("PELLAMARK_E2E_PORT", "18480"))
        self.root = tempfile.mkdtemp(prefix="pellamark-e2e-")
        self.home = os.path.join(self.root, "home")
        self.runtime = os.path.join(self.root, "run")
        for folder in (self.home, self.runtime):
            os.makedirs(folder, mode=0o700)
        self.display = None
        self.bus_address = None
        self.wayland_display = None
        self.service = None
        self._processes = []  # (name, Popen), stopped in reverse order

    # -- set-up ------------------------------------------------------------------------------

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop_all()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    def env(self):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": self.runtime,
            "LANG": "C.UTF-8",
            # No session bus unless the test starts one: the tray icon then uses the X11 tray
            # protocol that trayer speaks.
            "DBUS_SESSION_BUS_ADDRESS": self.bus_address or "unix:path=" + os.path.join(self.root, "no-bus"),
            "QT_QPA_PLATFORM": "wayland" if self.wayland_display else "xcb",
            # Test environment only: Xvfb has no GPU.
            "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu --disable-dev-shm-usage",
        }
        if self.display:
            env["DISPLAY"] = self.display
        if self.wayland_display:
            env["WAYLAND_DISPLAY"] = self.wayland_display
        return env

    def _spawn(self, name, args, extra_env=None, **kwargs):
        log = open(os.path.join(self.root, name + ".log"), "ab")
        env = dict(self.env(), **(extra_env or {}))
        process = subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT,
                                   cwd=self.root, **kwargs)
        log.close()
        self._processes.append((name, process))
        return process

    def start_desktop(self, tray=True, width=1280, height=1024):
        """Xvfb on a free display, openbox, and optionally trayer."""
        read_end, write_end = os.pipe()
        self._spawn("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                             "%dx%dx24" % (width, height), "-nolisten", "tcp"],
                    pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number
        self._spawn("openbox", ["openbox", "--sm-disable"])
        wait_until(lambda: self.run_x(["wmctrl", "-m"]).returncode == 0, what="the window manager")
        if tray:
            self.start_tray()

    def start_tray(self):
        self._spawn("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype",
                               "pixel", "--width", "120", "--heighttype", "pixel", "--height", "24"])
        return wait_until(self.tray_window, what="the tray")

    def start_session_bus(self):
        """A session bus of this test's own, as dbus-run-session gives a desktop session."""
        path = os.path.join(self.root, "bus")
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + path])
        wait_until(lambda: os.path.exists(path), what="the session bus")
        self.bus_address = "unix:path=" + path
        return self.bus_address

    def start_wayland(self, width=1280, height=1024):
        """A headless Wayland compositor (weston) that can take screenshots."""
        self.wayland_display = "wayland-pellamark-test"
        self._spawn("weston", ["weston", "--backend=headless-backend.so", "--use-pixman",
                               "--debug", "--socket=" + self.wayland_display,
                               "--width=%d" % width, "--height=%d" % height, "--idle-time=0"])
        socket = os.path.join(self.runtime, self.wayland_display)
        wait_until(lambda: os.path.exists(socket), what="the Wayland compositor")

    def screenshot(self, path):
        """The whole X display as a PNG file."""
        dump = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), capture_output=True,
                              timeout=30, check=True).stdout
        write_png(path, *xwd_to_rgb(dump))

    def start_service(self, pages=None):
        self.service = ServiceStub(self.port, pages)
        return self.service

    def start_program(self, name="pellamark", extra_env=None):
        return self._spawn(name, [self.program], extra_env)

    # -- the store ---------------------------------------------------------------------------

    def store_path(self):
        return os.path.join(self.home, ".config", "pellamark", "user.reg")

    def write_store(self, text):
        os.makedirs(os.path.dirname(self.store_path()), mode=0o700, exist_ok=True)
        with open(self.store_path(), "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(self.store_path(), 0o600)

    def read_store(self):
        try:
            with open(self.store_path(), encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return None

    # -- the desktop -------------------------------------------------------------------------

    def run_x(self, args):
        """Runs an X client (xdotool, wmctrl ...) on this display."""
        return subprocess.run(args, env=self.env(), capture_output=True, text=True, timeout=10)

    def windows(self, name, visible=True):
        """Ids of the windows whose title is exactly `name`."""
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--name", "^%s$" % name]
        return [int(w) for w in self.run_x(args).stdout.split()]

    def wait_for_window(self, name, timeout=DEFAULT_TIMEOUT):
        return wait_until(lambda: self.windows(name), timeout, what="window " + name)[0]

    def wait_for_no_window(self, name, timeout=DEFAULT_TIMEOUT):
        wait_until(lambda: not self.windows(name), timeout, what="no visible window " + name)

    def window_property(self, window, name):
        return self.run_x(["xprop", "-id", hex(window), name]).stdout

    def close_window(self, window):
        """The window manager's close (WM_DELETE_WINDOW), as the title bar's close button."""
        self.run_x(["wmctrl", "-i", "-c", hex(window)])

    def type_text(self, window, text):
        self.run_x(["xdotool", "windowactivate", "--sync", str(window)])
        self.run_x(["xdotool", "type", "--delay", "20", "--window", str(window), text])

    def tray_window(self):
        """The trayer panel's window id, or None."""
        for line in self.run_x(["xwininfo", "-root", "-tree"]).stdout.splitlines():
            if '"panel": ("panel" "trayer")' in line:
                return int(line.split()[0], 16)
        return None

    def tray_icons(self):
        """Titles of the icons embedded in the tray."""
        panel = self.tray_window()
        if panel is None:
            return []
        out = self.run_x(["xwininfo", "-tree", "-id", hex(panel)]).stdout
        return [line.split('"')[1] for line in out.splitlines()
                if line.strip().startswith("0x") and '"' in line]

    # -- ending ------------------------------------------------------------------------------

    def stop(self, process, timeout=10):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def stop_all(self):
        if self.service:
            self.service.stop()
            self.service = None
        for _, process in reversed(self._processes):
            self.stop(process)
        self._processes = []

    def log(self, name):
        path = os.path.join(self.root, name + ".log")
        if not os.path.exists(path):
            return ""
        with open(path, errors="replace") as f:
            return f.read()
