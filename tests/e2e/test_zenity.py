#!/usr/bin/env python3
"""focusctl on an application this project did not write: zenity's entry
dialog, whose entry has no name of its own and is labelled by a label."""

import re

from e2e_support import (AWKWARD_TEXT, EVENT_LIMIT, STARTUP_LIMIT, DesktopTestCase,
                         active_window, main, run_focusctl, wait_until,
                         wait_until_frontmost, window_rect, x_tool)

GEOMETRY = re.compile(r"\{(-?\d+),(-?\d+)\}")


class ZenityEntry(DesktopTestCase):
    def start_zenity(self, *options):
        zenity = self.start_process(["zenity", "--entry", "--text", "Name", *options])
        wait_until_frontmost(zenity.pid)
        return zenity

    def assert_inside_window(self, reply):
        wx, wy, ww, wh = window_rect(active_window())
        x, y = (int(part) for part in GEOMETRY.fullmatch(reply["position"]).groups())
        width, height = (int(part) for part in GEOMETRY.fullmatch(reply["size"]).groups())
        self.assertTrue(width > 0 and height > 0, reply)
        self.assertTrue(wx <= x and x + width <= wx + ww, reply)
        self.assertTrue(wy <= y and y + height <= wy + wh, reply)

    def test_read_set_and_confirm(self):
        zenity = self.start_zenity()
        reply = self.read()
        self.assert_inside_window(reply)
        members = dict(reply.members)
        del members["position"], members["size"]
        self.assertEqual(members, {
            "ok": True, "trusted": True, "pid": zenity.pid,
            # No GtkApplication id: the WM_CLASS class stands in for it.
            "appName": "zenity", "bundleID": "Zenity",
            "role": "AXTextField", "subrole": "", "identifier": "",
            "domIdentifier": "", "description": "",
            # The entry's name is empty; the label comes through LABELLED_BY.
            "title": "Name", "text": "", "placeholder": "",
        })

        self.set_text(AWKWARD_TEXT)
        self.assertEqual(self.read()["text"], AWKWARD_TEXT)

        # Tab past Cancel to OK, press it: zenity prints what its entry holds.
        x_tool("xdotool", "key", "Tab", "Tab")
        wait_until(self.read, lambda reply: reply["title"] == "OK", EVENT_LIMIT,
                   "OK focused")
        self.assertEqual(self.read()["role"], "AXButton")
        self.assertEqual(run_focusctl("press").members,
                         {"ok": True, "method": "ax-press", "error": 0})
        zenity.popen.wait(timeout=STARTUP_LIMIT)
        self.assertEqual(zenity.popen.returncode, 0)
        self.assertEqual(zenity.stdout.rest().decode("utf-8"), AWKWARD_TEXT + "\n")

    def test_placeholder_inferred_from_the_label(self):
        self.start_zenity("--entry-text", "Name")
        reply = self.read()
        self.assertEqual((reply["title"], reply["text"], reply["placeholder"]),
                         ("Name", "Name", "Name"))


if __name__ == "__main__":
    main()
