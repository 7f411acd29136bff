#!/usr/bin/env python3
"""Faults around a running watcher: the application it watches goes, the
accessibility registry restarts, the controller stops reading."""

import os
import pathlib
import re
import select
import signal
import subprocess
import time

from e2e_support import (COMMAND_LIMIT, EVENT_LIMIT, FIXTURE_APP, FOCUSCTL, NO_FRONTMOST,
                         QUIET_PERIOD, SECOND_FIXTURE, STARTUP_LIMIT, DesktopTestCase, main,
                         run_focusctl, settle, type_text, wait_until, wait_until_frontmost,
                         x_tool)

REGISTRY = "org.a11y.atspi.Registry"


class WatchTestCase(DesktopTestCase):
    def assert_value_changes_seen(self, watch, pid, text):
        # Typed into the empty entry of the frontmost pid: one "ax", and there.
        wait_until_frontmost(pid)
        type_text(text)
        watch.stdout.expect(b"ax\n")
        watch.stdout.expect_quiet()
        reply = self.read()
        self.assertEqual((reply["pid"], reply["text"]), (pid, text))


class ObservedApplicationGoes(WatchTestCase):
    def test_frontmost_application_goes(self):
        # Whatever the focus-change callback then finds of an application
        # that is gone, the watcher follows the one left in front.
        for how in ("exits", "is killed", "is killed right after a focus move"):
            with self.subTest(how=how):
                remaining = self.start_fixture("--focus", "placeholder")
                if how == "exits":
                    front = self.start_process(["zenity", "--entry", "--text", "Name"])
                    wait_until_frontmost(front.pid)
                else:
                    front = self.start_fixture("--focus", "placeholder", *SECOND_FIXTURE)
                watch = self.start_watch()
                type_text("q")
                watch.stdout.expect(b"ax\n")
                if how == "exits":
                    # Return confirms the dialog: zenity prints the entry and exits.
                    x_tool("xdotool", "key", "Return")
                    self.assertEqual(front.popen.wait(timeout=STARTUP_LIMIT), 0)
                    self.assertEqual(front.stdout.rest(), b"q\n")
                else:
                    if "focus move" in how:
                        x_tool("xdotool", "key", "Tab")
                    os.kill(front.pid, signal.SIGKILL)
                settle(watch)
                self.assert_value_changes_seen(watch, remaining.pid, "a")
                self.assert_still_watching(watch)
                remaining.close()

    def test_application_is_restarted(self):
        first = self.start_fixture()
        watch = self.start_watch()
        self.assert_value_changes_seen(watch, first.pid, "q")

        # The only application is gone: nothing can be complete meanwhile.
        os.kill(first.pid, signal.SIGKILL)
        first.popen.wait(timeout=COMMAND_LIMIT)
        gap = watch.stdout.until_quiet()
        self.assertLessEqual(set(gap), {b"fallback\n"}, gap)
        self.assertEqual(run_focusctl("frontmost"), NO_FRONTMOST)

        again = self.start_fixture()
        self.assertNotEqual(again.pid, first.pid)
        settle(watch)
        self.assertEqual(run_focusctl("frontmost"), {"ok": True, "pid": again.pid, **FIXTURE_APP})
        self.assert_value_changes_seen(watch, again.pid, "a")
        self.assert_still_watching(watch)


