#!/usr/bin/env python3
"""focusctl on a Wayland session (tests/e2e/wayland-session: sway, mutter or
KWin): GTK 3, GTK 4 and Qt as Wayland clients and one X11 application through
XWayland."""

import os
import re
import subprocess
import time

from e2e_support import (APPS_DIR, FIXTURE, STARTUP_LIMIT, SYSTEM_PYTHON, DesktopTestCase,
                         PRESS_OK, b64, main, run_focusctl, wait_until_frontmost)

GEOMETRY = re.compile(r"\{-?\d+,-?\d+\}")
COMPOSITOR = os.environ.get("E2E_COMPOSITOR", "sway")
GTK4 = [SYSTEM_PYTHON, os.path.join(APPS_DIR, "gtk4_window.py")]

# name: (argv, to which "placeholder" or "button" adds the widget to focus,
# bundleID under sway and under mutter or KWin, Wayland client,
# environment). GTK 3 gives sway its program name, not its id; the GTK 3
# fixture owns no bus name and Qt tells only the compositor its desktop
# file. The GTK 4 window's bus name stands for its desktop file.
APPS = {
    "gtk3": ([FIXTURE, "--app-id", "org.focusctl.Fixture", "--focus"],
             ("focusctl-fixture", ""), True, {}),
    "gtk4": (GTK4, ("org.focusctl.Gtk4Window",) * 2, True, {}),
    "qt": ([SYSTEM_PYTHON, os.path.join(APPS_DIR, "qt_form.py")],
           ("org.focusctl.QtForm", ""), True, {}),
    "x11": ([FIXTURE, "--app-id", "org.focusctl.FixtureX11", "--focus"],
            ("org.focusctl.FixtureX11",) * 2, False, {"GDK_BACKEND": "x11"}),
}

# How keys are typed: wtype under sway, mutter's RemoteDesktop keyboard;
# KWin offers a client no keyboard: there set appends the text instead.
KEYBOARD = {"sway": ["wtype"],
            "mutter": [os.path.join(os.path.dirname(os.path.abspath(__file__)), "mutter-keyboard")],
            "kwin": None}[COMPOSITOR]
# Whether a request alone brings a Wayland window to the front: mutter wants
# a token from the client that has the focus.
ACTIVATES_UNASKED = COMPOSITOR != "mutter"


def type_keys(text):
    # Every run is a new keyboard with a new keymap, which makes the focused
    # window re-enter (a further "watching") and a client may drop a key
    # that arrives with it: the key follows a moment later, as a person's
    # would.
    subprocess.run([*KEYBOARD, "-s", "150", text], check=True, timeout=STARTUP_LIMIT)


def change_value(text):
    if KEYBOARD:
        type_keys(text)
    else:
        run_focusctl("set", b64(run_focusctl("read")["text"] + text))


def setUpModule():
    folder = os.path.join(os.environ["XDG_DATA_HOME"], "applications")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "org.focusctl.Gtk4Window.desktop"), "w",
              encoding="utf-8") as entry:
        entry.write("[Desktop Entry]\nType=Application\nName=GTK 4 window\nExec=true\n")


class WaylandSession(DesktopTestCase):
    def start(self, name, widget="placeholder"):
        argv, _, _, env = APPS[name]
        process = self.start_process([*argv, widget], env={**os.environ, **env})
        wait_until_frontmost(process.pid)
        return process

    def test_read_set_type_and_press_in_each_toolkit(self):
        for name, (_, bundle_ids, wayland_native, _) in APPS.items():
            bundle_id = bundle_ids[COMPOSITOR != "sway"]
            with self.subTest(app=name):
                process = self.start(name)
                self.assertEqual(run_focusctl("frontmost")["bundleID"], bundle_id)
                reply = self.read_until({"role": "AXTextField"})
                self.set_text("Grüße ✓")
                self.assertEqual(self.read_until({"text": "Grüße ✓"})["pid"], process.pid)
                if KEYBOARD:
                    self.set_text("")
                    type_keys("ab")
                    self.read_until({"pid": process.pid, "bundleID": bundle_id,
                                     "text": "ab"})
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

    def test_watch_follows_changes_and_switches(self):
        # Where activate can switch, around the ring twice: every kind of
        # switch, Wayland and X11 both ways. Under mutter each application
        # takes the front as it starts, after the first one the watcher
        # starts on.
        first = [*APPS] if ACTIVATES_UNASKED else [*APPS][:1]
        processes = {name: self.start(name) for name in first}
        watch = self.start_watch()
        for name in [*APPS] * 2 if ACTIVATES_UNASKED else [*APPS][1:]:
            with self.subTest(app=name):
                if ACTIVATES_UNASKED:
                    pid = processes[name].pid
                    self.assertEqual(run_focusctl("activate", str(pid)),
                                     {"ok": True, "method": "app-activate", "pid": pid})
                else:
                    pid = self.start(name).pid
                wait_until_frontmost(pid)
                watch.stdout.wait_line(b"watching", STARTUP_LIMIT)
                change_value("z")
                watch.stdout.wait_line(b"ax", STARTUP_LIMIT)
        self.assert_still_watching(watch)

        if COMPOSITOR == "sway":
            # Without the compositor's interface a Wayland window cannot be
            # raised: the request is answered honestly.
            without_sway = {key: value for key, value in os.environ.items()
                            if key != "SWAYSOCK"}
            wayland = processes["gtk3"].pid
            self.assertEqual(run_focusctl("activate", str(wayland), env=without_sway),
                             {"ok": False, "method": "app-activate", "pid": wayland})

    def test_activate_with_the_token_of_the_client_in_front(self):
        target = self.start("gtk4")
        controller = self.start_process([*GTK4, "token"])
        wait_until_frontmost(controller.pid)
        # Unasked, mutter keeps the window where it is: "ok" says so at once.
        began = time.monotonic()
        self.assertEqual(run_focusctl("activate", str(target.pid)),
                         {"ok": ACTIVATES_UNASKED, "method": "app-activate", "pid": target.pid})
        self.assertLess(time.monotonic() - began, 1.0)
        if ACTIVATES_UNASKED:
            run_focusctl("activate", str(controller.pid))
        wait_until_frontmost(controller.pid)
        if not KEYBOARD:
            return
        # A controller in front asks its compositor for a token and hands it
        # on, as the activation protocol has it.
        type_keys("x")
        line = controller.stdout.next_line(STARTUP_LIMIT) or b""
        self.assertTrue(line.startswith(b"token "), line)
        token = {**os.environ, "XDG_ACTIVATION_TOKEN": line.split()[1].decode()}
        self.assertEqual(run_focusctl("activate", str(target.pid), env=token),
                         {"ok": True, "method": "app-activate", "pid": target.pid})
        self.assertEqual(run_focusctl("frontmost")["pid"], target.pid)


if __name__ == "__main__":
    main()
