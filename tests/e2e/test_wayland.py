#!/usr/bin/env python3
"""focusctl on a Wayland session (tests/e2e/wayland-session): GTK 3, GTK 4
and Qt applications as Wayland clients and one X11 application through
XWayland, each read, written, typed into and pressed; watch and activate
across all of them."""

import os
import re
import subprocess
import sys
import textwrap

from e2e_support import (FIXTURE, FOCUSCTL, STARTUP_LIMIT, DesktopTestCase, main,
                         run_focusctl, wait_until, wait_until_frontmost)

GTK4_APP = textwrap.dedent("""\
    import sys, gi
    gi.require_version("Gtk", "4.0")
    from gi.repository import GLib, Gtk
    mode, app_id = sys.argv[1:3]
    def activate(app):
        window = Gtk.ApplicationWindow(application=app, title="GTK 4")
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
        entry, button = Gtk.Entry(), Gtk.Button(label="Go")
        button.connect("clicked", lambda _: print("pressed", flush=True))
        box.append(entry)
        box.append(button)
        window.set_child(box)
        window.present()
        (button if mode == "button" else entry).grab_focus()
        def ready():
            if not window.is_active():
                return True
            print("ready", flush=True)
        GLib.timeout_add(50, ready)
    app = Gtk.Application(application_id=app_id)
    app.connect("activate", activate)
    app.run([])
    """)

QT_APP = textwrap.dedent("""\
    import sys
    from PyQt5.QtCore import QTimer
    from PyQt5.QtWidgets import QApplication, QLineEdit, QPushButton, QVBoxLayout, QWidget
    mode, app_id = sys.argv[1:3]
    app = QApplication(sys.argv[:1])
    app.setDesktopFileName(app_id)
    window = QWidget()
    window.setWindowTitle("Qt")
    entry, button = QLineEdit(), QPushButton("Go")
    button.clicked.connect(lambda: print("pressed", flush=True))
    layout = QVBoxLayout(window)
    layout.addWidget(entry)
    layout.addWidget(button)
    window.show()
    (button if mode == "button" else entry).setFocus()
    def ready():
        if window.isActiveWindow():
            print("ready", flush=True)
            timer.stop()
    timer = QTimer()
    timer.timeout.connect(ready)
    timer.start(50)
    app.exec_()
    """)


class App:
    def __init__(self, name, argv, bundle_id, wayland_native, env=None):
        self.name = name
        self.argv = argv                  # a function of "entry" or "button"
        self.bundle_id = bundle_id
        self.wayland_native = wayland_native
        self.env = env or {}


def fixture(bundle_id):
    return lambda mode: [FIXTURE, "--focus", "placeholder" if mode == "entry" else mode,
                         "--app-id", bundle_id]


APPS = [
    # GTK 3 gives the compositor its program name, not its application id.
    App("gtk3", fixture("org.focusctl.Fixture"), "focusctl-fixture", True),
    App("gtk4", lambda mode: [sys.executable, "-c", GTK4_APP, mode, "org.focusctl.Gtk4"],
        "org.focusctl.Gtk4", True),
    App("qt", lambda mode: [sys.executable, "-c", QT_APP, mode, "org.focusctl.Qt"],
        "org.focusctl.Qt", True),
    App("x11", fixture("org.focusctl.FixtureX11"), "org.focusctl.FixtureX11", False,
        {"GDK_BACKEND": "x11"}),
]

GEOMETRY = re.compile(r"\{-?\d+,-?\d+\}")


def wtype(text):
    # Every wtype run is a new keyboard with a new keymap, which makes the
    # focused window re-enter (a further "watching") and a client may drop a
    # key that arrives with it: the key follows a moment later, as a
    # person's would.
    subprocess.run(["wtype", "-s", "150", text], check=True, timeout=STARTUP_LIMIT)


class WaylandSession(DesktopTestCase):
    def start(self, app, mode="entry"):
        process = self.start_process(app.argv(mode), env={**os.environ, **app.env})
        process.stdout.wait_for(lambda line: line == b"ready\n", STARTUP_LIMIT,
                                f"ready from {app.name}")
        wait_until_frontmost(process.pid)
        return process

    def test_read_set_and_type_in_each_toolkit(self):
        for app in APPS:
            with self.subTest(app=app.name):
                process = self.start(app)
                self.assertEqual(run_focusctl("frontmost")["bundleID"], app.bundle_id)
                self.set_text("Grüße ✓")
                reply = self.read()
                self.assertEqual((reply["pid"], reply["bundleID"], reply["role"], reply["text"]),
                                 (process.pid, app.bundle_id, "AXTextField", "Grüße ✓"))
                self.set_text("")
                wtype("ab")
                wait_until(lambda: run_focusctl("read")["text"], lambda text: text == "ab",
                           STARTUP_LIMIT, f"typed text in {app.name}")
                self.assertRegex(reply["size"], GEOMETRY)
                # A Wayland window has no position on any global screen.
                if app.wayland_native:
                    self.assertEqual(reply["position"], "")
                else:
                    self.assertRegex(reply["position"], GEOMETRY)
                process.close()

    def test_press_in_each_toolkit(self):
        for app in APPS:
            with self.subTest(app=app.name):
                process = self.start(app, "button")
                self.assertEqual(self.read()["role"], "AXButton")
                reply = run_focusctl("press")
                self.assertIs(reply["ok"], True, reply)
                process.stdout.wait_for(lambda line: line == b"pressed\n", STARTUP_LIMIT,
                                        f"pressed from {app.name}")
                process.close()

    def test_watch_follows_typing_and_switches_made_by_activate(self):
        processes = [self.start(app) for app in APPS]
        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"watching\n")
        watch.stdout.expect_quiet()
        # Around the ring twice: every kind of switch, Wayland and X11 both
        # ways, and each application's typing followed after it.
        for app, process in [*zip(APPS, processes)] * 2:
            with self.subTest(app=app.name):
                reply = run_focusctl("activate", str(process.pid))
                self.assertEqual(reply.members,
                                 {"ok": True, "method": "app-activate", "pid": process.pid})
                wait_until_frontmost(process.pid)
                watch.stdout.wait_for(lambda line: line == b"watching\n", STARTUP_LIMIT,
                                      f"watching after activating {app.name}")
                wtype("z")
                watch.stdout.wait_for(lambda line: line == b"ax\n", STARTUP_LIMIT,
                                      f"ax after typing in {app.name}")
        self.assertTrue(watch.running(), "watch ended on its own")
        self.assertEqual(watch.close(), b"", "watch wrote to stderr")

        # Without the compositor's interface a Wayland window cannot be
        # raised: the request is answered honestly.
        without_sway = {key: value for key, value in os.environ.items() if key != "SWAYSOCK"}
        wayland = processes[0].pid
        self.assertEqual(run_focusctl("activate", str(wayland), env=without_sway).members,
                         {"ok": False, "method": "app-activate", "pid": wayland})


if __name__ == "__main__":
    main()
