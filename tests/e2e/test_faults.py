#!/usr/bin/env python3
"""Faults around a running focusctl: the application it watches exits, is
killed or restarted; the accessibility registry is restarted; the controller
stops reading; the frontmost application is stopped while one-shot commands
ask it. Through all of them every focusctl process writes nothing to stderr
and only lines of its own form, and the watcher comes back to a complete
subscription at the next activation."""

import os
import re
import select
import signal
import subprocess
import threading
import time

from e2e_support import (COMMAND_LIMIT, EVENT_LIMIT, FIXTURE_APP_ID, FIXTURE_APP_NAME,
                         FOCUSCTL, QUIET_PERIOD, STARTUP_LIMIT, DesktopTestCase,
                         LineReader, b64, main, run_focusctl, wait_until,
                         wait_until_frontmost, x_tool)

WATCH_LINES = frozenset({b"watching\n", b"fallback\n", b"ax\n"})

SECOND = ("--app-id", "org.focusctl.FixtureTwo", "--app-name", "focusctl-fixture-two",
          "--title", "Fixture Two")

NO_FOCUS = {"ok": False, "reason": "no-focused-element", "trusted": True}

# libatspi gives a call to an application that does not answer up to 15 s,
# its start-up allowance, which a process that has only just connected (every
# one-shot run) grants every application. One such wait, the short liveness
# probe after it and start-up must fit; a second blocked call would not.
STOPPED_LIMIT = 25.0


class WatchTestCase(DesktopTestCase):
    """A watcher started on the desktop as the test left it."""

    def start_watch(self):
        watch = self.start_process([FOCUSCTL, "watch"])
        watch.stdout.expect(b"watching\n")
        watch.stdout.expect_quiet()
        return watch

    def assert_still_watching(self, watch):
        self.assertTrue(watch.running(), "watch ended on its own")
        self.assertEqual(watch.close(), b"", "watch wrote to stderr")

    def settle(self, watch, limit=STARTUP_LIMIT):
        """The lines written while the desktop settles after a fault: up to
        the first pause of QUIET_PERIOD after a "watching". Only the three
        words; the last subscription written is the complete one."""
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
        self.assertLessEqual(set(lines), WATCH_LINES, lines)
        self.assertEqual([line for line in lines if line != b"ax\n"][-1], b"watching\n",
                         lines)
        return lines

    def assert_value_changes_seen(self, watch, pid, text):
        """Text typed into the empty entry of application pid, once it is
        frontmost, gives exactly one "ax" and lands there."""
        wait_until_frontmost(pid)
        x_tool("xdotool", "type", "--delay", "0", text)
        watch.stdout.expect(b"ax\n")
        watch.stdout.expect_quiet()
        reply = self.read()
        self.assertEqual((reply["pid"], reply["text"]), (pid, text))


class ObservedApplicationGoes(WatchTestCase):
    def test_frontmost_application_exits_normally(self):
        remaining = self.start_fixture("--focus", "placeholder")
        zenity = self.start_process(["zenity", "--entry", "--text", "Name"])
        wait_until_frontmost(zenity.pid)
        watch = self.start_watch()
        x_tool("xdotool", "type", "--delay", "0", "q")
        watch.stdout.expect(b"ax\n")

        # Return confirms the dialog: zenity prints the entry and exits.
        x_tool("xdotool", "key", "Return")
        self.assertEqual(zenity.popen.wait(timeout=STARTUP_LIMIT), 0)
        self.assertEqual(zenity.stdout.rest(), b"q\n")

        # The window manager hands the focus to the fixture: a rebuild for it.
        self.settle(watch)
        self.assert_value_changes_seen(watch, remaining.pid, "a")
        self.assert_still_watching(watch)

    def test_frontmost_application_is_killed(self):
        remaining = self.start_fixture("--focus", "placeholder")
        killed = self.start_fixture(*SECOND)
        watch = self.start_watch()
        self.assert_value_changes_seen(watch, killed.pid, "q")

        os.kill(killed.pid, signal.SIGKILL)
        self.settle(watch)
        self.assert_value_changes_seen(watch, remaining.pid, "a")
        self.assert_still_watching(watch)

    def test_killed_right_after_a_focus_move(self):
        # The focus-change callback then looks at an application that is
        # gone; whatever it writes, the next activation recovers.
        remaining = self.start_fixture("--focus", "placeholder")
        killed = self.start_fixture("--focus", "placeholder", *SECOND)
        watch = self.start_watch()

        x_tool("xdotool", "key", "Tab")
        os.kill(killed.pid, signal.SIGKILL)
        self.settle(watch)
        self.assert_value_changes_seen(watch, remaining.pid, "a")
        self.assert_still_watching(watch)

    def test_application_is_restarted(self):
        options = ("--focus", "placeholder")
        first = self.start_fixture(*options)
        watch = self.start_watch()
        self.assert_value_changes_seen(watch, first.pid, "q")

        # The only application is gone: nothing can be complete meanwhile.
        os.kill(first.pid, signal.SIGKILL)
        first.popen.wait(timeout=COMMAND_LIMIT)
        gap = []
        while (line := watch.stdout.next_line(QUIET_PERIOD)) not in (None, b""):
            gap.append(line)
        self.assertLessEqual(set(gap), {b"fallback\n"}, gap)
        self.assertEqual(run_focusctl("frontmost").members,
                         {"ok": False, "reason": "no-frontmost-app"})

        again = self.start_fixture(*options)
        self.assertNotEqual(again.pid, first.pid)
        self.settle(watch)
        self.assertEqual(run_focusctl("frontmost").members,
                         {"ok": True, "pid": again.pid, "appName": FIXTURE_APP_NAME,
                          "bundleID": FIXTURE_APP_ID})
        self.assert_value_changes_seen(watch, again.pid, "a")
        self.assert_still_watching(watch)


