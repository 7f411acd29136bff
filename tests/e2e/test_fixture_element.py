#!/usr/bin/env python3
"""read, set and press through the real focusctl on the widgets of the GTK
fixture application."""

from e2e_support import (AWKWARD_TEXT, EVENT_LIMIT, FIXTURE_APP_ID, FIXTURE_APP_NAME,
                         DesktopTestCase, b64, json_string, main, run_focusctl,
                         wait_until)

INVALID_TEXT = {"ok": False, "reason": "invalid-text"}


class ReadSnapshot(DesktopTestCase):
    def test_entry_with_placeholder(self):
        fixture = self.start_fixture("--focus", "placeholder")
        reply = self.read()
        position, size = fixture.expected_geometry()
        self.assertEqual(reply.members, {
            "ok": True, "trusted": True, "pid": fixture.pid,
            "appName": FIXTURE_APP_NAME, "bundleID": FIXTURE_APP_ID,
            "role": "AXTextField", "subrole": "", "identifier": "",
            "domIdentifier": "",
            # The mnemonic label "_Search" labels the entry.
            "title": "Search", "description": "",
            "position": position, "size": size,
            "text": "", "placeholder": "Search mail",
        })
        # No command word reads as well.
        self.assertEqual(run_focusctl().members, reply.members)
        # Extra arguments change nothing.
        self.assertEqual(run_focusctl("read", "extra", "words").members, reply.members)

    def test_placeholder_inferred_from_the_accessible_name(self):
        # No placeholder of its own; the value repeats the accessible name.
        self.start_fixture("--focus", "named")
        reply = self.read()
        self.assertEqual((reply["role"], reply["title"], reply["description"]),
                         ("AXTextField", "Email", "Reply address"))
        self.assertEqual((reply["text"], reply["placeholder"]), ("Email", "Email"))

        # Surrounding white space does not hide the match; "text" keeps it.
        self.set_text("  Email \t")
        reply = self.read()
        self.assertEqual((reply["text"], reply["placeholder"]), ("  Email \t", "Email"))

        # The description matches when the title does not.
        self.set_text("Reply address")
        reply = self.read()
        self.assertEqual((reply["text"], reply["placeholder"]),
                         ("Reply address", "Reply address"))

        # Letter case matters.
        self.set_text("email")
        self.assertEqual(self.read()["placeholder"], "")

    def test_placeholder_inferred_from_the_labelling_label(self):
        self.start_fixture("--focus", "labelled")
        reply = self.read()
        self.assertEqual((reply["title"], reply["text"], reply["placeholder"]),
                         ("Full name", "Ada Lovelace", ""))
        self.set_text("Full name")
        reply = self.read()
        self.assertEqual((reply["title"], reply["text"], reply["placeholder"]),
                         ("Full name", "Full name", "Full name"))

    def test_multi_line_text_view(self):
        fixture = self.start_fixture("--focus", "textview")
        reply = self.read()
        position, size = fixture.expected_geometry()
        self.assertEqual((reply["role"], reply["title"], reply["text"]),
                         ("AXTextArea", "Notes", "first line\nsecond line"))
        self.assertEqual((reply["position"], reply["size"]), (position, size))
        self.assertEqual(reply["placeholder"], "")

    def test_unrecognised_words_with_focus(self):
        self.start_fixture("--focus", "placeholder")
        for word in ("bogus", "", "READ", "Read", " read"):
            with self.subTest(word=word):
                self.assertEqual(run_focusctl(word).members,
                                 {"ok": False, "reason": "unknown-command"})


