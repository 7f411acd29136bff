#!/usr/bin/env python3
"""focusctl where nothing has focus: on a desktop where no application has a
window yet, and where no accessibility bus can be reached."""

import os
import tempfile

from e2e_support import (COMMAND_LIMIT, FIXTURE, FOCUSCTL, INVALID_PID, NO_FRONTMOST,
                         STARTUP_LIMIT, DesktopTestCase, b64, main, run_focusctl)

NO_FOCUS = {"ok": False, "reason": "no-focused-element", "trusted": True}
DENIED = {"ok": False, "reason": "accessibility-denied", "trusted": False}
ELEMENT_COMMANDS = [(), ("read",), ("set", b64("x")), ("set",), ("set", "@@@"), ("press",),
                    ("bogus",), ("",), ("READ",), ("read", "extra")]
NOT_AN_ID = [("12x",), (), ("",), ("0x10",), ("99999999999",)]
NO_SESSION_BUS = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/focusctl-bus"}


def environment(drop, **overrides):
    return {**{key: value for key, value in os.environ.items() if key not in drop},
            **overrides}


class EmptyDesktop(DesktopTestCase):
    def watch_falls_back(self, env=None):
        watch = self.start_process([FOCUSCTL, "watch"], env=env)
        watch.stdout.expect(b"fallback\n", limit=COMMAND_LIMIT)
        watch.stdout.expect_quiet()
        self.assertTrue(watch.running(), "watch ended on its own")
        return watch

    def test_refusals_where_no_bus_is_reached(self):
        # Addresses that lead nowhere, as if there were no desktop; an empty
        # XDG_RUNTIME_DIR, so that no user bus is found there either.
        runtime = tempfile.TemporaryDirectory()
        self.addCleanup(runtime.cleanup)
        isolated = environment(("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                "AT_SPI_BUS_ADDRESS", "XAUTHORITY"), XDG_RUNTIME_DIR=runtime.name)
        nowhere = {**isolated, **NO_SESSION_BUS, "DISPLAY": ":garbage"}
        for name, env in [("nothing set", isolated), ("addresses leading nowhere", nowhere),
                          ("dead accessibility bus address",
                           {**nowhere, "AT_SPI_BUS_ADDRESS": "unix:path=/nonexistent/a11y"})]:
            with self.subTest(environment=name):
                for args in ELEMENT_COMMANDS:
                    self.assertEqual(run_focusctl(*args, env=env), DENIED, args)
                self.assertEqual(run_focusctl("frontmost", env=env), NO_FRONTMOST)
                for args in NOT_AN_ID:
                    self.assertEqual(run_focusctl("activate", *args, env=env), INVALID_PID, args)
                self.assertEqual(self.watch_falls_back(env).close(), b"")

    # The desktop is empty only until the fixture starts: one test does both.
    def test_refusals_then_watch_follows_the_first_application(self):
        for args in ELEMENT_COMMANDS:
            self.assertEqual(run_focusctl(*args), NO_FOCUS, args)
        self.assertEqual(run_focusctl("frontmost"), NO_FRONTMOST)
        # Without a session bus the root window's AT_SPI_BUS alone leads to
        # the bus, but not while a Wayland display is named, even empty.
        no_session = environment(("AT_SPI_BUS_ADDRESS",), XDG_RUNTIME_DIR="/nonexistent",
                                 **NO_SESSION_BUS)
        for extra, expected in [({}, NO_FOCUS), ({"WAYLAND_DISPLAY": ""}, DENIED)]:
            self.assertEqual(run_focusctl("read", env={**no_session, **extra}), expected, extra)

        watch = self.watch_falls_back()
        # The first application to become active: exactly one line from the
        # rebuild, and the watcher is complete now.
        fixture = self.start_process([FIXTURE])
        fixture.stdout.wait_line(b"ready", STARTUP_LIMIT)
        watch.stdout.expect(b"watching\n", limit=STARTUP_LIMIT)
        watch.stdout.expect_quiet()
        self.assertEqual(watch.close(), b"")


if __name__ == "__main__":
    main()
