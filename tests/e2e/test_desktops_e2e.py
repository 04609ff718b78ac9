"""The program on the desktops people run besides an X11 one with an XEmbed tray: X11 with a
real panel whose notification area takes icons over D-Bus, and a Wayland compositor with no
notification area at all. With PELLAMARK_SCREENSHOTS=<folder> each test leaves a picture of its
desktop there (and one of the X11 desktop with the XEmbed tray, for comparison)."""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Session, wait_until  # noqa: E402
from test_flows_e2e import FlowSession, OPTIONS, SIGN_UP, MAIN, SLOW  # noqa: E402
from test_main_e2e import PROFILE, FAVOURITES  # noqa: E402

PROGRAM = os.environ.get("PELLAMARK_E2E_PROGRAM", "")
SHOTS = os.environ.get("PELLAMARK_SCREENSHOTS", "")
WATCHER = "org.kde.StatusNotifierWatcher"

# One panel along the top holding only the notification area, which hosts XEmbed icons and
# StatusNotifierItems alike and runs the StatusNotifierWatcher when nobody else does.
PANEL_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
"""


def missing(*programs):
    return [p for p in programs if shutil.which(p) is None]


def wayland_plugin():
    return glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so")


def shot(name):
    return os.path.join(SHOTS, name) if SHOTS else None


class DesktopSession(FlowSession):
    """The flows' session plus a journal of the program's windows (the test build keeps one)."""

    def env(self):
        env = super().env()
        env["PELLAMARK_TEST_JOURNAL"] = self.journal_path()
        return env

    def journal_path(self):
        return os.path.join(self.root, "windows.journal")

    def journal(self):
        try:
            with open(self.journal_path(), encoding="utf-8") as f:
                return [line.rstrip("\n").split(" ", 4) for line in f]
        except FileNotFoundError:
            return []

    def last_seen(self, name):
        """The last journal entry of a window: [event, name, state, visibility, title], or
        None."""
        entries = [e for e in self.journal() if e[1] == name]
        return entries[-1] if entries else None

    def request_close(self, name):
        with open(self.journal_path() + ".close", "w", encoding="utf-8") as f:
            f.write(name)

    # -- the D-Bus desktop ---------------------------------------------------------------------

    def gdbus(self, destination, path, method, *args):
        done = subprocess.run(["gdbus", "call", "--session", "--dest", destination,
                               "--object-path", path, "--method", method, "--"] + list(args),
                              env=self.env(), capture_output=True, text=True, timeout=10)
        return done.stdout if done.returncode == 0 else None

    def watcher_property(self, name):
        return self.gdbus(WATCHER, "/StatusNotifierWatcher",
                          "org.freedesktop.DBus.Properties.Get", WATCHER, name)

    def start_panel(self):
        folder = os.path.join(self.home, ".config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(folder)
        with open(os.path.join(folder, "xfce4-panel.xml"), "w", encoding="utf-8") as f:
            f.write(PANEL_CONFIG)
        self._spawn("panel", ["xfce4-panel", "--disable-wm-check"])
        wait_until(lambda: "true" in (self.watcher_property("IsStatusNotifierHostRegistered") or ""),
                   SLOW, what="the panel's notification area on D-Bus")

    def registered_items(self):
        """(bus name, object path) of every item the watcher lists."""
        items = []
        for entry in re.findall(r"'([^']+)'", self.watcher_property(
                "RegisteredStatusNotifierItems") or ""):
            service, slash, path = entry.partition("/")
            items.append((service, slash + path if slash else "/StatusNotifierItem"))
        return items

    def menu_items(self, item):
        """The item's exported menu as [(id, label, visible, enabled)]."""
        service, path = item
        menu = self.gdbus(service, path, "org.freedesktop.DBus.Properties.Get",
                          "org.kde.StatusNotifierItem", "Menu")
        menu_path = re.search(r"objectpath '([^']+)'", menu or "")
        if not menu_path or menu_path.group(1) == "/NO_DBUSMENU":
            return []
        layout = self.gdbus(service, menu_path.group(1), "com.canonical.dbusmenu.GetLayout",
                            "0", "-1", "[]") or ""
        items = []
        for number, properties in re.findall(r"<\((\d+), \{([^}]*)\}", layout):
            values = dict(re.findall(r"'([\w-]+)': <([^>]*)>", properties))
            if "label" in values:
                items.append((int(number), values["label"].strip("'"),
                              values.get("visible", "true") == "true",
                              values.get("enabled", "true") == "true"))
        return items

    def click_menu_item(self, item, number):
        service, path = item
        menu = self.gdbus(service, path, "org.freedesktop.DBus.Properties.Get",
                          "org.kde.StatusNotifierItem", "Menu")
        menu_path = re.search(r"objectpath '([^']+)'", menu).group(1)
        return self.gdbus(service, menu_path, "com.canonical.dbusmenu.Event", str(number),
                          "clicked", "<0>", "0")

    # -- the Wayland desktop -------------------------------------------------------------------

    def wayland_screenshot(self, path):
        before = set(glob.glob(os.path.join(self.root, "wayland-screenshot-*.png")))
        subprocess.run(["weston-screenshooter"], env=self.env(), cwd=self.root,
                       capture_output=True, timeout=30)
        taken = set(glob.glob(os.path.join(self.root, "wayland-screenshot-*.png"))) - before
        if taken:
            shutil.move(taken.pop(), path)