class SetText(DesktopTestCase):
    def test_awkward_text_in_a_text_view(self):
        self.start_fixture("--focus", "textview")
        self.set_text(AWKWARD_TEXT)
        reply = self.read()
        self.assertEqual(reply["text"], AWKWARD_TEXT)
        # One line, with the escapes written out and non-ASCII as itself.
        self.assertIn('"text":' + json_string(AWKWARD_TEXT), reply.line)
        self.assertIn("\\n", reply.line)
        self.assertIn('\\"hi\\"', reply.line)
        self.assertIn("a\\/b", reply.line)
        self.assertIn("\\t", reply.line)
        self.assertIn("Grüße ✓ 😀", reply.line)

    def test_single_line_entry_keeps_a_line_feed(self):
        # GtkEntry does not truncate at a line feed (truncate-multiline is
        # off by default), so the text arrives whole.
        self.start_fixture("--focus", "placeholder")
        self.set_text(AWKWARD_TEXT)
        self.assertEqual(self.read()["text"], AWKWARD_TEXT)

    def test_empty_text_brings_the_placeholder_back(self):
        self.start_fixture("--focus", "placeholder")
        self.set_text("draft")
        self.assertEqual((self.read()["text"]), "draft")
        self.set_text("")
        reply = self.read()
        self.assertEqual((reply["text"], reply["placeholder"]), ("", "Search mail"))

    def test_invalid_argument_leaves_the_text_alone(self):
        self.start_fixture("--focus", "labelled")
        arguments = [
            ("@@@@",),
            ("aGk",),                      # unpadded
            (b64("wrapped") + "\n",),      # trailing line break
            ("-_-_",),                     # URL-safe alphabet
            ("/w==",),                     # the byte 255: not UTF-8
            (),                            # no argument at all
        ]
        for argument in arguments:
            with self.subTest(argument=argument):
                self.assertEqual(run_focusctl("set", *argument).members, INVALID_TEXT)
                self.assertEqual(self.read()["text"], "Ada Lovelace")

    def test_editable_combo_box(self):
        self.start_fixture("--focus", "combo")
        self.assertEqual(self.read()["text"], "Green")
        self.set_text("Purple")
        self.assertEqual(self.read()["text"], "Purple")


class PasswordField(DesktopTestCase):
    SECRET = "correct-horse-battery-staple"

    def assert_nothing_revealed(self, reply, *secrets):
        self.assertEqual((reply["role"], reply["subrole"]),
                         ("AXTextField", "AXSecureTextField"))
        self.assertEqual(reply["text"], "")
        self.assertEqual(reply["placeholder"], "")
        for secret in secrets:
            self.assertNotIn(secret, reply.line)
        # Nor the masking characters standing in for it.
        self.assertNotIn("●", reply.line)

    def test_value_is_never_read(self):
        self.start_fixture("--focus", "password")
        reply = self.read()
        self.assertEqual(reply["title"], "Password")
        self.assert_nothing_revealed(reply, self.SECRET)

        # A text written into it is not read back either.
        self.set_text("Password")
        self.assert_nothing_revealed(self.read(), self.SECRET)


class Press(DesktopTestCase):
    def test_button_press_is_seen_by_the_application(self):
        fixture = self.start_fixture("--focus", "button")
        reply = self.read()
        self.assertEqual((reply["role"], reply["title"], reply["text"]),
                         ("AXButton", "Send", ""))
        self.assertEqual(run_focusctl("press", "extra").members,
                         {"ok": True, "method": "ax-press", "error": 0})
        fixture.stdout.expect(b"pressed\n", limit=EVENT_LIMIT)
        wait_until(self.read, lambda reply: reply["title"] == "Pressed", EVENT_LIMIT,
                   'the button to read "Pressed"')


class SecondWindow(DesktopTestCase):
    def test_focus_in_the_active_window_is_read(self):
        fixture = self.start_fixture("--second-window")
        reply = self.read()
        self.assertEqual((reply["pid"], reply["placeholder"]),
                         (fixture.pid, "Second window"))
        position, size = fixture.expected_geometry()
        self.assertEqual((reply["position"], reply["size"]), (position, size))
        self.assertEqual(run_focusctl("frontmost").members, {
            "ok": True, "pid": fixture.pid, "appName": FIXTURE_APP_NAME,
            "bundleID": FIXTURE_APP_ID})


if __name__ == "__main__":
    main()
