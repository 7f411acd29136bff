#!/usr/bin/python3
"""The benchmark driver. `bench/run` builds everything and calls

    harness.py measure --bin DIR --focusctl PATH --out RESULTS.json

inside tests/e2e/headless-desktop, then

    harness.py render RESULTS.json [--readme bench/README.md]

to print the figures as Markdown (and write them between the markers of the
README). DIR holds floor, focusctl-fixture, wide-fixture-gtk3,
wide-fixture-gtk4 and fake_app. Without --focusctl only the peer and the floor are
measured."""

import argparse
import base64
import datetime
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import call_trace  # noqa: E402

PYTHON = "/usr/bin/python3"          # Debian's, the one python3-pyatspi is for
PEER = os.path.join(HERE, "peer_read.py")
STARTUP_LIMIT = 120.0                # 10,000 GTK 3 entries take a while on a busy machine
COMMAND_LIMIT = 300.0                # one read of 10,000 elements without Collection
SET_TEXT = base64.b64encode(b"bench").decode()
SCALING_SIZES = (100, 1000, 5000, 10000)
# Seconds of repeated runs per scaling case; long cases get fewer runs.
SCALING_BUDGET = 4.0
# The fake application's windows (focus on the last entry) and its big text.
FAKE_WIDE_SIZES = (10**4, 10**5, 10**6)
FAKE_TEXT_MB = 50


def log(message):
    print(f"[bench {time.strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


# --- the desktop ---------------------------------------------------------------

def run_text(argv, timeout=30.0):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout,
                          check=False).stdout


def active_window_pid():
    window = run_text(["xdotool", "getactivewindow"]).strip()
    if not window:
        return None
    match = re.search(r"= (\d+)", run_text(["xprop", "-id", window, "_NET_WM_PID"]))
    return int(match.group(1)) if match else None


def wait_until(probe, limit, what):
    deadline = time.monotonic() + limit
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise RuntimeError(f"gave up waiting for {what}")
        time.sleep(0.05)


class App:
    """An application of the benchmark, shown, active and focused."""

    def __init__(self, argv, env=None):
        self.argv = argv
        self.popen = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, env=env,
                                      start_new_session=True)
        started = time.monotonic()
        try:
            for line in self.popen.stdout:
                if line.strip() == b"ready":
                    break
            else:
                raise RuntimeError(f"{argv[0]} ended before it was ready")
            wait_until(lambda: active_window_pid() == self.popen.pid, STARTUP_LIMIT,
                       f"{os.path.basename(argv[0])} to be active")
        except BaseException:
            self.close()
            raise
        self.startup_s = round(time.monotonic() - started, 2)

    @property
    def pid(self):
        return self.popen.pid

    def close(self):
        if self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
        self.popen.stdout.close()


def close_all(apps):
    for app in apps:
        app.close()
    apps.clear()


# --- running commands ----------------------------------------------------------

def run_once(argv, timeout=COMMAND_LIMIT):
    """Runs argv once: its output and wall time."""
    started = time.perf_counter()
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        return {"timeout": True, "seconds": timeout}
    elapsed = time.perf_counter() - started
    line = stdout.decode("utf-8", "replace").strip()
    return {"stdout": line[:600], "stderr": stderr.decode("utf-8", "replace")[:300],
            "status": process.returncode, "seconds": round(elapsed, 4)}


def usage(argv, runs=5):
    """Peak resident memory (KiB) of one run and the median number of times
    the process waited (voluntary context switches: each answer it had to wait
    for), from GNU time (its own footprint before the exec is far below any
    measured program's; a fork of this Python process would count the
    interpreter's). Nones without GNU time."""
    if not os.access("/usr/bin/time", os.X_OK):
        return None, None
    peaks, waits = [], []
    for _ in range(runs):
        with tempfile.NamedTemporaryFile(mode="r") as report:
            subprocess.run(["/usr/bin/time", "-f", "%M %w", "-o", report.name, *argv],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False, timeout=COMMAND_LIMIT)
            fields = (report.read().strip().splitlines() or [""])[-1].split()
        if len(fields) == 2 and all(f.isdigit() for f in fields):
            peaks.append(int(fields[0]))
            waits.append(int(fields[1]))
    if not peaks:
        return None, None
    return max(peaks), statistics.median(waits)


