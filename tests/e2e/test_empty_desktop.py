#!/usr/bin/env python3
"""focusctl where nothing has focus: on a desktop where no application has a
window yet, and where no accessibility bus can be reached."""

import os
import tempfile
import unittest

from e2e_support import (COMMAND_LIMIT, FIXTURE, FOCUSCTL, QUIET_PERIOD, STARTUP_LIMIT,
                         DesktopTestCase, Process, b64, main, run_focusctl)

NO_FOCUS = {"ok": False, "reason": "no-focused-element", "trusted": True}
DENIED = {"ok": False, "reason": "accessibility-denied", "trusted": False}


class EmptyDesktop(DesktopTestCase):
    # One test method: the order matters, the desktop is empty only until the
    # fixture starts.
    def test_refusals_then_watch_follows_the_first_application(self):
        for args in [(), ("read",), ("set", b64("x")), ("set", "@@@"), ("set",),
                     ("press",), ("bogus",), ("",)]:
            with self.subTest(args=args):
                self.assertEqual(run_focusctl(*args).members, NO_FOCUS)
        self.assertEqual(run_focusctl("frontmost").members,
                         {"ok": False, "reason": "no-frontmost-app"})
        # Without a session bus the root window's AT_SPI_BUS alone leads to
        # the bus, but not while a Wayland display is named, even empty.
        no_session = {**{key: value for key, value in os.environ.items()
                         if key != "AT_SPI_BUS_ADDRESS"},
                      "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/focusctl-bus",
                      "XDG_RUNTIME_DIR": "/nonexistent"}
        for extra, expected in [({}, NO_FOCUS), ({"WAYLAND_DISPLAY": ""}, DENIED)]:
            with self.subTest(environment=extra):
                self.assertEqual(run_focusctl("read", env={**no_session, **extra}).members,
                                 expected)

        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"fallback\n")
        watch.stdout.expect_quiet(QUIET_PERIOD)

        # The first application to become active: exactly one line from the
        # rebuild, and the watcher is complete now.
        fixture = self.start_process([FIXTURE])
        fixture.stdout.wait_line(b"ready", STARTUP_LIMIT)
        watch.stdout.expect(b"watching\n", limit=STARTUP_LIMIT)
        watch.stdout.expect_quiet(QUIET_PERIOD)
        self.assertEqual(watch.close(), b"")


def isolated_environment(runtime_dir, **overrides):
    # An empty XDG_RUNTIME_DIR: no user bus is found there either.
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                          "AT_SPI_BUS_ADDRESS", "XAUTHORITY")}
    env["XDG_RUNTIME_DIR"] = runtime_dir
    env.update(overrides)
    return env


class NoAccessibilityBus(unittest.TestCase):
    # Addresses that lead nowhere, as if there were no desktop.
    def setUp(self):
        runtime = tempfile.TemporaryDirectory()
        self.addCleanup(runtime.cleanup)
        os.chmod(runtime.name, 0o700)
        self.environments = {
            "nothing set": isolated_environment(runtime.name),
            "addresses leading nowhere": isolated_environment(
                runtime.name, DISPLAY=":garbage",
                DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/focusctl-bus"),
            "dead accessibility bus address": isolated_environment(
                runtime.name, DISPLAY=":garbage",
                DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/focusctl-bus",
                AT_SPI_BUS_ADDRESS="unix:path=/nonexistent/focusctl-a11y"),
        }

    def test_element_commands_are_refused_as_untrusted(self):
        commands = [(), ("read",), ("set", b64("x")), ("set",), ("set", "@@@"),
                    ("press",), ("bogus",), ("",), ("READ",), ("read", "extra")]
        for name, env in self.environments.items():
            for args in commands:
                with self.subTest(environment=name, args=args):
                    self.assertEqual(run_focusctl(*args, env=env).members, DENIED)

    def test_application_commands_give_their_own_refusals(self):
        for name, env in self.environments.items():
            with self.subTest(environment=name):
                self.assertEqual(run_focusctl("frontmost", env=env).members,
                                 {"ok": False, "reason": "no-frontmost-app"})
                for argument in (("12x",), (), ("",), ("0x10",), ("99999999999",)):
                    self.assertEqual(run_focusctl("activate", *argument, env=env).members,
                                     {"ok": False, "reason": "invalid-pid"}, argument)

    def test_watch_writes_fallback_and_keeps_running(self):
        for name, env in self.environments.items():
            with self.subTest(environment=name):
                watch = Process([FOCUSCTL, "watch"], env=env)
                self.addCleanup(watch.close)
                watch.stdout.expect(b"fallback\n", limit=COMMAND_LIMIT)
                watch.stdout.expect_quiet(QUIET_PERIOD)
                self.assertTrue(watch.running(), "watch ended on its own")
                self.assertEqual(watch.close(), b"")


if __name__ == "__main__":
    main()
