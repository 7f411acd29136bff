#!/usr/bin/env python3
"""focusctl on GTK 3: every widget of the fixture application and zenity's
entry dialog; activate and frontmost between two applications; the exact
lines of watch."""

import json
import subprocess

from e2e_support import (AWKWARD_TEXT, CARET_START, CARET_STEPS, FIXTURE_APP, FOCUSCTL,
                         INSERT_OK, INSERT_REFUSED, INVALID_PID, PRESS_OK, SECOND_APP,
                         SECOND_FIXTURE, STARTUP_LIMIT, DesktopTestCase, active_window_rect,
                         b64, main, run_focusctl, selected, type_text, wait_until_frontmost,
                         x_tool)

PRESS = None   # a step that presses instead of setting a text
KEYS = "keys"  # (KEYS, key...): a step that types keys, the read waited for
REFUSED = "refused"  # (REFUSED, text): a write the widget refuses
# The written line: escapes written out, the solidus too, non-ASCII as itself.
AWKWARD_JSON = '"text":' + json.dumps(AWKWARD_TEXT, ensure_ascii=False).replace("/", "\\/")

# Fixture widget focused (or another option): what read gives first, then
# (text set, PRESS, keys or a refused text; what read gives).
WIDGETS = {
    # The mnemonic label "_Search" labels the entry.
    "placeholder": ({"role": "AXTextField", "subrole": "", "identifier": "",
                     "domIdentifier": "", "title": "Search", "description": "",
                     "text": "", "placeholder": "Search mail"},
                    # GtkEntry keeps a line feed: truncate-multiline is off.
                    [(AWKWARD_TEXT, {"text": AWKWARD_TEXT}),
                     ("", {"text": "", "placeholder": "Search mail"})]),
    # No placeholder of its own: a value that repeats the name stands for one,
    # looked at again after each write (the rule itself is the unit tests').
    "named": ({"title": "Email", "description": "Reply address", "text": "Email",
               "placeholder": "Email"},
              [("  Email \t", {"text": "  Email \t", "placeholder": "Email"}),
               ("email", {"placeholder": ""})]),
    "labelled": ({"title": "Full name", "text": "Ada Lovelace", "placeholder": ""}, []),
    "textview": ({"role": "AXTextArea", "title": "Notes", "placeholder": "",
                  "text": "first line\nsecond line"},
                 [(AWKWARD_TEXT, {"text": AWKWARD_TEXT})]),
    # Its popup list is a menu, whose current item says SELECTED, not FOCUSED.
    "combo": ({"title": "Colour", "text": "Green"},
              [((KEYS, "alt+Down"), {"role": "AXMenuItem", "title": "Green"}),
               ((KEYS, "Escape"), {"title": "Colour", "text": "Green"}),
               ("Purple", {"text": "Purple"})]),
    # The application sees the press, and read the label it changed. An open
    # menu holds the focus until it closes.
    "button": ({"role": "AXButton", "title": "Send", "text": ""},
               [(PRESS, {"title": "Pressed"}),
                ((KEYS, "F10", "Down"), {"role": "AXMenuItem", "title": "Open"}),
                ((KEYS, "Escape", "Escape"), {"role": "AXButton", "title": "Pressed"})]),
    # A refused write leaves the old value.
    "spin": ({"role": "AXIncrementor", "title": "Count", "text": "42"},
             [((REFUSED, "4x"), {"text": "42"}), ("7", {"text": "7"})]),
    # Never read, nor its masking characters, nor a text written into it.
    "password": ({"role": "AXTextField", "subrole": "AXSecureTextField", "title": "Password",
                  "text": "", "placeholder": ""},
                 [("Password", {"text": "", "placeholder": ""})]),
    # The focus in the active one of the application's two windows.
    "--second-window": ({"placeholder": "Second window"}, []),
}