def hyperfine_raw(cases, runs, warmup, export_path):
    """cases: [(name, argv)]. {name: (times in ms, mean CPU ms)} of one hyperfine run."""
    argv = ["hyperfine", "--shell=none", "--style", "basic", "--warmup", str(warmup),
            "--runs", str(runs), "--export-json", export_path]
    for name, command in cases:
        argv += ["--command-name", name, " ".join(command)]
    completed = subprocess.run(argv, capture_output=True, text=True, check=False)
    if completed.returncode != 0:
        raise RuntimeError(f"hyperfine failed: {completed.stderr[-800:]}")
    with open(export_path) as export:
        data = json.load(export)
    return {result["command"]: ([t * 1000 for t in result["times"]],
                                (result["user"] + result["system"]) * 1000)
            for result in data["results"]}


def figures_of(times, cpu_ms):
    return {"median_ms": round(statistics.median(times), 2), "min_ms": round(min(times), 2),
            "max_ms": round(max(times), 2), "cpu_ms": round(cpu_ms, 2), "runs": len(times)}


def hyperfine(cases, runs, warmup, export_path, rounds=1):
    """Figures in milliseconds per case name. With several rounds the cases
    take turns (each round starts with a different one), so that a change in
    the machine's load during the run does not fall on one case alone."""
    times = {name: [] for name, _ in cases}
    cpu = {name: 0.0 for name, _ in cases}
    for round_index in range(rounds):
        shift = round_index % len(cases)
        order = cases[shift:] + cases[:shift]
        raw = hyperfine_raw(order, runs, warmup, f"{export_path}.{round_index}.json")
        for name, (round_times, round_cpu) in raw.items():
            times[name] += round_times
            cpu[name] += round_cpu * len(round_times)
    return {name: figures_of(times[name], cpu[name] / len(times[name])) for name, _ in cases}


# --- round trips and where the time goes -------------------------------------------

def round_trips(argv):
    """Every D-Bus call and X11 request of one run of argv (call_trace.py)."""
    return call_trace.summarise(call_trace.trace(argv, timeout=COMMAND_LIMIT))


def time_split(argv, runs):
    """Medians over runs of the milestones of one run (ms after exec: the
    connections made, the reply written, exit), from strace timestamps of
    those calls alone. Only the traced calls stop the process (seccomp
    filter), so the overhead is small but not nil: compare milestones with
    each other, not with the hyperfine figures. A milestone missing from
    most runs (a connection libatspi opens only when the run lasts long
    enough) is left out."""
    marks = {}
    for _ in range(runs):
        traced = call_trace.trace(argv, timeout=COMMAND_LIMIT, light=True)
        for name, stamp in traced["marks_ms"].items():
            marks.setdefault(name, []).append(stamp)
    kept = {name: statistics.median(values) for name, values in marks.items()
            if len(values) * 2 > runs}
    return {name: round(value, 2) for name, value in sorted(kept.items(), key=lambda kv: kv[1])}


# --- the measurements --------------------------------------------------------------------

def one_shot_cases(bin_dir, focusctl):
    floor = os.path.join(bin_dir, "floor")
    cases = [("exec only (/bin/true)", ["/bin/true"]),
             ("process start (C, sd-bus and xcb linked)", [floor, "--no-bus"]),
             ("floor", [floor]),
             ("floor with libdbus-1", [floor + "-libdbus"]),
             ("floor with libatspi (the old floor)", [floor + "-libatspi"]),
             ("peer (pyatspi)", [PYTHON, PEER])]
    if focusctl:
        cases += [("focusctl activate x (start only)", [focusctl, "activate", "x"]),
                  ("focusctl frontmost", [focusctl, "frontmost"]),
                  ("focusctl read", [focusctl, "read"]),
                  ("focusctl set", [focusctl, "set", SET_TEXT]),
                  ("focusctl press", [focusctl, "press"]),
                  ("focusctl insert", [focusctl, "insert", SET_TEXT]),
                  ("focusctl selection", [focusctl, "selection"])]
    return cases


