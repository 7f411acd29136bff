"""Helpers shared by the end-to-end suites. Every wait ends as soon as its
condition holds; the limits only keep a broken build from hanging a suite."""

import base64
import json
import os
import queue
import re
import subprocess
import threading
import time
import unittest

FOCUSCTL = os.environ.get("FOCUSCTL_BIN", "")
FIXTURE = os.environ.get("FOCUSCTL_FIXTURE", "")
APPS_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "apps")
# PyQt5 and PyGObject come from Debian, for its own interpreter.
SYSTEM_PYTHON = "/usr/bin/python3"

COMMAND_LIMIT = 10.0   # one one-shot run of focusctl
STARTUP_LIMIT = 20.0   # an application showing its window
EVENT_LIMIT = 5.0      # a watch line after the event that causes it
QUIET_PERIOD = 1.0     # how long "no further line" is watched for

READ_KEYS = frozenset({"ok", "trusted", "pid", "appName", "bundleID", "role", "identifier",
                       "title", "position", "size", "description", "subrole",
                       "domIdentifier", "text", "placeholder"})
SET_OK = {"ok": True, "method": "ax", "error": 0}
PRESS_OK = {"ok": True, "method": "ax-press", "error": 0}
INSERT_OK = {"ok": True, "method": "ax-insert", "error": 0}
INSERT_REFUSED = {"ok": False, "method": "ax-insert", "error": -25204}
INVALID_TEXT = {"ok": False, "reason": "invalid-text"}
INVALID_PID = {"ok": False, "reason": "invalid-pid"}
NO_FRONTMOST = {"ok": False, "reason": "no-frontmost-app"}
FIXTURE_APP = {"appName": "focusctl-fixture", "bundleID": "org.focusctl.Fixture"}
SECOND_APP = {"appName": "focusctl-fixture-two", "bundleID": "org.focusctl.FixtureTwo"}
SECOND_FIXTURE = ("--app-id", SECOND_APP["bundleID"], "--app-name", SECOND_APP["appName"])

# Every character that JSON escapes or that a writer could mangle, and
# non-ASCII text from the Basic Multilingual Plane and beyond it.
AWKWARD_TEXT = 'Zeile 1\nsay "hi" a/b c:\\d\tTab – Grüße ✓ 😀\n'

_JSON_STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
_GEOMETRY = re.compile(r"\{(-?\d+),(-?\d+)\}")
WATCH_LINES = frozenset({b"watching\n", b"fallback\n", b"ax\n"})


def b64(text):
    return base64.b64encode(text.encode("utf-8")).decode("ascii")


class Reply(dict):
    """One reply's members; .line is the line it came as."""


def _unique_members(pairs):
    if len({key for key, _ in pairs}) != len(pairs):
        raise AssertionError(f"duplicate keys: {pairs}")
    return Reply(pairs)


def parse_reply(stdout):
    """Exactly one line of compact JSON: an object of Booleans, 32-bit
    integers and texts with a Boolean "ok"."""
    if not stdout.endswith(b"\n") or stdout.count(b"\n") != 1:
        raise AssertionError(f"expected exactly one line, got {stdout!r}")
    line = stdout[:-1].decode("utf-8")
    reply = json.loads(line, object_pairs_hook=_unique_members)
    if not isinstance(reply, Reply) or not isinstance(reply.get("ok"), bool):
        raise AssertionError(f'not a JSON object with a Boolean "ok": {line!r}')
    if re.search(r"\s", _JSON_STRING.sub("", line)):
        raise AssertionError(f"not compact JSON: {line!r}")
    for key, value in reply.items():
        if not (isinstance(value, (bool, str))
                or isinstance(value, int) and -2**31 <= value < 2**31):
            raise AssertionError(f"member {key!r} has a value of another kind: {line!r}")
    reply.line = line
    return reply


def run_focusctl(*args, env=None, limit=COMMAND_LIMIT):
    """Runs focusctl once: exit status 0, nothing on stderr, one reply line."""
    done = subprocess.run([FOCUSCTL, *args], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=limit, env=env, check=False)
    if done.returncode != 0 or done.stderr:
        raise AssertionError(f"focusctl {args} exited with {done.returncode}, "
                             f"stderr {done.stderr!r}")
    return parse_reply(done.stdout)


