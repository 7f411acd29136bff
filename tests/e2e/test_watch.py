#!/usr/bin/env python3
"""watch: the exact lines written for value changes, focus moves and
application switches, each seen while the watcher is still running."""

from e2e_support import (FIXTURE, FOCUSCTL, STARTUP_LIMIT, DesktopTestCase, main,
                         run_focusctl, wait_until_frontmost, x_tool)


class Watch(DesktopTestCase):
    def setUp(self):
        self.first = self.start_fixture("--focus", "placeholder")
        self.watch = self.start_process([FOCUSCTL, "watch"])
        self.lines = self.watch.stdout
        self.lines.expect(b"watching\n")
        self.lines.expect_quiet()

    def tearDown(self):
        self.assertTrue(self.watch.running(), "watch ended on its own")
        self.assertEqual(self.watch.close(), b"", "watch wrote to stderr")

    def test_value_changes_and_focus_moves(self):
        # A key typed by another process: one value change, one line.
        x_tool("xdotool", "type", "--delay", "0", "x")
        self.lines.expect(b"ax\n")
        self.lines.expect_quiet()

        # focusctl itself replacing the value: GTK reports the old text
        # deleted and the new one inserted, two changes, two lines.
        self.assertTrue(run_focusctl("set", "aGVsbG8=")["ok"])
        self.lines.expect(b"ax\n", b"ax\n")
        self.lines.expect_quiet()

        # Focus moves to the next entry: the value registration follows it.
        x_tool("xdotool", "key", "Tab")
        self.lines.expect(b"watching\n", b"ax\n")
        self.lines.expect_quiet()
        self.assertEqual(run_focusctl("read")["title"], "Email")

        # Changes of the newly focused entry are seen.
        x_tool("xdotool", "key", "BackSpace")
        self.lines.expect(b"ax\n")
        self.lines.expect_quiet()

    def test_application_switches(self):
        second = self.start_process([FIXTURE, "--app-id", "org.focusctl.FixtureTwo",
                                     "--app-name", "focusctl-fixture-two"])
        second.stdout.wait_for(lambda line: line == b"ready\n", STARTUP_LIMIT,
                               "ready from the second fixture")
        # Another application comes to the front: one line from the rebuild.
        self.lines.expect(b"watching\n", limit=STARTUP_LIMIT)
        self.lines.expect_quiet()

        # Its value changes are followed now.
        x_tool("xdotool", "type", "--delay", "0", "y")
        self.lines.expect(b"ax\n")
        self.lines.expect_quiet()

        # Back to the first one, through focusctl.
        self.assertTrue(run_focusctl("activate", str(self.first.pid))["ok"])
        self.lines.expect(b"watching\n", limit=STARTUP_LIMIT)
        self.lines.expect_quiet()
        wait_until_frontmost(self.first.pid)

        x_tool("xdotool", "type", "--delay", "0", "z")
        self.lines.expect(b"ax\n")
        self.lines.expect_quiet()
        self.assertEqual(run_focusctl("read")["text"], "z")


if __name__ == "__main__":
    main()
