#!/usr/bin/env python3
"""activate and frontmost with two applications on the desktop."""

import subprocess

from e2e_support import (FIXTURE_APP_ID, FIXTURE_APP_NAME, DesktopTestCase, main,
                         run_focusctl, wait_until_frontmost)

SECOND_NAME = "focusctl-fixture-two"
SECOND_ID = "org.focusctl.FixtureTwo"
INVALID_PID = {"ok": False, "reason": "invalid-pid"}


class ActivateAndFrontmost(DesktopTestCase):
    def setUp(self):
        self.first = self.start_fixture("--focus", "labelled")
        # Started last, so it is in front.
        self.second = self.start_fixture("--focus", "placeholder", "--app-id", SECOND_ID,
                                         "--app-name", SECOND_NAME, "--title", "Fixture Two")

    def frontmost(self):
        return run_focusctl("frontmost").members

    def activate(self, pid):
        reply = run_focusctl("activate", str(pid))
        self.assertEqual(reply.members, {"ok": True, "method": "app-activate", "pid": pid})
        # activate does not wait for the switch; frontmost must follow it.
        wait_until_frontmost(pid)

    def test_switching_back_and_forth(self):
        second = {"ok": True, "pid": self.second.pid, "appName": SECOND_NAME,
                  "bundleID": SECOND_ID}
        first = {"ok": True, "pid": self.first.pid, "appName": FIXTURE_APP_NAME,
                 "bundleID": FIXTURE_APP_ID}
        self.assertEqual(self.frontmost(), second)

        self.activate(self.first.pid)
        self.assertEqual(self.frontmost(), first)
        reply = self.read()
        self.assertEqual((reply["pid"], reply["appName"], reply["bundleID"], reply["text"]),
                         (self.first.pid, FIXTURE_APP_NAME, FIXTURE_APP_ID, "Ada Lovelace"))

        self.activate(self.second.pid)
        self.assertEqual(self.frontmost(), second)
        reply = self.read()
        self.assertEqual((reply["pid"], reply["bundleID"], reply["placeholder"]),
                         (self.second.pid, SECOND_ID, "Search mail"))

        # Activating the application already in front is accepted too.
        self.activate(self.second.pid)
        self.assertEqual(self.frontmost(), second)

        # Leading zeros and a plus sign name the same process.
        reply = run_focusctl("activate", f"+000{self.first.pid}")
        self.assertEqual(reply.members,
                         {"ok": True, "method": "app-activate", "pid": self.first.pid})
        self.assertEqual(wait_until_frontmost(self.first.pid), first)

    def test_ids_that_name_no_application(self):
        gone = subprocess.Popen(["true"])
        gone.wait()
        for argument in ("12x", "", f" {self.first.pid}", f"{self.first.pid} ",
                         "0x10", "2147483648", "-", str(gone.pid)):
            with self.subTest(argument=argument):
                self.assertEqual(run_focusctl("activate", argument).members, INVALID_PID)
        self.assertEqual(run_focusctl("activate").members, INVALID_PID)
        # Nothing moved.
        self.assertEqual(self.frontmost()["pid"], self.second.pid)


if __name__ == "__main__":
    main()
