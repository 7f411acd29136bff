#!/usr/bin/env python3
"""focusctl against applications that misbehave (bench/fake_app.c on a private
accessibility bus, no display): whatever the application does, every one-shot
command answers one JSON line with exit status 0 and nothing on stderr, within
2 s and 150 MB, and says what a controller needs; watch keeps up."""

import hashlib
import os
import signal
import sys
import tempfile
import time
import unittest

from e2e_support import EVENT_LIMIT, FOCUSCTL, Process, b64, main, parse_reply

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from fake_desktop import FakeDesktop  # noqa: E402

FAKE_APP = os.environ.get("FOCUSCTL_FAKE_APP", "")
TIME_LIMIT = 2.0
MEMORY_LIMIT_KIB = 150 * 1024
KILL_AFTER = 6.0  # a run past its limit is ended here, its figures reported
PID = object()  # stands for the fake application's process id

ENTRY = {"ok": True, "role": "AXTextField", "title": "entry 0", "text": "hello"}
NO_FOCUS = {"ok": False, "reason": "no-focused-element"}


def action(method, code):
    return {"ok": code == 0, "method": method, "error": code}


def shown(value):
    """Long texts by length and hash, so that a failure stays readable."""
    if isinstance(value, str) and len(value) > 80:
        return f"<{len(value)} chars, sha256 {hashlib.sha256(value.encode()).hexdigest()[:12]}>"
    return value