class AccessibilityBus:
    """The desktop's accessibility bus and the registry on it, through
    gdbus."""

    REGISTRY = "org.a11y.atspi.Registry"
    _PID = re.compile(r"\(uint32 (\d+),\)")
    _EVENT = re.compile(r"\('([^']*)', '([^']*)'\)")

    def __init__(self):
        reply = x_tool("gdbus", "call", "--session", "--dest", "org.a11y.Bus",
                       "--object-path", "/org/a11y/bus", "--method",
                       "org.a11y.Bus.GetAddress")
        self.address = re.fullmatch(r"\('(.*)',\)", reply.strip()).group(1)

    def call(self, destination, path, method, *args):
        """The reply, or None when the call failed."""
        completed = subprocess.run(
            ["gdbus", "call", "--address", self.address, "--dest", destination,
             "--object-path", path, "--method", method, *args],
            capture_output=True, text=True, timeout=COMMAND_LIMIT, check=False)
        return completed.stdout.strip() if completed.returncode == 0 else None

    def registry_pid(self):
        """The process owning the registry's name, or None while nobody does.
        Asking the bus daemon never starts the registry."""
        reply = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus.GetConnectionUnixProcessID",
                          self.REGISTRY)
        return int(self._PID.fullmatch(reply).group(1)) if reply else None

    def ask_registry(self):
        """Asks the registry something, which has the bus start it when it
        is not running; the reply, or None."""
        return self.call(self.REGISTRY, "/org/a11y/atspi/accessible/root",
                         "org.freedesktop.DBus.Properties.Get",
                         "org.a11y.atspi.Accessible", "ChildCount")

    def registered_events(self):
        """The (listener, event) pairs the registry passes on to
        applications."""
        reply = self.call(self.REGISTRY, "/org/a11y/atspi/registry",
                          "org.a11y.atspi.Registry.GetRegisteredEvents")
        return frozenset(self._EVENT.findall(reply or ""))


class RegistryRestart(WatchTestCase):
    def test_watch_survives_a_restart_of_the_registry(self):
        bus = AccessibilityBus()
        first = self.start_fixture("--focus", "placeholder")
        watch = self.start_watch()
        # Only the watcher listens on this desktop.
        listening = bus.registered_events()
        self.assertTrue(listening, "the watcher registered no events")

        old = bus.registry_pid()
        self.assertIsNotNone(old)
        os.kill(old, signal.SIGKILL)
        wait_until(bus.registry_pid, lambda pid: pid != old, COMMAND_LIMIT,
                   "the killed registry to leave the bus")
        # Losing the registry is no focus, value or activation event.
        watch.stdout.expect_quiet()

        self.assertIsNotNone(bus.ask_registry(), "the registry did not start again")
        new = bus.registry_pid()
        self.assertNotIn(new, (None, old))
        # libatspi in the watcher hands its listeners to the new registry by
        # itself; applications only send what the registry passes on.
        wait_until(bus.registered_events, lambda events: events >= listening,
                   STARTUP_LIMIT, "the watcher's events registered again")
        watch.stdout.expect_quiet()

        # The application observed all along still reports value changes.
        self.assert_value_changes_seen(watch, first.pid, "r")

        # An application known only to the new registry, then the old one
        # again: each activation gives a complete subscription.
        second = self.start_fixture("--focus", "placeholder", *SECOND)
        self.settle(watch)
        self.assert_value_changes_seen(watch, second.pid, "s")
        self.assertEqual(run_focusctl("activate", str(first.pid)).members,
                         {"ok": True, "method": "app-activate", "pid": first.pid})
        self.settle(watch)
        x_tool("xdotool", "type", "--delay", "0", "t")
        watch.stdout.expect(b"ax\n")
        watch.stdout.expect_quiet()
        self.assertEqual(self.read()["text"], "rt")
        self.assertEqual(bus.registry_pid(), new)
        self.assert_still_watching(watch)


