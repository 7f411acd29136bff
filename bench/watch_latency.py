#!/usr/bin/python3
"""Measures `focusctl watch` on a running desktop whose frontmost application
has a focused editable text element:

- idle cost: CPU time and wake-ups (context switches, all threads) over a
  period in which nothing changes; a watcher that waits on its sockets wakes
  up never, one that polls wakes up every period;
- event-to-line latency: this process replaces the focused element's text
  through AT-SPI (EditableText.SetTextContents) and times until the "ax" line
  arrives on watch's standard output; lines beyond the first per change are
  counted as extra (GTK reports a replaced text as a deletion and an
  insertion, so each change gives two);
- peak resident memory (VmHWM) after all of that.

    watch_latency.py FOCUSCTL [--changes N] [--idle SECONDS]

Prints one JSON object. Used by harness.py; runs on its own inside
tests/e2e/headless-desktop with a focused fixture too."""

import argparse
import json
import os
import select
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_read import active_window, focused_descendant  # noqa: E402

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
EXTRA_LINE_WINDOW = 0.05   # seconds a change's further lines are collected
EVENT_LIMIT = 2.0          # seconds before a change counts as lost


class LineReader:
    """Lines of a pipe with the monotonic time each one was read."""

    def __init__(self, fd):
        self.fd = fd
        self.buffer = b""
        self.pending = []

    def _fill(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], max(0.0, timeout))
        if not ready:
            return False
        chunk = os.read(self.fd, 65536)
        now = time.perf_counter()
        if not chunk:
            raise EOFError("watch closed its output")
        self.buffer += chunk
        *lines, self.buffer = self.buffer.split(b"\n")
        self.pending.extend((now, line.decode("utf-8", "replace")) for line in lines)
        return True

    def next_line(self, timeout):
        """(time, line) or None when nothing came in time."""
        deadline = time.perf_counter() + timeout
        while not self.pending:
            if not self._fill(deadline - time.perf_counter()):
                return None
        return self.pending.pop(0)

    def drain(self, period=0.0):
        """All lines that arrive within period."""
        lines = []
        deadline = time.perf_counter() + period
        while True:
            item = self.next_line(max(0.0, deadline - time.perf_counter()))
            if item is None:
                return lines
            lines.append(item[1])


def process_counters(pid):
    """CPU seconds (user + system) and context switches over all threads."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
    voluntary = involuntary = threads = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        threads += 1
        with open(f"/proc/{pid}/task/{task}/status") as status:
            for line in status:
                if line.startswith("voluntary_ctxt_switches:"):
                    voluntary += int(line.split()[1])
                elif line.startswith("nonvoluntary_ctxt_switches:"):
                    involuntary += int(line.split()[1])
    return {"cpu_s": cpu, "voluntary": voluntary, "involuntary": involuntary,
            "threads": threads}


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return None


def percentile(values, fraction):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, round(fraction * (len(ordered) - 1))))
    return ordered[index]


def measure(focusctl, changes=200, idle_seconds=60.0):
    app, window = active_window()
    element = focused_descendant(window) if window is not None else None
    if element is None:
        return {"error": "no focused element to change"}
    editable = element.queryEditableText()

    watch = subprocess.Popen([focusctl, "watch"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    result = {"app": app.name}
    phase = "start-up"
    try:
        lines = LineReader(watch.stdout.fileno())
        first = lines.next_line(10.0)
        result["first_line"] = first[1] if first else None
        if not first or first[1] != "watching":
            result["error"] = f"watch started with {first!r}"
            return result
        # Whatever start-up leaves behind settles before the idle period.
        result["lines_while_settling"] = lines.drain(1.0)

        phase = "the idle period"
        before = process_counters(watch.pid)
        idle_lines = lines.drain(idle_seconds)
        after = process_counters(watch.pid)
        result["idle"] = {
            "seconds": idle_seconds,
            "cpu_ms": round((after["cpu_s"] - before["cpu_s"]) * 1000, 1),
            "wakeups_voluntary": after["voluntary"] - before["voluntary"],
            "wakeups_involuntary": after["involuntary"] - before["involuntary"],
            "threads": after["threads"],
            "lines": idle_lines,
        }

        phase = "the value changes"
        latencies = []
        call_times = []
        extra_lines = 0
        lost = 0
        other_lines = []
        for i in range(changes):
            lines.drain()
            start = time.perf_counter()
            editable.setTextContents(f"change {i}")
            returned = time.perf_counter()
            call_times.append(returned - start)
            while True:
                item = lines.next_line(EVENT_LIMIT - (time.perf_counter() - start))
                if item is None:
                    lost += 1
                    break
                if item[1] == "ax":
                    latencies.append(item[0] - start)
                    break
                other_lines.append(item[1])
            for line in lines.drain(EXTRA_LINE_WINDOW):
                if line == "ax":
                    extra_lines += 1
                else:
                    other_lines.append(line)
        ms = [value * 1000 for value in latencies]
        result["latency"] = {
            "changes": changes,
            "lines": len(ms),
            "lost": lost,
            "extra_ax_lines": extra_lines,
            "other_lines": other_lines[:10],
            "median_ms": round(statistics.median(ms), 3) if ms else None,
            "p99_ms": round(percentile(ms, 0.99), 3) if ms else None,
            "min_ms": round(min(ms), 3) if ms else None,
            "max_ms": round(max(ms), 3) if ms else None,
            "set_call_median_ms": round(statistics.median(call_times) * 1000, 3),
        }
        result["vm_hwm_kib"] = status_kib(watch.pid, "VmHWM")
        result["vm_rss_kib"] = status_kib(watch.pid, "VmRSS")
        result["still_running"] = watch.poll() is None
        return result
    except EOFError:
        watch.wait(timeout=5)
        result["error"] = f"watch ended during {phase} with status {watch.returncode}"
        return result
    finally:
        watch.terminate()
        try:
            watch.wait(timeout=5)
        except subprocess.TimeoutExpired:
            watch.kill()
            watch.wait()
        stderr = watch.stderr.read()
        if stderr:
            result["stderr"] = stderr.decode("utf-8", "replace")[:500]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("focusctl")
    parser.add_argument("--changes", type=int, default=200)
    parser.add_argument("--idle", type=float, default=60.0)
    args = parser.parse_args()
    print(json.dumps(measure(args.focusctl, args.changes, args.idle), indent=2))


if __name__ == "__main__":
    main()
