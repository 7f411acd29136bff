#!/usr/bin/env python3
"""focusctl on a Qt 5 form, FeatherPad, a GTK 4 window, gnome-text-editor, and
one page in Firefox ESR and in Chromium, each started once; the tests run in
name order."""

import os
import re
import signal
import subprocess
import tempfile
import time

from e2e_support import (APPS_DIR, CARET_START, CARET_STEPS, EVENT_LIMIT, FOCUSCTL,
                         INSERT_REFUSED, PRESS_OK, READ_KEYS, SET_OK, STARTUP_LIMIT,
                         SYSTEM_PYTHON, DesktopTestCase, Process, b64, main, run_focusctl,
                         selected, settle, wait_until, x_tool)

PAGE = "file://" + os.path.join(APPS_DIR, "form.html")
BROWSER_LIMIT = 90.0      # a browser's first window on two busy cores
STOPPED_LIMIT = 2.0       # any one-shot command while the application is stopped
NO_PRESS = {"ok": False, "method": "ax-press", "error": -25206}
SECRET = "swordfish"


def profile():
    # In the session's own cache directory, which goes with the session.
    return tempfile.mkdtemp(dir=os.environ["XDG_CACHE_HOME"])


QT_ACCESSIBLE = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
# name: (argv, environment, window name)
APPS = {
    "qt": ([SYSTEM_PYTHON, os.path.join(APPS_DIR, "qt_form.py")], QT_ACCESSIBLE, "^Qt form"),
    "featherpad": (["featherpad"], QT_ACCESSIBLE, "^Untitled$"),
    "gtk4": ([SYSTEM_PYTHON, os.path.join(APPS_DIR, "gtk4_window.py")],
             {"GSK_RENDERER": "cairo"}, "^GTK 4 window$"),
    "editor": (["gnome-text-editor", "--standalone", "--ignore-session"],
               {"GSK_RENDERER": "cairo"}, "Text Editor|New Document"),
    "firefox": (["firefox-esr", "--no-remote", "--profile", profile(), PAGE],
                {"GNOME_ACCESSIBILITY": "1"}, "Mozilla Firefox$"),
    "chromium": (["chromium", "--force-renderer-accessibility", "--no-sandbox",
                  "--user-data-dir=" + profile(), "--disable-gpu", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update",
                  "--disable-sync", PAGE], {}, "Chromium$"),
}

WEB_FIELDS = [
    # A label and an aria-label name the field; a placeholder is not a name.
    ("Tab", "write", {"domIdentifier": "city", "role": "AXTextField", "title": "City",
                      "placeholder": "Berlin"}),
    ("Tab", "write", {"domIdentifier": "code", "role": "AXTextField",
                      "title": "Discount code", "placeholder": ""}),
    ("Tab", "write", {"domIdentifier": "story", "role": "AXTextArea", "text": "Once"}),
    ("Tab", "secret", {"domIdentifier": "secret", "role": "AXTextField",
                       "subrole": "AXSecureTextField", "text": ""}),
    ("Tab", "press", {"domIdentifier": "send", "role": "AXButton", "title": "Send"}),
]