def wait_until(fetch, accept, limit, what):
    """Calls fetch until accept holds for what it returned; returns that."""
    deadline = time.monotonic() + limit
    while not accept(last := fetch()):
        if time.monotonic() > deadline:
            raise AssertionError(f"gave up waiting for {what}; last seen: {last!r}")
        time.sleep(0.05)
    return last


def wait_until_frontmost(pid):
    return wait_until(lambda: run_focusctl("frontmost"), lambda reply: reply.get("pid") == pid,
                      STARTUP_LIMIT, f"pid {pid} to be frontmost")


class LineReader:
    """Collects a pipe's lines, byte for byte, on a thread of its own; .arrived
    has each with the time.monotonic() it arrived at."""

    def __init__(self, pipe):
        self._lines = queue.Queue()
        self.arrived = []
        self._thread = threading.Thread(target=self._pump, args=(pipe,), daemon=True)
        self._thread.start()

    def _pump(self, pipe):
        for line in iter(pipe.readline, b""):
            self.arrived.append((time.monotonic(), line))
            self._lines.put(line)
        self._lines.put(b"")

    def next_line(self, limit=EVENT_LIMIT):
        """The next line, b"" at end of output, None when none came in time."""
        try:
            line = self._lines.get(timeout=limit)
        except queue.Empty:
            return None
        if not line:
            self._lines.put(line)
        return line

    def expect(self, *expected, limit=EVENT_LIMIT):
        for want in expected:
            if (got := self.next_line(limit)) != want:
                raise AssertionError(f"expected {want!r}, got {got!r}")

    def expect_quiet(self, period=QUIET_PERIOD):
        self.expect(None, limit=period)

    def until_quiet(self, period=QUIET_PERIOD):
        """The lines that come before the first pause of period or the end."""
        lines = []
        while (line := self.next_line(period)) not in (None, b""):
            lines.append(line)
        return lines

    def rest(self, limit=EVENT_LIMIT):
        """Everything up to the end of output, once the writer has ended."""
        self._thread.join(limit)
        return b"".join(self.until_quiet(0))

    def wait_line(self, wanted, limit=EVENT_LIMIT):
        """Skips lines until the wanted one (given without its line feed)."""
        deadline = time.monotonic() + limit
        while (line := self.next_line(max(0.0, deadline - time.monotonic()))) != wanted + b"\n":
            if not line:
                raise AssertionError(f"no line {wanted!r} (got {line!r})")


class Process:
    def __init__(self, argv, env=None):
        self.popen = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, env=env, start_new_session=True)
        self.pid = self.popen.pid
        self.stdout = LineReader(self.popen.stdout)
        self.stderr = LineReader(self.popen.stderr)

    def running(self):
        return self.popen.poll() is None

    def close(self):
        """Ends the process; returns what it wrote to stderr."""
        if self.running():
            self.popen.terminate()
            try:
                self.popen.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
        errors = self.stderr.rest()
        self.stdout.rest()
        self.popen.stdout.close()
        self.popen.stderr.close()
        return errors


def x_tool(*args):
    done = subprocess.run(args, capture_output=True, text=True, timeout=COMMAND_LIMIT,
                          check=False)
    if done.returncode != 0:
        raise AssertionError(f"{args} failed: {done.stderr.strip()}")
    return done.stdout


def type_text(text):
    x_tool("xdotool", "type", "--delay", "0", text)