def measure_one_shot(bin_dir, focusctl, work, label, quick):
    cases = one_shot_cases(bin_dir, focusctl)
    outputs = {name: run_once(argv) for name, argv in cases}
    # Rounds of interleaved runs: 4 x 12 = 48 runs of each command (the peer
    # takes part in every round with fewer runs, it is 5-10 times slower).
    rounds, runs = (2, 5) if quick else (4, 12)
    fast = [c for c in cases if not c[0].startswith("peer")]
    slow = [c for c in cases if c[0].startswith("peer")]
    figures = {}
    merged = {name: ([], 0.0) for name, _ in cases}
    for round_index in range(rounds):
        for group, group_runs in ((fast, runs), (slow, max(3, runs // 2))):
            shift = round_index % len(group)
            order = group[shift:] + group[:shift]
            raw = hyperfine_raw(order, group_runs, 2 if round_index == 0 else 1,
                                os.path.join(work, f"one-shot-{label}-{round_index}.json"))
            for name, (times, cpu) in raw.items():
                old_times, old_cpu = merged[name]
                merged[name] = (old_times + times, old_cpu + cpu * len(times))
    for name, (times, cpu_total) in merged.items():
        figures[name] = figures_of(times, cpu_total / len(times))
    used = {name: usage(argv) for name, argv in cases}
    return {"figures": figures, "outputs": outputs,
            "peak_rss_kib": {name: u[0] for name, u in used.items()},
            "waits": {name: u[1] for name, u in used.items()}}


def fixture_argv(bin_dir, *options):
    return [os.path.join(bin_dir, "focusctl-fixture"), *options]


def measure_applications(bin_dir, focusctl, work, quick, results):
    apps = []
    try:
        log("one application: the fixture, focused on its placeholder entry")
        apps.append(App(fixture_argv(bin_dir, "--focus", "placeholder")))
        results["one_app"] = measure_one_shot(bin_dir, focusctl, work, "1", quick)
        log("round trips and time split")
        cases = dict(one_shot_cases(bin_dir, focusctl))
        results["round_trips"] = {
            name: round_trips(cases[name])
            for name in ("floor", "peer (pyatspi)", "focusctl frontmost", "focusctl read",
                         "focusctl set", "focusctl press", "focusctl insert",
                         "focusctl selection") if name in cases}
        results["time_split"] = {
            name: time_split(cases[name], 3 if quick else 11)
            for name in ("process start (C, sd-bus and xcb linked)", "floor",
                         "focusctl activate x (start only)", "focusctl frontmost",
                         "focusctl read") if name in cases}
        close_all(apps)

        # Ten applications; the measured one registers last, so any search
        # through the registered applications in order visits the other nine first.
        log("ten applications")
        for i in range(9):
            apps.append(App(fixture_argv(bin_dir, "--app-id", f"org.focusctl.Extra{i}",
                                         "--app-name", f"focusctl-extra-{i}",
                                         "--title", f"Extra {i}")))
        apps.append(App(fixture_argv(bin_dir, "--focus", "placeholder")))
        results["ten_apps"] = measure_one_shot(bin_dir, focusctl, work, "10", quick)
        results["round_trips_ten_apps"] = {
            name: round_trips(cases[name])
            for name in ("floor", "peer (pyatspi)", "focusctl frontmost", "focusctl read")
            if name in cases}
    finally:
        close_all(apps)


def measure_watch(bin_dir, focusctl, quick, results):
    import watch_latency  # needs pyatspi and the desktop's bus
    app = App(fixture_argv(bin_dir, "--focus", "placeholder"))
    try:
        for attempt in (1, 2):
            log(f"watch: idle period, then value changes (attempt {attempt})")
            watch = watch_latency.measure(
                focusctl, changes=40 if quick else 200, idle_seconds=10.0 if quick else 60.0)
            results["watch"] = watch
            if "error" not in watch:
                break
            # The machine is shared; a watcher ended from outside is tried once more.
            results["watch_failed_attempt"] = watch
    finally:
        app.close()


def measure_scaling(bin_dir, focusctl, work, quick, results):
    scaling = []
    sizes = SCALING_SIZES[:2] if quick else SCALING_SIZES
    for toolkit, collection in (("gtk3", True), ("gtk4", False)):
        for size in sizes:
            log(f"scaling: {toolkit}, {size} entries")
            env = dict(os.environ, GSK_RENDERER="cairo")
            app = App([os.path.join(bin_dir, f"wide-fixture-{toolkit}"), "--entries", str(size)],
                      env=env)
            try:
                row = {"toolkit": toolkit, "collection": collection, "entries": size,
                       "fixture_startup_s": app.startup_s}
                cases = [("peer (pyatspi)", [PYTHON, PEER])]
                if focusctl:
                    cases.insert(0, ("focusctl read", [focusctl, "read"]))
                for name, argv in cases:
                    first = run_once(argv)
                    entry = {"first_run": first}
                    if not first.get("timeout"):
                        seconds = first["seconds"]
                        runs = int(max(1, min(20, SCALING_BUDGET / max(seconds, 1e-3))))
                        if runs >= 2:
                            tag = f"scaling-{toolkit}-{size}-{name.split()[0]}.json"
                            entry.update(hyperfine([(name, argv)], runs,
                                                   1 if seconds < 1 else 0,
                                                   os.path.join(work, tag))[name])
                        else:
                            ms = round(seconds * 1000, 1)
                            entry.update({"median_ms": ms, "min_ms": ms, "max_ms": ms, "runs": 1})
                    row[name] = entry
                if focusctl:
                    trips = round_trips([focusctl, "read"])
                    row["read_round_trips"] = trips["round_trips"]
                    row["read_costliest_calls"] = dict(list(trips["by_member"].items())[:4])
                    row["read_bytes_received"] = trips["bytes_received"]
                scaling.append(row)
            finally:
                app.close()
    results["scaling"] = scaling


BROWSER_ELEMENTS = 3000
BROWSERS = {
    "firefox-esr": (lambda page, profile: ["firefox-esr", "--no-remote", "--profile", profile, page],
                    {"GNOME_ACCESSIBILITY": "1"}),
    "chromium": (lambda page, profile: [
        "chromium", "--force-renderer-accessibility", "--no-sandbox", "--user-data-dir=" + profile,
        "--disable-gpu", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", page], {}),
}


def browser_page(work, elements):
    """A page of labelled inputs in rows, the last one focused."""
    rows = []
    for i in range(0, elements, 3):
        rows.append(f'<div><label>Field {i}</label><input id="f{i}" value="{i}"></div>')
    rows[-1] = f'<div><label>Last</label><input id="last" value="last"></div>'
    path = os.path.join(work, "wide.html")
    with open(path, "w") as page:
        page.write("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>wide</title></head><body>"
                   + "".join(rows)
                   + '<script>window.onload = () => document.getElementById("last").focus();</script>'
                   + "</body></html>")
    return "file://" + path


def measure_browsers(focusctl, work, quick, results):
    """focusctl read and the peer in each browser on a page of a few thousand
    elements, the last one focused."""
    elements = 300 if quick else BROWSER_ELEMENTS
    page = browser_page(work, elements)
    rows = []
    for browser, (argv_of, env_extra) in BROWSERS.items():
        if not shutil.which(argv_of("", "")[0]):
            continue
        log(f"browsers: {browser}, {elements} elements")
        profile = tempfile.mkdtemp(prefix=f"bench-{browser}-", dir=work)
        popen = subprocess.Popen(argv_of(page, profile), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 env=dict(os.environ, **env_extra), start_new_session=True)
        try:
            def focused_last():
                line = run_once([focusctl, "read"], timeout=30)["stdout"]
                return '"domIdentifier":"last"' in line and line
            row = {"browser": browser, "elements": elements,
                   "read_output": wait_until(focused_last, STARTUP_LIMIT, f"{browser} to focus the field")}
            cases = [("focusctl read", [focusctl, "read"]), ("peer (pyatspi)", [PYTHON, PEER])]
            for name, argv in cases:
                first = run_once(argv)
                runs = int(max(1, min(40, 6.0 / max(first["seconds"], 1e-3))))
                if runs >= 2:
                    row[name] = hyperfine([(name, argv)], runs, 1,
                                          os.path.join(work, f"browser-{browser}-{name.split()[0]}"))[name]
                else:
                    ms = round(first["seconds"] * 1000, 1)
                    row[name] = {"median_ms": ms, "min_ms": ms, "max_ms": ms, "runs": 1}
            row["read_round_trips"] = round_trips([focusctl, "read"])["round_trips"]
            rows.append(row)
        finally:
            os.killpg(popen.pid, 15)
            try:
                popen.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(popen.pid, 9)
                popen.wait()
    results["browsers"] = rows


def measure_fake(bin_dir, focusctl, work, quick, results):
    """read against fake_app.c on a private bus of its own: wall time and peak
    memory on windows of 10^4 to 10^6 entries, the focus on the last, and on
    an entry holding 50 MB of text. Three runs each: the median wall time,
    the highest peak."""
    from fake_desktop import FakeDesktop
    cases = [(f"window of {n:,} entries, the last focused", ("wide", str(n), "--last"))
             for n in FAKE_WIDE_SIZES[:2 if quick else 3]]
    cases.append((f"entry holding {FAKE_TEXT_MB} MB of text", ("big-text", str(FAKE_TEXT_MB))))
    desktop = FakeDesktop(os.path.join(bin_dir, "fake_app"), tempfile.mkdtemp(dir=work))
    rows = []
    try:
        desktop.start_bus()
        for name, app_args in cases:
            log(f"fake application: {name}")
            desktop.start_app(*app_args)
            try:
                runs = [desktop.run([focusctl, "read"], COMMAND_LIMIT) for _ in range(3)]
            finally:
                desktop.stop_app()
            status, out, err, seconds, _ = sorted(runs, key=lambda run: run[3])[1]
            try:
                reply = json.loads(out)
                answer = (f"{reply['title']}, {len(reply['text']):,} characters" if reply["ok"]
                          else reply["reason"])
            except (ValueError, KeyError):
                answer = f"status {status}, {out[:60]!r}, stderr {err[:60]!r}"
            rows.append({"case": name, "seconds": round(seconds, 3),
                         "peak_rss_kib": max(run[4] for run in runs), "answer": answer})
    finally:
        desktop.close()
        results["fake_app"] = rows


def package_version(name):
    return run_text(["dpkg-query", "-W", "-f=${Version}", name]).strip() or "not installed"


def machine_facts(focusctl):
    cpu = ""
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/loadavg") as load:
        loadavg = " ".join(load.read().split()[:3])
    root = os.path.dirname(HERE)
    commit = run_text(["git", "-C", root, "rev-parse", "--short", "HEAD"]).strip()
    dirty = run_text(["git", "-C", root, "status", "--porcelain", "--",
                      "app", "ax", "watch", "platform", "CMakeLists.txt"]).strip()
    return {
        "date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
        "nproc": os.cpu_count(),
        "cpu": cpu,
        "memory_gib": round(os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30, 1),
        "load_average_at_start": loadavg,
        "kernel": platform.release(),
        "debian": open("/etc/debian_version").read().strip() if os.path.exists("/etc/debian_version") else "",
        "focusctl": (commit or "no commit") + (" + uncommitted changes" if dirty else "") if focusctl else "not measured",
        "versions": {name: package_version(name) for name in (
            "libatspi2.0-0", "at-spi2-core", "libgtk-3-0", "libgtk-4-1", "python3-pyatspi",
            "python3", "hyperfine", "dbus", "xvfb", "openbox")},
    }


def measure(args):
    results = {"machine": machine_facts(args.focusctl), "quick": args.quick}
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="focusctl-bench-")
    try:
        sections = {
            "apps": lambda: measure_applications(args.bin, args.focusctl, work, args.quick, results),
            "watch": lambda: measure_watch(args.bin, args.focusctl, args.quick, results),
            "scaling": lambda: measure_scaling(args.bin, args.focusctl, work, args.quick, results),
            "browsers": lambda: measure_browsers(args.focusctl, work, args.quick, results),
            "fake": lambda: measure_fake(args.bin, args.focusctl, work, args.quick, results),
        }
        for name in args.only or list(sections):
            if name in ("watch", "browsers", "fake") and not args.focusctl:
                continue
            # One section failing leaves the others' figures standing.
            try:
                sections[name]()
            except Exception as error:  # noqa: BLE001 - reported with the figures
                log(f"{name} failed: {error!r}")
                results.setdefault("failures", {})[name] = repr(error)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        with open("/proc/loadavg") as load:
            results["machine"]["load_average_at_end"] = " ".join(load.read().split()[:3])
        results["seconds"] = round(time.monotonic() - started)
        with open(args.out, "w") as out:
            json.dump(results, out, indent=2)
    log(f"measured in {results['seconds']} s")


# --- the figures as Markdown ----------------------------------------------------------------

BEGIN = "<!-- figures:begin (written by bench/run --write) -->"
END = "<!-- figures:end -->"


def fmt(entry):
    if not entry or entry.get("median_ms") is None:
        return "–"
    if entry.get("runs", 0) <= 1:
        return f"{entry['median_ms']:.1f} (1 run)"
    return f"{entry['median_ms']:.2f} ({entry['min_ms']:.2f}–{entry['max_ms']:.2f})"


def ratio(a, b):
    if not a or not b or not b.get("median_ms"):
        return "–"
    return f"{a['median_ms'] / b['median_ms']:.2f}"


def dbus_kib(received):
    return sum(n for kind, n in received.items() if kind != "x11") / 1024


def render(results):
    out = []
    m = results["machine"]
    out.append(f"Measured {m['date']} on {m['nproc']} × {m['cpu']}, {m['memory_gib']} GiB, "
               f"Linux {m['kernel']}, Debian {m['debian']}; load average {m['load_average_at_start']} "
               f"at the start, {m.get('load_average_at_end', '?')} at the end "
               f"({results.get('seconds', '?')} s in all{', QUICK run' if results.get('quick') else ''}). "
               f"focusctl: {m['focusctl']}.")
    out.append("")
    out.append("Versions: " + ", ".join(f"{k} {v}" for k, v in m["versions"].items()) + ".")
    out.append("")

    one = results.get("one_app", {}).get("figures", {})
    ten = results.get("ten_apps", {}).get("figures", {})
    if one:
        out.append("### One-shot commands, whole process (ms: median (min–max))")
        out.append("")
        out.append("| command | 1 application | 10 applications | CPU ms (user+sys), 1 / 10 apps | peak RSS | waits, 1 app |")
        out.append("|---|---|---|---|---|---|")
        peaks = results["one_app"].get("peak_rss_kib", {})
        waits = results["one_app"].get("waits", {})
        for name in one:
            peak, waited = peaks.get(name), waits.get(name)
            cpu = f"{one[name]['cpu_ms']:.1f} / {ten[name]['cpu_ms']:.1f}" if name in ten else f"{one[name]['cpu_ms']:.1f}"
            out.append(f"| {name} | {fmt(one.get(name))} | {fmt(ten.get(name))} | {cpu} | "
                       + (f"{peak / 1024:.1f} MiB |" if peak else "– |")
                       + (f" {waited:g} |" if waited is not None else " – |"))
        out.append("")
        read1, read10 = one.get("focusctl read"), ten.get("focusctl read")
        if read1:
            def ratios(source, other, key):
                a, b = source.get("focusctl read"), source.get(other)
                return f"{a[key] / b[key]:.2f}" if a and b and b.get(key) else "–"
            out.append("| ratio | 1 application: median / min / CPU | 10 applications: median / min / CPU | target |")
            out.append("|---|---|---|---|")
            for other, label, target in (("peer (pyatspi)", "read / peer", "≤ 0.08"),
                                         ("floor", "read / floor", "≤ 1.5")):
                cells = [" / ".join(ratios(source, other, key) for key in ("median_ms", "min_ms", "cpu_ms"))
                         for source in (one, ten)]
                out.append(f"| {label} | {cells[0]} | {cells[1]} | {target} |")
            # The edits at the caret against a read of the same field.
            for other in ("focusctl insert", "focusctl selection"):
                cells = [" / ".join(f"{source[other][key] / source['focusctl read'][key]:.2f}"
                                    if other in source and source.get("focusctl read", {}).get(key)
                                    else "–"
                                    for key in ("median_ms", "min_ms", "cpu_ms"))
                         for source in (one, ten)]
                out.append(f"| {other[9:]} / read | {cells[0]} | {cells[1]} | ≤ 1.5 |")
            out.append("")
        if read1:
            def diff(a, b, key):
                if a in one and b in one:
                    return f"{one[a][key] - one[b][key]:.1f}"
                return "–"
            steps = [
                ("exec of a trivial program", "exec only (/bin/true)", None),
                ("+ loading sd-bus and xcb (C floor started, no bus)",
                 "process start (C, sd-bus and xcb linked)", "exec only (/bin/true)"),
                ("focusctl started, nothing asked (`activate x`)",
                 "focusctl activate x (start only)", None),
                ("+ bus connection and one registry round trip (floor)", "floor",
                 "process start (C, sd-bus and xcb linked)"),
                ("+ trust, focused-element lookup, application identity (`frontmost` − `activate x`)",
                 "focusctl frontmost", "focusctl activate x (start only)"),
                ("+ the snapshot's attribute reads (`read` − `frontmost`)",
                 "focusctl read", "focusctl frontmost"),
            ]
            out.append("How `read` splits, from the figures above (1 application; differences of the fastest "
                       "runs and of the mean CPU times, so approximate):")
            out.append("")
            out.append("| step | wall ms (min) | CPU ms |")
            out.append("|---|---|---|")
            for label, a, b in steps:
                if b is None:
                    wall = f"{one[a]['min_ms']:.1f}" if a in one else "–"
                    cpu = f"{one[a]['cpu_ms']:.1f}" if a in one else "–"
                else:
                    wall, cpu = diff(a, b, "min_ms"), diff(a, b, "cpu_ms")
                out.append(f"| {label} | {wall} | {cpu} |")
            out.append("")
        outputs = results["one_app"].get("outputs", {})
        out.append("What they printed (1 application):")
        out.append("")
        out.append("```")
        for name in ("floor", "peer (pyatspi)", "focusctl read", "focusctl frontmost",
                     "focusctl set", "focusctl press", "focusctl insert", "focusctl selection"):
            if name in outputs:
                out.append(f"{name}: {outputs[name].get('stdout', outputs[name])}")
        out.append("```")
        out.append("")

    trips = results.get("round_trips", {})
    if trips:
        trips10 = results.get("round_trips_ten_apps", {})
        out.append("### Round trips per run (strace of the command, every socket decoded)")
        out.append("")
        out.append("D-Bus method calls that expect an answer (AddMatch and Hello left out), by socket: the "
                   "accessibility bus (registry, bus daemon) and the direct connections libatspi opens to each "
                   "application; X11 requests that wait for a reply; rounds (each time the command sends again "
                   "after an answer came in: requests that travel together count once, the connections' "
                   "handshakes included); connections opened.")
        out.append("")
        out.append("| command | D-Bus round trips, 1 app (bus + direct) | 10 apps | X11 requests with reply, 1 / 10 apps | rounds, 1 / 10 apps | connections (1 app) | identical calls repeated |")
        out.append("|---|---|---|---|---|---|---|")
        for name, t in trips.items():
            t10 = trips10.get(name, {})
            sockets = t["round_trips_by_socket"]
            split = f"{sockets.get('accessibility bus', 0)} + {sockets.get('application (direct)', 0)}"
            out.append(f"| {name} | {t['round_trips']} ({split}) | {t10.get('round_trips', '–')} | "
                       f"{t['x11_with_reply']} / {t10.get('x11_with_reply', '–')} | "
                       f"{t.get('rounds', '–')} / {t10.get('rounds', '–')} | "
                       f"{', '.join(t['connections'])} | {sum(r['times'] - 1 for r in t['repeated'])} |")
        out.append("")
        for label, source in (("1 application", trips), ("10 applications", trips10)):
            t = source.get("focusctl read")
            if not t:
                continue
            out.append(f"`focusctl read`, {label}, calls in order (member, object path tail): "
                       + ", ".join(f"`{c}`" for c in t["sequence"]) + ".")
            out.append("")
            if t["repeated"]:
                out.append(f"Repeated identical calls ({label}): " + ", ".join(
                    f"`{r['call']}` ×{r['times']}" for r in t["repeated"]) + ".")
                out.append("")
            out.append(f"X11 requests ({label}): " + ", ".join(
                f"{k} {v}" for k, v in sorted(t["x11_requests"].items(), key=lambda kv: -kv[1])) + ".")
            out.append("")

    split = results.get("time_split", {})
    if split:
        out.append("### Where the time goes (strace timestamps, median of runs, ms after exec)")
        out.append("")
        out.append("| command | milestones |")
        out.append("|---|---|")
        for name, marks in split.items():
            out.append(f"| {name} | " + ", ".join(f"{k} {v:.1f}" for k, v in marks.items()) + " |")
        out.append("")
        read = trips.get("focusctl read")
        if read:
            out.append("`focusctl read`, time per call kind (from sending the call to the process's next "
                       "traced event, strace overhead included): " + ", ".join(
                           f"{k} ×{v['count']} {v['ms']:.2f} ms" for k, v in read["by_member"].items()) + ".")
            out.append("")

    watch = results.get("watch")
    if watch:
        out.append("### watch")
        out.append("")
        failed = results.get("watch_failed_attempt")
        if failed and "error" not in watch:
            out.append(f"(A first attempt failed: {failed['error']}.)")
            out.append("")
        if "error" in watch:
            out.append(f"Failed: {watch['error']}")
        else:
            lat = watch["latency"]
            idle = watch["idle"]
            out.append("| figure | value | target |")
            out.append("|---|---|---|")
            out.append(f"| event-to-line latency, median | {lat['median_ms']} ms | |")
            out.append(f"| event-to-line latency, p99 | {lat['p99_ms']} ms | |")
            out.append(f"| latency min / max | {lat['min_ms']} / {lat['max_ms']} ms | |")
            out.append(f"| changes / \"ax\" lines / lost / extra \"ax\" lines | {lat['changes']} / "
                       f"{lat['lines']} / {lat['lost']} / {lat['extra_ax_lines']} | none lost; one line per change the toolkit reports (GTK reports a replaced text as a deletion and an insertion) |")
            out.append(f"| the SetTextContents call itself, median | {lat['set_call_median_ms']} ms | |")
            out.append(f"| CPU over {idle['seconds']:.0f} idle seconds | {idle['cpu_ms']} ms | ~0 |")
            out.append(f"| wake-ups over {idle['seconds']:.0f} idle seconds (voluntary context switches, "
                       f"{idle['threads']} threads) | {idle['wakeups_voluntary']} | ~0 (no polling) |")
            out.append(f"| lines written while idle | {len(idle['lines'])} | 0 |")
            hwm = watch.get("vm_hwm_kib")
            out.append(f"| peak RSS (VmHWM) after all changes | {hwm / 1024:.1f} MiB | ≤ 10 MiB |"
                       if hwm else "| peak RSS | – | ≤ 10 MiB |")
        out.append("")

    scaling = results.get("scaling")
    if scaling:
        out.append("### Scaling: one read against a window of N entries, the focused one last (ms)")
        out.append("")
        out.append("| toolkit | Collection | entries | focusctl read | its D-Bus round trips | KiB received over D-Bus | costliest calls (ms under strace) | what read answered | peer (pyatspi) |")
        out.append("|---|---|---|---|---|---|---|---|---|")
        for row in scaling:
            answer = row.get("focusctl read", {}).get("first_run", {}).get("stdout", "")
            try:
                parsed = json.loads(answer)
                answer = (f"text {parsed.get('text')!r}" if parsed.get("ok") else f"reason {parsed.get('reason')}")
            except ValueError:
                answer = answer[:40]
            costly = ", ".join(f"{k} ×{v['count']} {v['ms']:.0f}" for k, v in row.get("read_costliest_calls", {}).items())
            out.append(f"| {row['toolkit']} | {'yes' if row['collection'] else 'no'} | {row['entries']:,} | "
                       f"{fmt(row.get('focusctl read'))} | {row.get('read_round_trips', '–')} | "
                       f"{dbus_kib(row.get('read_bytes_received', {})):.0f} | {costly} | {answer} | "
                       f"{fmt(row.get('peer (pyatspi)'))} |")
        out.append("")
        for toolkit in ("gtk3", "gtk4"):
            rows = [r for r in scaling if r["toolkit"] == toolkit]
            steps = []
            for a, b in zip(rows, rows[1:]):
                ta, tb = a.get("focusctl read", {}), b.get("focusctl read", {})
                if not ta.get("median_ms") or not tb.get("median_ms"):
                    continue
                factor = tb["median_ms"] / ta["median_ms"]
                failed = '"ok":false' in tb.get("first_run", {}).get("stdout", "")
                steps.append(f"{a['entries']:,} → {b['entries']:,}: ×{factor:.1f}"
                             + (" (and the answer was a refusal)" if failed else ""))
            if steps:
                out.append(f"{toolkit}, read time per tenfold entries: " + "; ".join(steps) + ".")
                out.append("")
    browsers = results.get("browsers")
    if browsers:
        out.append("### Browsers: one read on a page of labelled inputs, the last one focused (ms)")
        out.append("")
        out.append("| browser | elements | focusctl read | its D-Bus round trips | peer (pyatspi) | read / peer |")
        out.append("|---|---|---|---|---|---|")
        for row in browsers:
            out.append(f"| {row['browser']} | {row['elements']:,} | {fmt(row.get('focusctl read'))} | "
                       f"{row.get('read_round_trips', '–')} | {fmt(row.get('peer (pyatspi)'))} | "
                       f"{ratio(row.get('focusctl read'), row.get('peer (pyatspi)'))} |")
        out.append("")
    fake = results.get("fake_app")
    if fake:
        out.append("### read against a fake application (fake_app.c, private bus, no display)")
        out.append("")
        out.append("| focused element | wall s (median of 3) | peak RSS (max of 3) | what read answered |")
        out.append("|---|---|---|---|")
        small = results.get("one_app", {})
        if "focusctl read" in small.get("figures", {}):
            peak = small.get("peak_rss_kib", {}).get("focusctl read")
            out.append(f"| the GTK 3 fixture's entry (the one-shot table above) | "
                       f"{small['figures']['focusctl read']['median_ms'] / 1000:.3f} | "
                       + (f"{peak / 1024:.1f} MiB" if peak else "–") + " | |")
        for row in fake:
            out.append(f"| {row['case']} | {row['seconds']:.3f} | "
                       f"{row['peak_rss_kib'] / 1024:.1f} MiB | {row['answer']} |")
        out.append("")
    for name, error in results.get("failures", {}).items():
        out.append(f"**The {name} section failed:** `{error}`")
        out.append("")
    return "\n".join(out).rstrip() + "\n"


def write_readme(path, figures):
    with open(path) as readme:
        text = readme.read()
    if BEGIN not in text or END not in text:
        raise SystemExit(f"harness: {path} has no figures markers")
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    with open(path, "w") as readme:
        readme.write(head + BEGIN + "\n\n" + figures + "\n" + END + tail)


def main():
    parser = argparse.ArgumentParser(description="focusctl benchmarks")
    sub = parser.add_subparsers(dest="action", required=True)
    m = sub.add_parser("measure")
    m.add_argument("--bin", required=True)
    m.add_argument("--focusctl")
    m.add_argument("--out", required=True)
    m.add_argument("--quick", action="store_true")
    m.add_argument("--only", action="append", choices=["apps", "watch", "scaling", "browsers", "fake"])
    r = sub.add_parser("render")
    r.add_argument("results")
    r.add_argument("--readme")
    args = parser.parse_args()
    if args.action == "measure":
        measure(args)
    else:
        with open(args.results) as results:
            figures = render(json.load(results))
        print(figures)
        if args.readme:
            write_readme(args.readme, figures)


if __name__ == "__main__":
    main()