class Gtk3(DesktopTestCase):
    def assert_read(self, expected):
        reply = self.read()
        self.assertEqual({key: reply[key] for key in expected}, expected, reply)
        self.assertTrue("●" not in reply.line and "correct-horse" not in reply.line, reply)
        if expected.get("text") == AWKWARD_TEXT:
            self.assertIn(AWKWARD_JSON, reply.line)
        return reply

    def assert_geometry(self, reply, fixture):
        """The focused widget's rectangle, on the screen, as X places it."""
        x, y, _, _ = active_window_rect()
        rx, ry, width, height = fixture.focus_rect
        self.assertEqual((reply["position"], reply["size"]),
                         (f"{{{x + rx},{y + ry}}}", f"{{{width},{height}}}"))

    def test_read_set_and_press_on_every_widget(self):
        fixture = None
        for widget, (first, steps) in WIDGETS.items():
            with self.subTest(widget=widget):
                # Also after a failed step, which may have left a menu open.
                if fixture:
                    fixture.close()
                fixture = self.start_fixture(
                    *([widget] if widget.startswith("--") else ["--focus", widget]))
                reply = self.assert_read({"pid": fixture.pid, **FIXTURE_APP, **first})
                self.assert_geometry(reply, fixture)
                for step, expected in steps:
                    if step is PRESS:
                        # Extra words change nothing.
                        self.assertEqual(run_focusctl("press", "extra"), PRESS_OK)
                        fixture.stdout.expect(b"pressed\n")
                    elif isinstance(step, str):
                        self.set_text(step)
                    elif step[0] == KEYS:
                        x_tool("xdotool", "key", *step[1:])
                        self.read_until(expected)
                        self.assertEqual(run_focusctl("frontmost")["pid"], fixture.pid)
                    elif step[0] == REFUSED:
                        self.assertEqual(run_focusctl("set", b64(step[1])),
                                         {"ok": False, "method": "ax", "error": -25204})
                    self.assert_read(expected)

    def test_insert_and_selection_at_the_caret(self):
        self.start_fixture("--focus", "labelled")
        self.set_text(CARET_START)
        self.check_caret_steps(CARET_STEPS)
        # A password: offsets only, and an insertion confirmed by its count.
        self.start_fixture("--focus", "password")
        self.check_caret_steps([
            ("End shift+Left shift+Left", ("selection",), selected("", 26, 2), None),
            ("", ("insert", b64("xyz")), INSERT_OK, ""),
            ("", ("selection",), selected("", 29, 0), None),
        ])
        # A numeric field takes the deletion and refuses the letter: the
        # deleted digit goes back.
        self.start_fixture("--focus", "spin")
        self.check_caret_steps([
            ("End shift+Left", ("selection",), selected("2", 1, 1), None),
            ("", ("insert", b64("x")), INSERT_REFUSED, "42"),
        ])

    def test_zenity_read_set_and_confirm(self):
        zenity = self.start_process(["zenity", "--entry", "--text", "Name"])
        wait_until_frontmost(zenity.pid)
        reply = self.read()
        self.assertNotEqual(reply["position"], "")
        self.assert_on_screen(reply)
        self.assertEqual({**reply, "position": "", "size": ""}, {
            "ok": True, "trusted": True, "pid": zenity.pid,
            # No GtkApplication id: the WM_CLASS class stands in for it.
            "appName": "zenity", "bundleID": "Zenity",
            "role": "AXTextField", "subrole": "", "identifier": "",
            "domIdentifier": "", "description": "", "position": "", "size": "",
            # The entry's name is empty; the label comes through LABELLED_BY.
            "title": "Name", "text": "", "placeholder": "",
        })
        self.set_text(AWKWARD_TEXT)
        self.assert_read({"text": AWKWARD_TEXT})

        # Tab past Cancel to OK, press it: zenity prints what its entry holds.
        x_tool("xdotool", "key", "Tab", "Tab")
        self.read_until({"role": "AXButton", "title": "OK"})
        self.assertEqual(run_focusctl("press"), PRESS_OK)
        self.assertEqual(zenity.popen.wait(timeout=STARTUP_LIMIT), 0)
        self.assertEqual(zenity.stdout.rest().decode("utf-8"), AWKWARD_TEXT + "\n")