# The text of fake_app big-text 50: a block repeated up to 50 MiB.
BLOCK = 'Grüße "✓" 0123456789 abcdefghijklmnopqrstuvwxyz \\ 😀\n'
BIG_TEXT = shown(BLOCK * -(-50 * 2**20 // len(BLOCK.encode())))


# (the fake application's arguments, the command, the members the reply must
# have, or a list of alternatives). Rows of one application follow each other
# and see what earlier ones changed.
ROWS = [
    (("plain",), ("read",), ENTRY),
    (("plain",), ("set", b64("wörld")), action("ax", 0)),
    (("plain",), ("read",), dict(ENTRY, text="wörld")),
    (("plain",), ("press",), action("ax-press", -25206)),
    (("plain",), ("frontmost",), {"ok": True, "pid": PID, "appName": "fake-app"}),
    (("plain",), ("activate", PID), {"method": "app-activate", "pid": PID}),
    (("button",), ("press",), action("ax-press", 0)),
    (("cycle",), ("read",), ENTRY),
    (("cycle",), ("set", b64("x")), action("ax", 0)),
    (("cycle",), ("press",), action("ax-press", -25206)),
    (("cycle",), ("frontmost",), {"ok": True, "pid": PID}),
    (("cycle-wide",), ("read",), dict(ENTRY, title="entry 3")),
    (("cycle-wide",), ("set", b64("x")), action("ax", 0)),
    (("cycle-wide",), ("press",), action("ax-press", -25206)),
    (("cycle-wide",), ("frontmost",), {"ok": True, "pid": PID}),
    (("deep", "100000"), ("read",), dict(ENTRY, title="entry 10")),
    (("deep-focus", "100000"), ("read",), [dict(ENTRY, title="entry 100000"), NO_FOCUS]),
    (("huge-count",), ("read",), ENTRY),
    (("wide", "1000000"), ("read",), ENTRY),
    (("slow",), ("read",), {}),
    (("slow",), ("set", b64("x")), {}),
    (("slow",), ("press",), {}),
    (("slow",), ("frontmost",), {}),
    (("slow",), ("activate", PID), {}),
    (("many-focused", "2000"), ("read",), {"ok": True, "role": "AXTextField"}),
    (("big-text", "50"), ("read",), dict(ENTRY, text=BIG_TEXT)),
    (("interfaces-fail",), ("press",), action("ax-press", -25204)),
    (("interfaces-fail",), ("set", b64("x")), action("ax", -25204)),
    (("interfaces-wrong-type",), ("press",), action("ax-press", -25204)),
    (("interfaces-wrong-type",), ("set", b64("x")), action("ax", -25204)),
    (("unknown-method-state",), ("read",), ENTRY),
    (("exits-on-action",), ("press",), action("ax-press", -25202)),
]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class HostileApplication(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="focusctl-hostile-")
        self.addCleanup(work.cleanup)
        self.desktop = FakeDesktop(FAKE_APP, work.name)
        self.addCleanup(self.desktop.close)
        self.desktop.start_bus()

    def start_watch(self):
        watch = Process([FOCUSCTL, "watch"], env=self.desktop.env)
        self.addCleanup(lambda: self.assertEqual(watch.close(), b"", "watch wrote to stderr"))
        watch.stdout.expect(b"watching\n")
        return watch

    def test_one_shot_commands(self):
        running = None
        for app_args, command, expected in ROWS:
            if app_args != running or self.desktop.app.poll() is not None:
                self.desktop.stop_app()
                pid, running = self.desktop.start_app(*app_args).pid, app_args
            fill = lambda value: pid if value is PID else value  # noqa: E731
            status, out, err, seconds, peak_kib = self.desktop.run(
                [FOCUSCTL, *(str(fill(word)) for word in command)], KILL_AFTER)
            try:
                reply = parse_reply(out)
                seen = {key: shown(value) for key, value in reply.items()}
            except (AssertionError, ValueError):
                reply, seen = None, out[:200]
            figures = (f"{' '.join(app_args)} / {command[0]}: {seconds:.2f} s, "
                       f"{peak_kib / 1024:.0f} MB")
            print(f"  {figures}, status {status}: {seen}", file=sys.stderr)
            with self.subTest(app=" ".join(app_args), command=command[0]):
                self.assertEqual((status, err, reply is not None), (0, b"", True), figures)
                self.assertLess(seconds, TIME_LIMIT, figures)
                self.assertLess(peak_kib, MEMORY_LIMIT_KIB, figures)
                alternatives = [{key: shown(fill(value)) for key, value in wanted.items()}
                                for wanted in (expected if isinstance(expected, list)
                                               else [expected])]
                self.assertTrue(any(wanted.items() <= seen.items() for wanted in alternatives),
                                f"{seen} is none of {alternatives}")

    def test_watch_catches_up_after_a_storm_of_focus_events(self):
        app = self.desktop.start_app("storm")
        watch = self.start_watch()
        cpu_before = cpu_seconds(watch.pid)
        app.send_signal(signal.SIGUSR1)
        ended = int(app.stdout.readline().split()[1]) / 1e6
        time.sleep(2.0)
        cpu = cpu_seconds(watch.pid) - cpu_before
        late = [(round(when - ended, 2), line) for when, line in watch.stdout.arrived
                if when > ended]
        print(f"  storm: {cpu:.2f} CPU s; lines after its end (s after it): {late}",
              file=sys.stderr)
        self.assertTrue(late and all(when <= 1.0 for when, _ in late),
                        f"lines after the storm (s after its end): {late}")
        self.assertLess(cpu, 1.0, "CPU seconds of watch over a 5 s storm")
        _, out, _, _, _ = self.desktop.run([FOCUSCTL, "read"], KILL_AFTER)
        self.assertEqual(parse_reply(out).get("title"), "entry 2")

    def test_watch_gives_its_first_line_in_time(self):
        for app_args, first in ((("huge-count",), b"watching\n"), (("cycle",), b"watching\n"),
                                (("slow",), b"fallback\n")):
            with self.subTest(app=app_args[0]):
                self.desktop.stop_app()
                self.desktop.start_app(*app_args)
                watch = Process([FOCUSCTL, "watch"], env=self.desktop.env)
                self.assertEqual(watch.stdout.next_line(limit=TIME_LIMIT), first)
                self.assertEqual(watch.close(), b"", "watch wrote to stderr")

    def test_a_stopped_bus_is_answered_in_time(self):
        self.desktop.start_app("plain")
        os.kill(self.desktop.daemon.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, self.desktop.daemon.pid, signal.SIGCONT)
        status, out, err, seconds, _ = self.desktop.run([FOCUSCTL, "read"], KILL_AFTER)
        self.assertEqual((status, err, parse_reply(out)["ok"]), (0, b"", False))
        self.assertLess(seconds, TIME_LIMIT)
        watch = Process([FOCUSCTL, "watch"], env=self.desktop.env)
        self.assertEqual(watch.stdout.next_line(limit=TIME_LIMIT), b"fallback\n")
        self.assertEqual(watch.close(), b"", "watch wrote to stderr")

    def test_watch_follows_the_bus_away_and_back(self):
        self.desktop.start_app("plain")
        watch = self.start_watch()
        watch.stdout.expect_quiet()
        self.desktop.stop_bus()
        watch.stdout.expect(b"fallback\n", limit=1.0)
        self.desktop.stop_app()
        self.desktop.start_bus()
        self.desktop.start_app("plain")
        watch.stdout.wait_line(b"watching", limit=EVENT_LIMIT)


if __name__ == "__main__":
    if not os.access(FAKE_APP, os.X_OK):
        raise SystemExit("FOCUSCTL_FAKE_APP must name the fake_app executable")
    main()
