"""A private accessibility bus with the fake application of fake_app.c on it,
and one measured run of a command against it: what the hostile-application
tests and the benchmarks share. No display and no session bus: focusctl finds
the bus through AT_SPI_BUS_ADDRESS alone."""

import os
import resource
import signal
import subprocess
import time

# The accessibility bus's own limits (at-spi2-core's accessibility.conf):
# messages up to the protocol's 128 MiB pass.
BUS_CONFIG = """<busconfig>
  <type>accessibility</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_message_size">1000000000</limit>
</busconfig>
"""
STARTUP_LIMIT = 20.0
# Address space of a measured run: a runaway one fails instead of taking
# the machine's memory.
ADDRESS_SPACE_LIMIT = 2 << 30


class FakeDesktop:
    """The bus daemon and at most one fake application, in work_dir."""

    def __init__(self, fake_app, work_dir):
        self.fake_app = fake_app
        self.config = os.path.join(work_dir, "bus.conf")
        socket = os.path.join(work_dir, "bus")
        with open(self.config, "w") as config:
            config.write(BUS_CONFIG.format(socket=socket))
        self.env = {key: value for key, value in os.environ.items()
                    if key not in ("DISPLAY", "WAYLAND_DISPLAY", "AT_SPI_DISPLAY")}
        self.env["AT_SPI_BUS_ADDRESS"] = "unix:path=" + socket
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(work_dir, "nowhere")
        self.daemon = self.app = None

    def start_bus(self):
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--print-address", "--config-file", self.config],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if not self.daemon.stdout.readline():
            raise RuntimeError("dbus-daemon did not start")

    def start_app(self, *args):
        """The fake application, once it says it is ready; its stdout stays
        open for further lines (the storm's end)."""
        self.app = subprocess.Popen([self.fake_app, *args], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env)
        if self.app.stdout.readline() != b"ready\n":
            raise RuntimeError(f"fake_app {args} did not start: {self.app.stderr.read()!r}")
        return self.app

    def stop_app(self):
        """Ends the application; returns what it wrote to stderr."""
        if not self.app:
            return b""
        app, self.app = self.app, None
        if app.poll() is None:
            app.terminate()
        app.wait(STARTUP_LIMIT)
        errors = app.stderr.read()
        app.stdout.close()
        app.stderr.close()
        return errors

    def stop_bus(self):
        if self.daemon:
            self.daemon.kill()
            self.daemon.wait()
            self.daemon.stdout.close()
            self.daemon = None

    def close(self):
        self.stop_app()
        self.stop_bus()

    def run(self, argv, limit):
        """Runs argv once, its children killed after limit seconds: its exit
        status, stdout, stderr, wall seconds and peak resident KiB. The peak
        comes from GNU time: a child of this process would count this
        process's own memory, which it starts out sharing."""
        report = os.path.join(os.path.dirname(self.config), "peak")
        started = time.monotonic()
        process = subprocess.Popen(
            ["/usr/bin/time", "-f", "%M", "-o", report, *argv], stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env,
            preexec_fn=lambda: resource.setrlimit(
                resource.RLIMIT_AS, (ADDRESS_SPACE_LIMIT, ADDRESS_SPACE_LIMIT)))
        try:
            out, err = process.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            with open(f"/proc/{process.pid}/task/{process.pid}/children") as children:
                for child in children.read().split():
                    os.kill(int(child), signal.SIGKILL)
            out, err = process.communicate()
        seconds = time.monotonic() - started
        with open(report) as peak:
            kib = int(peak.read().split()[-1])
        return process.returncode, out, err, seconds, kib
