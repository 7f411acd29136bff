"""Helpers shared by the end-to-end tests. Every wait ends as soon as its
condition holds; the limits only keep a broken build from hanging the suite."""

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

COMMAND_LIMIT = 10.0   # one one-shot run of focusctl
STARTUP_LIMIT = 20.0   # an application showing its window
EVENT_LIMIT = 5.0      # a watch line after the event that causes it
QUIET_PERIOD = 1.0     # how long "no further line" is watched for

READ_KEYS = frozenset({
    "ok", "trusted", "pid", "appName", "bundleID", "role", "identifier",
    "title", "position", "size", "description", "subrole", "domIdentifier",
    "text", "placeholder",
})

FIXTURE_APP_NAME = "focusctl-fixture"
FIXTURE_APP_ID = "org.focusctl.Fixture"
SECOND_FIXTURE = ("--app-id", "org.focusctl.FixtureTwo", "--app-name", "focusctl-fixture-two",
                  "--title", "Fixture Two")

# Every character that JSON escapes or that a writer could mangle: a line
# feed, a quotation mark, a solidus, a reverse solidus, a tab, and non-ASCII
# text from the Basic Multilingual Plane and beyond it.
AWKWARD_TEXT = 'Zeile 1\nsay "hi" a/b c:\\d\tTab – Grüße ✓ 😀\n'

_JSON_STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
_GEOMETRY = re.compile(r"\{(-?\d+),(-?\d+)\}")


def b64(text):
    return base64.b64encode(text.encode("utf-8")).decode("ascii")


def json_string(text):
    """The JSON form focusctl writes for a text: the solidus escaped too,
    non-ASCII characters as themselves."""
    return json.dumps(text, ensure_ascii=False).replace("/", "\\/")


class Reply:
    """One reply line of a one-shot command, checked for its form."""

    def __init__(self, line, members):
        self.line = line          # the line without its line feed
        self.members = members

    def __getitem__(self, key):
        return self.members[key]

    def __repr__(self):
        return self.line


def _object_without_duplicate_keys(pairs):
    keys = [key for key, _ in pairs]
    if len(keys) != len(set(keys)):
        raise AssertionError(f"duplicate keys: {keys}")
    return dict(pairs)


def parse_reply(stdout):
    """One line of compact JSON: Booleans, 32-bit integers and texts."""
    if not stdout.endswith(b"\n") or stdout.count(b"\n") != 1:
        raise AssertionError(f"expected exactly one line, got {stdout!r}")
    line = stdout[:-1].decode("utf-8")
    members = json.loads(line, object_pairs_hook=_object_without_duplicate_keys)
    if not isinstance(members, dict):
        raise AssertionError(f"not a JSON object: {line!r}")
    if re.search(r"\s", _JSON_STRING.sub("", line)):
        raise AssertionError(f"not compact JSON: {line!r}")
    for key, value in members.items():
        if isinstance(value, bool) or isinstance(value, str):
            continue
        if isinstance(value, int) and -2**31 <= value < 2**31:
            continue
        raise AssertionError(f"member {key!r} has a value of another kind: {line!r}")
    if not isinstance(members.get("ok"), bool):
        raise AssertionError(f'no Boolean "ok": {line!r}')
    return Reply(line, members)


def run_focusctl(*args, env=None, limit=COMMAND_LIMIT):
    """Runs focusctl once; exit status 0, nothing on stderr, one JSON line."""
    completed = subprocess.run(
        [FOCUSCTL, *args], stdin=subprocess.DEVNULL, capture_output=True,
        timeout=limit, env=env, check=False)
    if completed.returncode != 0:
        raise AssertionError(f"focusctl {args} exited with {completed.returncode}")
    if completed.stderr:
        raise AssertionError(f"focusctl {args} wrote to stderr: {completed.stderr!r}")
    return parse_reply(completed.stdout)


def wait_until(fetch, accept, limit, what):
    """Calls fetch until accept holds for what it returned; returns that."""
    deadline = time.monotonic() + limit
    while True:
        last = fetch()
        if accept(last):
            return last
        if time.monotonic() > deadline:
            raise AssertionError(f"gave up waiting for {what}; last seen: {last!r}")
        time.sleep(0.05)