# What the user does in each application, in order (keys typed; None for
# nothing), what read gives then, and what is done there: "set", "write" (a
# browser may refuse), "secret" (a password), "edit" (a set, and press
# refused), "press", "no-press", or "look" (frontmost names the
# application, nothing more).
FIELDS = {
    "qt": [
        # The editable combo box is read as its inner text field, with the
        # combo box's label and description.
        (None, "set", {"role": "AXTextField", "text": "needle", "title": "Find",
                       "description": "Word to look for"}),
        ("Tab", "set", {"role": "AXTextField", "title": ""}),
        ("Tab", "secret", {"role": "AXTextField", "subrole": "AXSecureTextField", "text": ""}),
        ("Tab", "press", {"role": "AXButton", "title": "Send"}),
        # A menu item whose action opens a modal box: its call answers only
        # once the box closes.
        ("alt+f", "press", {"role": "AXMenuItem", "title": "Save"}),
        # The popup list's current item, in a list that manages its items.
        ("alt+Down", "look", {"role": "AXRow", "title": "needle"}),
        ("Escape", "look", {"role": "AXTextField", "title": "Find"}),
    ],
    # The editor typed into; not its tab nor its viewport, which say FOCUSED
    # too, and no bystander pressed.
    "featherpad": [
        ("a b c", "edit", {"role": "AXTextArea", "text": "abc"}),
        # An open menu's item, while the tab still says FOCUSED; the first
        # Escape closes the menu, the second leaves the menu bar.
        ("alt+f", "look", {"role": "AXMenuItem", "title": "New"}),
        ("Escape Escape", "look", {"role": "AXTextArea"}),
    ],
    "gtk4": [
        (None, "set", {"role": "AXTextField", "placeholder": "Search mail"}),
        ("ctrl+Tab", "no-press", {"role": "AXTextArea", "text": "first line"}),
        ("ctrl+Tab", "press", {"role": "AXButton", "title": "Send"}),
    ],
    "editor": [(None, "no-press", {"role": "AXTextArea"})],
    # Firefox tells a name from a placeholder apart from any other name by
    # nothing, so the name stays the title there.
    "firefox": [
        (None, "write", {"domIdentifier": "email", "role": "AXTextField",
                         "title": "you@example.com"}),
        ("Tab", "write", {"domIdentifier": "notes", "role": "AXTextArea",
                          "title": "Write notes here"}),
    ] + WEB_FIELDS,
    "chromium": [
        (None, "write", {"domIdentifier": "email", "role": "AXTextField", "title": "",
                         "placeholder": "you@example.com"}),
        ("Tab", "write", {"domIdentifier": "notes", "role": "AXTextArea", "title": "",
                          "placeholder": "Write notes here"}),
    ] + WEB_FIELDS,
}


class App(Process):
    def __init__(self, name):
        argv, env, self.window_name = APPS[name]
        super().__init__(argv, env={**os.environ, **env})
        self.name = name

    def find_window(self, limit):
        def search():
            return subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                   self.window_name], capture_output=True, text=True,
                                  check=False).stdout.split()
        self.window = int(wait_until(search, bool, limit, f"a window of {self.name}")[0])
        self.window_pid = int(x_tool("xdotool", "getwindowpid", str(self.window)))

    def title_numbers(self):
        # Both apps write what accessibility cannot show there: the
        # password's length, and the page the number of presses.
        return [int(n) for n in re.findall(r"\d+", x_tool("xdotool", "getwindowname",
                                                          str(self.window)))]

    def front(self):
        # No --sync: with a modal dialog up, the dialog becomes active. Asked
        # again while waiting: Qt's save box asks to be activated once more
        # some time after it shows.
        def activated():
            # The active window may be gone by the time its pid is asked.
            active = subprocess.run(["xdotool", "getactivewindow", "getwindowpid"],
                                    capture_output=True, text=True, check=False)
            if active.stdout.strip() != str(self.window_pid):
                x_tool("xdotool", "windowactivate", str(self.window))
            return run_focusctl("frontmost").get("pid")
        wait_until(activated, lambda pid: pid == self.window_pid, STARTUP_LIMIT,
                   f"{self.name} frontmost")