def active_window_rect():
    """Screen position and size of the active window's client area."""
    info = x_tool("xwininfo", "-id", x_tool("xdotool", "getactivewindow").strip())
    return tuple(int(re.search(name + r":\s+(-?\d+)", info).group(1)) for name in
                 ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


def settle(watch, limit=STARTUP_LIMIT):
    """The lines a watcher writes up to the first pause after a "watching":
    only the three words, the last subscription line a complete one."""
    lines, deadline = [], time.monotonic() + limit
    while (left := deadline - time.monotonic()) > 0:
        line = watch.stdout.next_line(min(QUIET_PERIOD, left))
        if line is None and b"watching\n" in lines:
            if set(lines) <= WATCH_LINES and [l for l in lines if l != b"ax\n"][-1] == b"watching\n":
                return lines
            break
        if line == b"":
            break
        if line:
            lines.append(line)
    raise AssertionError(f"watch did not settle on a subscription in {limit} s: {lines!r}")


class DesktopTestCase(unittest.TestCase):
    """Ends every process a test started, even when the test fails."""

    def start_process(self, argv, env=None):
        process = Process(argv, env=env)
        self.addCleanup(process.close)
        return process

    def start_fixture(self, *options):
        """The GTK 3 fixture, shown and frontmost. Its .focus_rect: the focused
        widget's rectangle within its window's client area."""
        fixture = self.start_process([FIXTURE, *options])
        focus = fixture.stdout.next_line(STARTUP_LIMIT) or b""
        fixture.stdout.expect(b"ready\n", limit=STARTUP_LIMIT)
        fixture.focus_rect = tuple(int(part) for part in focus.split()[1:])
        wait_until_frontmost(fixture.pid)
        return fixture

    def start_watch(self):
        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"watching\n")
        watch.stdout.expect_quiet()
        return watch

    def assert_still_watching(self, watch):
        self.assertTrue(watch.running(), "watch ended on its own")
        self.assertEqual(watch.close(), b"", "watch wrote to stderr")

    def read(self):
        reply = run_focusctl("read")
        self.assertEqual((set(reply), reply["ok"], reply.get("trusted")),
                         (READ_KEYS, True, True), reply)
        return reply

    def read_until(self, expected):
        """Waits until the focused element has the expected members."""
        reply = wait_until(lambda: run_focusctl("read"),
                           lambda r: r["ok"] and expected.items() <= r.items(),
                           STARTUP_LIMIT, f"focus on {expected}")
        self.assertEqual(set(reply), READ_KEYS, reply)
        return reply

    def assert_on_screen(self, reply):
        """Screen coordinates inside the active window, or no geometry."""
        if reply["position"] == "" or reply["size"] == "":
            self.assertEqual((reply["position"], reply["size"]), ("", ""), reply)
            return
        wx, wy, ww, wh = active_window_rect()
        x, y = (int(n) for n in _GEOMETRY.fullmatch(reply["position"]).groups())
        width, height = (int(n) for n in _GEOMETRY.fullmatch(reply["size"]).groups())
        self.assertTrue(0 < width and 0 < height and wx <= x and x + width <= wx + ww
                        and wy <= y and y + height <= wy + wh,
                        f"{reply} outside {wx, wy, ww, wh}")

    def set_text(self, text):
        self.assertEqual(run_focusctl("set", b64(text)), SET_OK)

    def check_caret_steps(self, steps):
        """Each step: keys typed, then a command and its reply, then the field's
        text (None: not read). A selection is waited for: keys take a moment."""
        for keys, args, expected, text in steps:
            with self.subTest(keys=keys, args=args):
                if keys:
                    x_tool("xdotool", "key", *keys.split())
                if args[0] == "selection":
                    wait_until(lambda: run_focusctl(*args), expected.__eq__, EVENT_LIMIT,
                               f"the selection {expected}")
                else:
                    self.assertEqual(run_focusctl(*args), expected)
                if text is not None:
                    self.read_until({"text": text})


def selected(text, start, length):
    return {"ok": True, "text": text, "start": start, "length": length}


# Offsets count UTF-16 units: U+1F600 and U+20000 (CJK Extension B) take two.
CARET_START = "a\U0001F600 Ada"
CARET_STEPS = [
    ("End Left Left Left", ("selection",), selected("", 4, 0), None),
    # In the middle of the line; the caret follows the text, as typing leaves it.
    ("", ("insert", b64("\U00020000-")), INSERT_OK, "a\U0001F600 \U00020000-Ada"),
    ("", ("selection",), selected("", 7, 0), None),
    ("shift+End", ("selection",), selected("Ada", 7, 3), None),
    ("", ("insert", b64("Bo")), INSERT_OK, "a\U0001F600 \U00020000-Bo"),
    ("", ("insert", "%%%"), INVALID_TEXT, "a\U0001F600 \U00020000-Bo"),
    ("ctrl+a BackSpace", ("selection",), selected("", 0, 0), None),
    ("", ("insert", b64("x\U0001F600")), INSERT_OK, "x\U0001F600"),
    ("", ("selection",), selected("", 3, 0), None),
]


def main():
    if not FOCUSCTL or not os.access(FOCUSCTL, os.X_OK):
        raise SystemExit("FOCUSCTL_BIN must name the focusctl executable under test")
    unittest.main(verbosity=2)