class LineReader:
    """Collects a pipe's lines, byte for byte, on a thread of its own."""

    def __init__(self, pipe, describe_end=lambda: ""):
        self._describe_end = describe_end
        self._lines = queue.Queue()
        self._thread = threading.Thread(target=self._pump, args=(pipe,), daemon=True)
        self._thread.start()

    def _pump(self, pipe):
        for line in iter(pipe.readline, b""):
            self._lines.put(line)
        self._lines.put(None)

    def next_line(self, limit=EVENT_LIMIT):
        """The next line, b"" at end of output, None when none came in time."""
        try:
            line = self._lines.get(timeout=limit)
        except queue.Empty:
            return None
        if line is None:
            self._lines.put(None)
            return b""
        return line

    def expect(self, *expected, limit=EVENT_LIMIT):
        for want in expected:
            got = self.next_line(limit)
            if got != want:
                raise AssertionError(f"expected {want!r}, got {got!r}{self._end(got)}")

    def _end(self, got):
        return f" at the end of output: {self._describe_end()}" if got == b"" else ""

    def rest(self, limit=EVENT_LIMIT):
        """Everything up to the end of output, once the writer has ended."""
        self._thread.join(limit)
        lines = []
        while (line := self.next_line(0)) not in (None, b""):
            lines.append(line)
        return b"".join(lines)

    def expect_quiet(self, period=QUIET_PERIOD):
        got = self.next_line(period)
        if got is not None:
            raise AssertionError(f"expected no further output, got {got!r}{self._end(got)}")

    def wait_line(self, wanted, limit=EVENT_LIMIT):
        """Skips lines until the wanted one (without its line feed)."""
        return self.wait_for(lambda line: line == wanted + b"\n", limit, f"{wanted!r}")

    def wait_for(self, predicate, limit, what):
        """Skips lines until one satisfies predicate; returns it."""
        deadline = time.monotonic() + limit
        while True:
            line = self.next_line(max(0.0, deadline - time.monotonic()))
            if line is None or line == b"":
                raise AssertionError(f"no line {what} (got {line!r}){self._end(line)}")
            if predicate(line):
                return line


class Process:
    """A process whose stdout is read line by line."""

    def __init__(self, argv, env=None):
        self.argv = argv
        self.popen = subprocess.Popen(
            argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=env, start_new_session=True)
        self.stdout = LineReader(self.popen.stdout, self.describe_end)
        self.stderr = LineReader(self.popen.stderr)

    def describe_end(self):
        try:
            status = self.popen.wait(timeout=EVENT_LIMIT)
        except subprocess.TimeoutExpired:
            return f"{self.argv[0]} closed its output but is still running"
        return (f"{self.argv[0]} ended with status {status}, "
                f"stderr {self.stderr.rest()!r}")

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def close(self):
        """Ends the process; returns what it wrote to stderr."""
        if self.popen.poll() is None:
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
    completed = subprocess.run(args, capture_output=True, text=True,
                               timeout=COMMAND_LIMIT, check=False)
    if completed.returncode != 0:
        raise AssertionError(f"{args} failed: {completed.stderr.strip()}")
    return completed.stdout


def active_window():
    return int(x_tool("xdotool", "getactivewindow").strip())


def window_rect(window):
    """Screen position and size of the window's client area."""
    info = x_tool("xwininfo", "-id", str(window))
    def field(name):
        return int(re.search(name + r":\s+(-?\d+)", info).group(1))
    return (field("Absolute upper-left X"), field("Absolute upper-left Y"),
            field("Width"), field("Height"))


WATCH_LINES = frozenset({b"watching\n", b"fallback\n", b"ax\n"})