class ActivateAndFrontmost(DesktopTestCase):
    def setUp(self):
        self.first = self.start_fixture("--focus", "labelled")
        # Started last, so it is in front.
        self.second = self.start_fixture("--focus", "placeholder", *SECOND_FIXTURE)

    def test_switching_back_and_forth(self):
        # Each application, and what its focused entry shows.
        first = ({"pid": self.first.pid, **FIXTURE_APP}, {"text": "Ada Lovelace"})
        second = ({"pid": self.second.pid, **SECOND_APP}, {"placeholder": "Search mail"})
        self.assertEqual(run_focusctl("frontmost"), {"ok": True, **second[0]})
        # Back and forth, the one already in front again, and the id with
        # leading zeros and a plus sign.
        for argument, (app, shown) in [(None, first), (None, second), (None, second),
                                       (f"+000{self.first.pid}", first)]:
            with self.subTest(argument=argument, pid=app["pid"]):
                self.assertEqual(run_focusctl("activate", argument or str(app["pid"])),
                                 {"ok": True, "method": "app-activate", "pid": app["pid"]})
                # activate does not wait for the switch; frontmost must follow it.
                self.assertEqual(wait_until_frontmost(app["pid"]), {"ok": True, **app})
                reply = self.read()
                self.assertEqual({key: reply[key] for key in (*app, *shown)}, {**app, **shown})

    def test_an_id_that_names_no_application(self):
        # The id of a process that has ended; how an id is spelled is the unit
        # tests' to check.
        gone = subprocess.Popen(["true"])
        gone.wait()
        self.assertEqual(run_focusctl("activate", str(gone.pid)), INVALID_PID)
        # Nothing moved.
        self.assertEqual(run_focusctl("frontmost")["pid"], self.second.pid)


class Watch(DesktopTestCase):
    def test_exact_lines(self):
        first = self.start_fixture("--focus", "placeholder")
        watch = self.start_process([FOCUSCTL, "watch"])
        # What happens on the desktop, and exactly the lines it gives.
        steps = [
            (lambda: None, [b"watching\n"]),
            # A key typed by another process: one value change.
            (lambda: type_text("x"), [b"ax\n"]),
            # focusctl replacing the value: GTK reports the old text deleted
            # and the new one inserted, two changes.
            (lambda: self.set_text("hello"), [b"ax\n", b"ax\n"]),
            # The focus moves on to the next entry; the value registration
            # follows it.
            (lambda: x_tool("xdotool", "key", "Tab"), [b"watching\n", b"ax\n"]),
            (lambda: x_tool("xdotool", "key", "BackSpace"), [b"ax\n"]),
            # Another application comes to the front, and is followed.
            (lambda: self.start_fixture(*SECOND_FIXTURE), [b"watching\n"]),
            (lambda: type_text("y"), [b"ax\n"]),
            # Back to the first one, through focusctl.
            (lambda: run_focusctl("activate", str(first.pid)), [b"watching\n"]),
            (lambda: (wait_until_frontmost(first.pid), type_text("z")), [b"ax\n"]),
        ]
        for index, (action, lines) in enumerate(steps):
            with self.subTest(step=index):
                action()
                watch.stdout.expect(*lines, limit=STARTUP_LIMIT)
                watch.stdout.expect_quiet()
        # Coming back selects the entry's text, so "z" replaced it.
        reply = self.read()
        self.assertEqual((reply["pid"], reply["title"], reply["text"]),
                         (first.pid, "Email", "z"))
        self.assert_still_watching(watch)

    def test_a_toggle_changes_the_value(self):
        self.start_fixture("--focus", "check")
        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"watching\n", limit=STARTUP_LIMIT)
        for checked in (True, False):
            with self.subTest(checked=checked):
                x_tool("xdotool", "key", "space")
                watch.stdout.expect(b"ax\n", limit=STARTUP_LIMIT)
                watch.stdout.expect_quiet()
        self.assert_still_watching(watch)


if __name__ == "__main__":
    main()