class RegistryRestart(WatchTestCase):
    def a11y_call(self, destination, path, method, *args):
        """A call on the accessibility bus; None when it fails."""
        done = subprocess.run(
            ["gdbus", "call", "--address", self.address, "--dest", destination,
             "--object-path", path, "--method", method, *args],
            capture_output=True, text=True, timeout=COMMAND_LIMIT, check=False)
        return done.stdout.strip() if done.returncode == 0 else None

    def registry_pid(self):
        # Asking the bus daemon never starts the registry.
        reply = self.a11y_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.GetConnectionUnixProcessID", REGISTRY)
        return int(re.fullmatch(r"\(uint32 (\d+),\)", reply).group(1)) if reply else None

    def registered_events(self):
        # The (listener, event) pairs the registry passes on to applications.
        reply = self.a11y_call(REGISTRY, "/org/a11y/atspi/registry",
                               "org.a11y.atspi.Registry.GetRegisteredEvents")
        return frozenset(re.findall(r"\('([^']*)', '([^']*)'\)", reply or ""))

    def test_watch_survives_a_restart_of_the_registry(self):
        reply = x_tool("gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                       "/org/a11y/bus", "--method", "org.a11y.Bus.GetAddress")
        self.address = re.fullmatch(r"\('(.*)',\)", reply.strip()).group(1)
        first = self.start_fixture()
        watch = self.start_watch()
        # Only the watcher listens on this desktop.
        listening = self.registered_events()
        self.assertTrue(listening, "the watcher registered no events")

        old = self.registry_pid()
        self.assertIsNotNone(old)
        os.kill(old, signal.SIGKILL)
        wait_until(self.registry_pid, lambda pid: pid != old, COMMAND_LIMIT,
                   "the killed registry to leave the bus")
        # Losing the registry is no focus, value or activation event.
        watch.stdout.expect_quiet()

        # Asked for, the bus starts the registry again.
        self.assertIsNotNone(self.a11y_call(REGISTRY, "/org/a11y/atspi/accessible/root",
                                            "org.freedesktop.DBus.Properties.Get",
                                            "org.a11y.atspi.Accessible", "ChildCount"))
        new = self.registry_pid()
        self.assertNotIn(new, (None, old))
        # libatspi in the watcher hands its listeners to the new registry by
        # itself; applications only send what the registry passes on.
        wait_until(self.registered_events, lambda events: events >= listening,
                   STARTUP_LIMIT, "the watcher's events registered again")
        watch.stdout.expect_quiet()

        # The application observed all along still reports value changes.
        self.assert_value_changes_seen(watch, first.pid, "r")

        # An application known only to the new registry, then the old one
        # again: each activation gives a complete subscription.
        second = self.start_fixture(*SECOND_FIXTURE)
        settle(watch)
        self.assert_value_changes_seen(watch, second.pid, "s")
        self.assertEqual(run_focusctl("activate", str(first.pid)),
                         {"ok": True, "method": "app-activate", "pid": first.pid})
        settle(watch)
        type_text("t")
        watch.stdout.expect(b"ax\n")
        watch.stdout.expect_quiet()
        self.assertEqual(self.read()["text"], "rt")
        self.assertEqual(self.registry_pid(), new)
        self.assert_still_watching(watch)


class ControllerGoesAway(DesktopTestCase):
    # Once nobody reads its lines, the next line a watcher writes ends it,
    # killed by SIGPIPE or by an exit of its own.

    def test_watch_ends_at_its_next_line(self):
        self.start_fixture()
        # A controller that ignores SIGPIPE (Python does) and does not reset
        # it passes that on: the write fails with EPIPE instead of killing.
        for event, sigpipe_ignored in (("x", False), ("x", True), ("activation", False)):
            with self.subTest(event=event, sigpipe_ignored=sigpipe_ignored):
                # Read without a thread, so that closing really leaves the
                # pipe without a reader.
                watch = subprocess.Popen(
                    [FOCUSCTL, "watch"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, start_new_session=True,
                    restore_signals=not sigpipe_ignored)
                self.addCleanup(watch.kill)
                status = pathlib.Path(f"/proc/{watch.pid}/status").read_text(encoding="ascii")
                ignored = int(re.search(r"^SigIgn:\s*([0-9a-f]+)$", status, re.M).group(1), 16)
                self.assertEqual(bool(ignored & (1 << (signal.SIGPIPE - 1))), sigpipe_ignored)
                fd = watch.stdout.fileno()
                self.assertTrue(select.select([fd], [], [], EVENT_LIMIT)[0], "no first line")
                self.assertEqual(os.read(fd, 100), b"watching\n")
                self.assertFalse(select.select([fd], [], [], QUIET_PERIOD)[0])
                watch.stdout.close()
                if event == "activation":
                    # Idle for a while; the first line after it is a rebuild's.
                    time.sleep(2 * QUIET_PERIOD)
                    self.start_fixture(*SECOND_FIXTURE)
                else:
                    type_text(event)
                try:
                    status = watch.wait(timeout=EVENT_LIMIT)
                except subprocess.TimeoutExpired:
                    self.fail(f"watch still runs after {event} with nobody reading")
                self.assertIn(status, (0, -signal.SIGPIPE))
                self.assertEqual(watch.stderr.read(), b"")
                watch.stderr.close()


if __name__ == "__main__":
    main()