def settle(watch, limit=STARTUP_LIMIT):
    """The lines a watcher writes until the first pause after a "watching":
    only the three words, the last subscription line a complete one."""
    lines = []
    deadline = time.monotonic() + limit
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            raise AssertionError(f"no settled watcher within {limit} s: {lines!r}")
        line = watch.stdout.next_line(
            min(QUIET_PERIOD, left) if b"watching\n" in lines else left)
        if line is None:
            if b"watching\n" in lines:
                break
            continue
        if line == b"":
            raise AssertionError(f"watch ended after {lines!r}: {watch.describe_end()}")
        lines.append(line)
    subscriptions = [line for line in lines if line != b"ax\n"]
    if not set(lines) <= WATCH_LINES or subscriptions[-1] != b"watching\n":
        raise AssertionError(f"watch did not settle on a subscription: {lines!r}")
    return lines


def wait_until_frontmost(pid):
    """Waits until focusctl sees pid frontmost; returns that reply."""
    return wait_until(lambda: run_focusctl("frontmost").members,
                      lambda members: members.get("pid") == pid,
                      STARTUP_LIMIT, f"pid {pid} to be frontmost")


class Fixture(Process):
    """The GTK fixture application, shown and focused."""

    def __init__(self, *options):
        super().__init__([FIXTURE, *options])
        try:
            focus = self.stdout.wait_for(lambda line: line.startswith(b"focus "),
                                         STARTUP_LIMIT, "focus from the fixture")
            self.stdout.expect(b"ready\n", limit=STARTUP_LIMIT)
            # Rectangle of the focused widget within its window's client area.
            self.focus_rect = tuple(int(part) for part in focus.split()[1:])
            wait_until_frontmost(self.pid)
        except BaseException:
            self.close()
            raise

    def expected_geometry(self):
        """The focused widget's "position" and "size" texts, from X."""
        x, y, _, _ = window_rect(active_window())
        rx, ry, width, height = self.focus_rect
        return f"{{{x + rx},{y + ry}}}", f"{{{width},{height}}}"


class DesktopTestCase(unittest.TestCase):
    """Ends every process a test started, even when the test fails."""

    def start_fixture(self, *options):
        fixture = Fixture(*options)
        self.addCleanup(fixture.close)
        return fixture

    def start_process(self, argv, env=None):
        process = Process(argv, env=env)
        self.addCleanup(process.close)
        return process

    def read(self):
        reply = run_focusctl("read")
        self.assertEqual(set(reply.members), READ_KEYS, reply)
        self.assertIs(reply["ok"], True, reply)
        self.assertIs(reply["trusted"], True, reply)
        return reply

    def start_watch(self):
        """A watcher started on the desktop as the test left it."""
        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"watching\n")
        watch.stdout.expect_quiet()
        return watch

    def assert_still_watching(self, watch):
        self.assertTrue(watch.running(), "watch ended on its own")
        self.assertEqual(watch.close(), b"", "watch wrote to stderr")

    def read_until(self, expected):
        """Waits until the focused element has the expected members."""
        reply = wait_until(lambda: run_focusctl("read"),
                           lambda r: r["ok"] and expected.items() <= r.members.items(),
                           STARTUP_LIMIT, f"focus on {expected}")
        self.assertEqual(set(reply.members), READ_KEYS, reply)
        return reply

    def assert_on_screen(self, reply):
        """Screen coordinates inside the active window, or no geometry."""
        if reply["position"] == "" or reply["size"] == "":
            self.assertEqual((reply["position"], reply["size"]), ("", ""), reply)
            return
        wx, wy, ww, wh = window_rect(active_window())
        x, y = (int(n) for n in _GEOMETRY.fullmatch(reply["position"]).groups())
        width, height = (int(n) for n in _GEOMETRY.fullmatch(reply["size"]).groups())
        self.assertTrue(0 < width and 0 < height and wx <= x and x + width <= wx + ww
                        and wy <= y and y + height <= wy + wh,
                        f"{reply} outside {wx, wy, ww, wh}")

    def set_text(self, text):
        reply = run_focusctl("set", b64(text))
        self.assertEqual(reply.members, {"ok": True, "method": "ax", "error": 0}, reply)
        return reply


def main():
    if not FOCUSCTL or not os.access(FOCUSCTL, os.X_OK):
        raise SystemExit("FOCUSCTL_BIN must name the focusctl executable under test")
    unittest.main(verbosity=2)