class Toolkits(DesktopTestCase):
    @classmethod
    def setUpClass(cls):
        cls.apps = {name: App(name) for name in APPS}
        for app in cls.apps.values():
            cls.addClassCleanup(app.close)
        for index, app in enumerate(cls.apps.values()):
            app.find_window(BROWSER_LIMIT)
            # Away from the screen's origin, so that a position relative to
            # the window cannot pass for one on the screen.
            x_tool("xdotool", "windowsize", str(app.window), "700", "600",
                   "windowmove", str(app.window), str(150 + 40 * index), str(100 + 30 * index))

    def test_1_fields(self):
        for name, fields in FIELDS.items():
            app = self.apps[name]
            app.front()
            for keys, action, expected in fields:
                with self.subTest(application=name, field=expected):
                    if keys:
                        x_tool("xdotool", "key", *keys.split())
                    self.check_field(app, expected, action)

    def check_field(self, app, expected, action):
        reply = self.read_until(expected)
        self.assertEqual(reply["pid"], app.window_pid, reply)
        # Before anything is done: Qt's press opens a box that takes the
        # activation.
        self.assert_on_screen(reply)
        if action == "look":
            self.assertEqual(run_focusctl("frontmost")["pid"], app.window_pid)
        elif action in ("set", "write", "secret", "edit"):
            secret = action == "secret"
            before = app.title_numbers()[0] if secret else None
            text = SECRET if secret else reply["text"] + " and more"
            answer = run_focusctl("set", b64(text))
            # A browser may refuse a write; it must not claim it.
            if action in ("set", "edit") or answer["ok"]:
                self.assertEqual(answer, SET_OK)
            else:
                self.assertIn(answer["error"], (-25204, -25205), answer)
            if secret:
                # Confirmed by the length only, never shown.
                length = len(SECRET) if answer["ok"] else before
                wait_until(app.title_numbers, lambda numbers: numbers[0] == length,
                           EVENT_LIMIT, "the password's length")
                line = self.read_until(expected).line
                self.assertTrue(SECRET not in line and "1234567" not in line, line)
            else:
                self.read_until({**expected, "text": text if answer["ok"] else reply["text"]})
            if action == "edit":
                self.assertEqual(run_focusctl("press"), NO_PRESS)
        elif action == "press":
            self.assertEqual(run_focusctl("press"), PRESS_OK)
            if app.name in ("firefox", "chromium"):
                wait_until(app.title_numbers, lambda numbers: numbers[1] == 1, EVENT_LIMIT,
                           "the page to count the press")
            else:
                app.stdout.wait_line(b"pressed")
        else:
            # Nothing here means press: no other action stands in for it.
            self.assertEqual(run_focusctl("press"), NO_PRESS)
        if action == "press" and app.name == "qt":
            # The press opened "Save changes?", answered here: left open, it
            # takes the activation back from the next application. Its
            # default button has the focus, inside the box holding the buttons.
            self.read_until({"role": "AXButton", "title": "Save"})
            self.assertEqual(run_focusctl("press"), PRESS_OK)
            app.stdout.wait_line(b"answer Save")

    def test_2_editor_dialog(self):
        # Closing the editor's modified document asks "Save Changes?", in a
        # dialog whose window says nothing of being active. Its focus: the
        # document's row in the dialog's list, or its check box.
        editor = self.apps["editor"]
        editor.front()
        x_tool("xdotool", "key", "x", "ctrl+w")
        self.addCleanup(x_tool, "xdotool", "key", "Escape")
        reply = wait_until(lambda: run_focusctl("read"),
                           lambda r: r.get("role") in ("AXRow", "AXCheckBox"), STARTUP_LIMIT,
                           "the focus in the dialog")
        self.assertEqual((set(reply), reply["pid"]), (READ_KEYS, editor.window_pid), reply)
        self.assertIn("(new)", reply["title"])
        self.assertEqual(run_focusctl("frontmost").get("pid"), editor.window_pid)
        self.assert_on_screen(reply)

    def test_3_watch_follows_switches_and_typing(self):
        watch = self.start_process([FOCUSCTL, "watch"])
        for name in ("qt", "chromium", "gtk4", "featherpad", "firefox", "editor", "qt"):
            with self.subTest(application=name):
                self.apps[name].front()
                settle(watch)
                x_tool("xdotool", "key", "x")
                watch.stdout.wait_line(b"ax")

        # A stopped application coming to the front holds the watcher up
        # for about a second at most; the next one is followed.
        stopped, chromium = self.apps["gtk4"], self.apps["chromium"]
        watch.stdout.until_quiet()
        os.kill(stopped.window_pid, signal.SIGSTOP)
        try:
            start = time.monotonic()
            x_tool("xdotool", "windowactivate", str(stopped.window))
            time.sleep(0.2)
            x_tool("xdotool", "windowactivate", "--sync", str(chromium.window))
            # A key typed before the page has its focus back is lost: type
            # again each second, up to the same deadline.
            deadline, seen = start + 1.0 + EVENT_LIMIT, False
            while not seen and time.monotonic() < deadline:
                x_tool("xdotool", "key", "x")
                end = min(deadline, time.monotonic() + 1.0)
                while not seen and (line := watch.stdout.next_line(
                        max(0.0, end - time.monotonic()))) not in (None, b""):
                    seen = line == b"ax\n"
            self.assertTrue(seen, "no ax line for typing after a stopped application")
        finally:
            os.kill(stopped.window_pid, signal.SIGCONT)
        self.assert_still_watching(watch)

    def test_4_stopped_application(self):
        commands = [("read",), ("frontmost",), ("set", b64("frozen")), ("press",),
                    ("insert", b64("frozen")), ("selection",)]
        for name in ("qt", "gtk4", "firefox", "chromium"):
            app = self.apps[name]
            app.front()
            os.kill(app.window_pid, signal.SIGSTOP)
            try:
                for args in commands:
                    with self.subTest(application=name, command=args[0]):
                        start = time.monotonic()
                        answer = run_focusctl(*args, limit=STOPPED_LIMIT + 1)
                        self.assertLess(time.monotonic() - start, STOPPED_LIMIT, answer)
                        if args[0] in ("set", "press", "insert") and "reason" not in answer:
                            self.assertEqual(answer["error"], -25204, answer)
                        elif args[0] == "selection":
                            self.assertFalse(answer["ok"], answer)
                        elif answer["ok"]:
                            self.assertEqual(answer["pid"], app.window_pid, answer)
            finally:
                os.kill(app.window_pid, signal.SIGCONT)
            # Running again, it answers again.
            self.read_until({"pid": app.window_pid})

    def test_5_insert_and_selection_at_the_caret(self):
        # Each first field has the focus again. Firefox acknowledges every
        # write and changes nothing, so there the text is typed, every insert
        # answers -25204, and the selection shows the text left as it was.
        for name in ("gtk4", "qt", "firefox"):
            app = self.apps[name]
            app.front()
            with self.subTest(application=name):
                self.read_until({"role": "AXTextField"})
                if name != "firefox":
                    self.set_text(CARET_START)
                    self.check_caret_steps(CARET_STEPS)
                    continue
                # xdotool types an emoji on a spare key it maps for the
                # moment; the first such key of a desktop can get lost.
                def typed():
                    x_tool("xdotool", "key", "ctrl+a", "BackSpace")
                    x_tool("xdotool", "type", "--delay", "100", CARET_START)
                    x_tool("xdotool", "key", "ctrl+a")
                    return run_focusctl("selection")
                wait_until(typed, selected(CARET_START, 0, 7).__eq__, STARTUP_LIMIT, "the text")
                # Read as the user sees it, without Gecko's padding after the emoji.
                self.assertEqual(run_focusctl("read")["text"], CARET_START)
                self.check_caret_steps([
                    ("End Left Left Left", ("selection",), selected("", 4, 0), None),
                    ("", ("insert", b64("\U00020000-")), INSERT_REFUSED, None),
                    ("shift+End", ("selection",), selected("Ada", 4, 3), None),
                    ("", ("insert", b64("Bo")), INSERT_REFUSED, None),
                    ("ctrl+a", ("selection",), selected(CARET_START, 0, 7), None),
                    ("BackSpace", ("insert", b64("x")), INSERT_REFUSED, None),
                    ("", ("selection",), selected("", 0, 0), None),
                ])


if __name__ == "__main__":
    main()