@unittest.skipUnless(PROGRAM and os.path.exists(PROGRAM), "PELLAMARK_E2E_PROGRAM not built")
class DesktopsTest(unittest.TestCase):
    def setUp(self):
        self.session = DesktopSession(PROGRAM)
        self.addCleanup(self.session.__exit__, None, None, None)

    def test_d_bus_tray_registers_the_icon_activates_the_window_and_offers_the_menu(self):
        needed = missing("Xvfb", "openbox", "xfce4-panel", "dbus-daemon", "gdbus")
        if needed:
            self.skipTest("needs " + ", ".join(needed) + " (scripts/install-deps.sh)")
        s = self.session
        s.start_desktop(tray=False)
        s.start_session_bus()
        s.start_panel()
        s.start_service()
        s.write_store(PROFILE)
        program = s.start_program()
        self.assertEqual(s.service.wait_for_request("/app/fav.asp", SLOW), FAVOURITES)
        main = s.wait_for_window(MAIN, SLOW)

        items = wait_until(s.registered_items, SLOW, what="the icon registered over D-Bus")
        self.assertEqual(len(items), 1, items)
        item = items[0]

        # Put away into the tray: the menu, read over D-Bus, now offers Restore.
        s.close_window(main)
        s.wait_for_no_window(MAIN)
        self.assertEqual([(label, visible, enabled) for _, label, visible, enabled in
                          wait_until(lambda: s.menu_items(item), what="the exported menu")],
                         [("Restore", True, True), ("Options", True, True), ("Exit", True, True)])

        # A click on the icon, as the panel sends it: the window with the page.
        self.assertIsNotNone(s.gdbus(item[0], item[1], "org.kde.StatusNotifierItem.Activate",
                                     "0", "0"))
        s.wait_for_window(MAIN, SLOW)
        s.service.wait_for_request("/app/fav.asp", SLOW, count=2)
        # As with any tray: shown from the tray, the window leaves Restore offered.
        self.assertIn(("Restore", True, True),
                      [(label, visible, enabled) for _, label, visible, enabled in s.menu_items(item)])
        if SHOTS:
            time.sleep(3)  # the page paints
            s.screenshot(shot("desktop-x11-dbus-tray.png"))

        # Options from the menu: the dialog opens, and the menu greys out what must wait for it.
        numbers = {label: number for number, label, _, _ in s.menu_items(item)}
        s.click_menu_item(item, numbers["Options"])
        s.wait_for_dialog(OPTIONS, SLOW)
        wait_until(lambda: {label: enabled for _, label, _, enabled in s.menu_items(item)} ==
                   {"Restore": False, "Options": False, "Exit": True},
                   what="Options and Restore disabled while the dialog is open")

        s.click_menu_item(item, numbers["Exit"])
        self.assertEqual(program.wait(SLOW), 0)
        wait_until(lambda: not s.registered_items(), what="the icon to leave the panel")

    def test_wayland_without_a_tray_signs_up_shows_the_page_and_minimises_on_close(self):
        needed = missing("weston") + ([] if wayland_plugin() else ["qt6-wayland"])
        if needed:
            self.skipTest("needs " + ", ".join(needed) + " (scripts/install-deps.sh)")
        s = self.session
        s.start_wayland()
        s.start_service()

        # First start: the sign-up dialog.
        first = s.start_program("pellamark-first")
        wait_until(lambda: (s.last_seen("frmUserInfo") or [""])[0] == "show", SLOW,
                   what="the sign-up dialog")
        self.assertEqual(s.last_seen("frmUserInfo")[4], SIGN_UP)
        self.assertIsNone(s.last_seen("frmMain"), "the main window waits for the sign-up")
        first.send_signal(signal.SIGTERM)
        self.assertEqual(first.wait(SLOW), 0)

        # With a profile: the main window and the page.
        s.write_store(PROFILE)
        program = s.start_program()
        self.assertEqual(s.service.wait_for_request("/app/fav.asp", SLOW), FAVOURITES)
        wait_until(lambda: (s.last_seen("frmMain") or [""])[0] == "show", SLOW,
                   what="the main window")
        if SHOTS:
            time.sleep(3)  # the page paints
            s.wayland_screenshot(shot("desktop-wayland-no-tray.png"))

        # No tray to hide into: the close button minimises, the program stays. (The compositor's
        # next configure carries no minimised state, so Qt reports normal again afterwards.)
        before = len(s.journal())
        s.request_close("frmMain")
        wait_until(lambda: [e for e in s.journal()[before:] if e[1] == "frmMain" and
                            e[2] == "minimised"], SLOW, what="the main window minimised")
        time.sleep(1)
        self.assertEqual([e for e in s.journal()[before:] if e[3] == "hidden"], [],
                         "nothing is hidden where no tray could bring it back")
        self.assertIsNone(program.poll())
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(SLOW), 0)

    @unittest.skipUnless(SHOTS, "PELLAMARK_SCREENSHOTS not set")
    def test_screenshot_of_the_x11_desktop_with_the_xembed_tray(self):
        s = self.session
        s.start_desktop(tray=True)
        s.start_service()
        s.write_store(PROFILE)
        s.start_program()
        s.service.wait_for_request("/app/fav.asp", SLOW)
        s.wait_for_window(MAIN, SLOW)
        wait_until(lambda: "Pellamark" in s.tray_icons(), what="the icon in the tray")
        time.sleep(3)
        s.screenshot(shot("desktop-x11-xembed-tray.png"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
