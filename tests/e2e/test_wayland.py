#!/usr/bin/env python3
"""focusctl on sway (tests/e2e/wayland-session): GTK 3, GTK 4 and Qt as
Wayland clients and one X11 application through XWayland."""

import os
import re
import subprocess

from e2e_support import (APPS_DIR, FIXTURE, STARTUP_LIMIT, SYSTEM_PYTHON, DesktopTestCase,
                         PRESS_OK, main, run_focusctl, wait_until_frontmost)

GEOMETRY = re.compile(r"\{-?\d+,-?\d+\}")


# name: (argv, to which "placeholder" or "button" adds the widget to focus,
# bundleID, Wayland client, environment). GTK 3 gives the compositor its
# program name, not its id.
APPS = {
    "gtk3": ([FIXTURE, "--app-id", "org.focusctl.Fixture", "--focus"], "focusctl-fixture",
             True, {}),
    "gtk4": ([SYSTEM_PYTHON, os.path.join(APPS_DIR, "gtk4_window.py")],
             "org.focusctl.Gtk4Window", True, {}),
    "qt": ([SYSTEM_PYTHON, os.path.join(APPS_DIR, "qt_form.py")], "org.focusctl.QtForm",
           True, {}),
    "x11": ([FIXTURE, "--app-id", "org.focusctl.FixtureX11", "--focus"],
            "org.focusctl.FixtureX11", False, {"GDK_BACKEND": "x11"}),
}


def wtype(text):
    # Every wtype run is a new keyboard with a new keymap, which makes the
    # focused window re-enter (a further "watching") and a client may drop a
    # key that arrives with it: the key follows a moment later, as a
    # person's would.
    subprocess.run(["wtype", "-s", "150", text], check=True, timeout=STARTUP_LIMIT)


class WaylandSession(DesktopTestCase):
    def start(self, name, widget="placeholder"):
        argv, _, _, env = APPS[name]
        process = self.start_process([*argv, widget], env={**os.environ, **env})
        wait_until_frontmost(process.pid)
        return process

    def test_read_set_type_and_press_in_each_toolkit(self):
        for name, (_, bundle_id, wayland_native, _) in APPS.items():
            with self.subTest(app=name):
                process = self.start(name)
                self.assertEqual(run_focusctl("frontmost")["bundleID"], bundle_id)
                reply = self.read_until({"role": "AXTextField"})
                self.set_text("Grüße ✓")
                self.assertEqual(self.read_until({"text": "Grüße ✓"})["pid"], process.pid)
                self.set_text("")
                wtype("ab")
                self.read_until({"pid": process.pid, "bundleID": bundle_id, "text": "ab"})
                # A Wayland window has no position on any global screen.
                self.assertRegex(reply["size"], GEOMETRY)
                if wayland_native:
                    self.assertEqual(reply["position"], "")
                else:
                    self.assertRegex(reply["position"], GEOMETRY)
                process.close()

                process = self.start(name, "button")
                self.read_until({"role": "AXButton"})
                self.assertEqual(run_focusctl("press"), PRESS_OK)
                process.stdout.wait_line(b"pressed", STARTUP_LIMIT)
                process.close()

    def test_watch_follows_typing_and_switches_made_by_activate(self):
        processes = {name: self.start(name) for name in APPS}
        watch = self.start_watch()
        # Around the ring twice: every kind of switch, Wayland and X11 both
        # ways, and each application's typing followed after it.
        for name, process in [*processes.items()] * 2:
            with self.subTest(app=name):
                self.assertEqual(run_focusctl("activate", str(process.pid)),
                                 {"ok": True, "method": "app-activate", "pid": process.pid})
                wait_until_frontmost(process.pid)
                watch.stdout.wait_line(b"watching", STARTUP_LIMIT)
                wtype("z")
                watch.stdout.wait_line(b"ax", STARTUP_LIMIT)
        self.assert_still_watching(watch)

        # Without the compositor's interface a Wayland window cannot be
        # raised: the request is answered honestly.
        without_sway = {key: value for key, value in os.environ.items() if key != "SWAYSOCK"}
        wayland = processes["gtk3"].pid
        self.assertEqual(run_focusctl("activate", str(wayland), env=without_sway),
                         {"ok": False, "method": "app-activate", "pid": wayland})


if __name__ == "__main__":
    main()