class UnreadWatch:
    """A watcher whose controller reads its first line and then closes its
    end of the pipe. Read without a thread of its own, so that closing
    really leaves the pipe without a reader."""

    def __init__(self, test, **popen_options):
        self.popen = subprocess.Popen(
            [FOCUSCTL, "watch"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True, **popen_options)
        test.addCleanup(self.end)
        self.stderr = LineReader(self.popen.stderr)

    def first_line(self):
        fd = self.popen.stdout.fileno()
        line = b""
        deadline = time.monotonic() + EVENT_LIMIT
        while not line.endswith(b"\n"):
            ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError(f"no first line from watch, got {line!r}")
            byte = os.read(fd, 1)
            if not byte:
                raise AssertionError(f"watch ended after {line!r}")
            line += byte
        return line

    def quiet(self, period=QUIET_PERIOD):
        ready, _, _ = select.select([self.popen.stdout.fileno()], [], [], period)
        return not ready

    def close_pipe(self):
        self.popen.stdout.close()

    def ended(self, limit=EVENT_LIMIT):
        """The exit status once the process ended within limit, else None."""
        try:
            return self.popen.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            return None

    def end(self):
        if self.popen.poll() is None:
            self.popen.kill()
            self.popen.wait()
        self.stderr.rest()
        if not self.popen.stdout.closed:
            self.popen.stdout.close()
        self.popen.stderr.close()


class ControllerGoesAway(DesktopTestCase):
    """Once nobody reads its lines, a watcher must not live on: the next
    line it writes ends it, killed by SIGPIPE or by an exit of its own."""

    ENDINGS = (0, -signal.SIGPIPE)

    def setUp(self):
        self.first = self.start_fixture("--focus", "placeholder")

    def start_unread_watch(self, **popen_options):
        watch = UnreadWatch(self, **popen_options)
        self.assertEqual(watch.first_line(), b"watching\n")
        self.assertTrue(watch.quiet())
        return watch

    def assert_ends(self, watch, what):
        status = watch.ended()
        self.assertIsNotNone(status, f"watch still runs after {what} with nobody reading")
        self.assertIn(status, self.ENDINGS)
        self.assertEqual(watch.stderr.rest(), b"")

    def test_value_change_after_the_pipe_closed(self):
        watch = self.start_unread_watch()
        watch.close_pipe()
        x_tool("xdotool", "type", "--delay", "0", "x")
        self.assert_ends(watch, "a value change")

    def test_idle_watcher_ends_at_the_next_activation(self):
        watch = self.start_unread_watch()
        watch.close_pipe()
        # Nothing happens for a while; the first line after it is a rebuild's.
        time.sleep(2 * QUIET_PERIOD)
        self.start_fixture(*SECOND)
        self.assert_ends(watch, "an activation")

    def test_ends_where_the_controller_ignores_sigpipe(self):
        # A controller that ignores SIGPIPE (Python does) and does not reset
        # it passes that on: the write fails with EPIPE instead of killing.
        watch = self.start_unread_watch(restore_signals=False)
        with open(f"/proc/{watch.popen.pid}/status", encoding="ascii") as status:
            ignored = int(re.search(r"^SigIgn:\s*([0-9a-f]+)$", status.read(), re.M)
                          .group(1), 16)
        self.assertTrue(ignored & (1 << (signal.SIGPIPE - 1)), "SIGPIPE not ignored")
        watch.close_pipe()
        x_tool("xdotool", "type", "--delay", "0", "x")
        self.assert_ends(watch, "a value change")


class StoppedApplication(DesktopTestCase):
    def test_one_shot_commands_answer_while_the_application_is_stopped(self):
        # read (with watch) is covered by test_applications; these are the
        # other commands that ask the frontmost application.
        fixture = self.start_fixture("--focus", "placeholder")
        os.kill(fixture.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, fixture.pid, signal.SIGCONT)

        commands = {"frontmost": ("frontmost",), "set": ("set", b64("frozen")),
                    "press": ("press",)}
        replies = {}

        def run(name, args):
            try:
                replies[name] = run_focusctl(*args, limit=STOPPED_LIMIT)
            except BaseException as error:  # handed to the test's thread
                replies[name] = error

        threads = [threading.Thread(target=run, args=item) for item in commands.items()]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(STOPPED_LIMIT + COMMAND_LIMIT)
        for name in commands:
            if isinstance(replies.get(name), BaseException):
                raise replies[name]

        frontmost = replies["frontmost"].members
        if frontmost["ok"]:
            self.assertEqual(frontmost, {"ok": True, "pid": fixture.pid,
                                         "appName": FIXTURE_APP_NAME,
                                         "bundleID": FIXTURE_APP_ID})
        else:
            self.assertEqual(frontmost, {"ok": False, "reason": "no-frontmost-app"})
        # The focus lookup cannot get an answer either, or the action fails
        # with the code of a call that could not complete.
        for name, method in (("set", "ax"), ("press", "ax-press")):
            with self.subTest(command=name):
                members = replies[name].members
                if "reason" in members:
                    self.assertEqual(members, NO_FOCUS)
                else:
                    self.assertEqual(members, {"ok": False, "method": method,
                                               "error": -25204})

        # Running again, it answers again.
        os.kill(fixture.pid, signal.SIGCONT)
        self.assertEqual(self.read()["pid"], fixture.pid)


if __name__ == "__main__":
    main()
