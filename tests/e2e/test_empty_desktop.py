#!/usr/bin/env python3
"""focusctl on a desktop where no application has a window yet: the
accessibility bus works, so the process is trusted, but nothing has focus."""

import os

from e2e_support import (FIXTURE, FOCUSCTL, QUIET_PERIOD, STARTUP_LIMIT,
                         DesktopTestCase, b64, main, run_focusctl)

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


if __name__ == "__main__":
    main()
