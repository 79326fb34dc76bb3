"""A PulseAudio server of the suite's own, as on a desktop with sound: one
null sink, whose monitor gives back what the program played into it."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

TOOLS = ("pulseaudio", "pactl", "parec")

RATE = 44100
FRAME_BYTES = 4  # two channels of 16 bits


def missing_tools():
    return [tool for tool in TOOLS if shutil.which(tool) is None]


class SoundServer:
    def __init__(self, started):
        """started: the suite's list of processes to end on a TERM."""
        self._started = started
        self.folder = None
        self.process = None
        self.address = None

    def start(self, timeout):
        self.folder = tempfile.mkdtemp(prefix="zhiwei-e2e-sound-")
        socket = os.path.join(self.folder, "native")
        self.address = f"unix:{socket}"
        env = dict(os.environ)
        # Its cookie, its state and its socket stay in its own folder.
        for name in ("HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME"):
            env[name] = self.folder
        self._log = open(os.path.join(self.folder, "server.log"), "w")
        self.process = subprocess.Popen(
            [
                "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                "--log-level=error",
                "--load=module-null-sink sink_name=null",
                f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket}",
            ],
            env=env,
            stdout=self._log,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        self._started.append(self.process)
        deadline = time.monotonic() + timeout
        while self._pactl("info") is None:
            if self.process.poll() is not None or time.monotonic() > deadline:
                with open(os.path.join(self.folder, "server.log")) as log:
                    raise AssertionError(f"pulseaudio did not start: {log.read()}")
            time.sleep(0.05)
        return self

    def client_environment(self):
        return {"PULSE_SERVER": self.address}

    def _pactl(self, *args):
        done = subprocess.run(
            ["pactl", "--server", self.address, *args],
            capture_output=True,
            timeout=30,
            check=False,
        )
        return done.stdout.decode(errors="replace") if done.returncode == 0 else None

    def streams(self, pid):
        """The playback streams of a process: True for each that is corked."""
        listing = self._pactl("list", "sink-inputs") or ""
        corked = []
        for stream in listing.split("Sink Input #")[1:]:
            if f'application.process.id = "{pid}"' in stream:
                corked.append(bool(re.search(r"Corked: yes", stream)))
        return corked

    def plays(self, pid):
        """True while a stream of the process plays uncorked."""
        return False in self.streams(pid)

    def loudest_sample(self, seconds):
        """The loudest sample of the next seconds on the sink's monitor."""
        wanted = int(seconds * RATE) * FRAME_BYTES
        recorder = subprocess.Popen(
            ["parec", "--server", self.address, "-d", "null.monitor", "--raw",
             "--format=s16le", f"--rate={RATE}", "--channels=2", "--latency-msec=20"],
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
        )
        samples = b""
        deadline = time.monotonic() + seconds + 30
        try:
            while len(samples) < wanted and time.monotonic() < deadline:
                chunk = recorder.stdout.read1(wanted - len(samples))
                if not chunk:
                    break
                samples += chunk
        finally:
            recorder.kill()
            recorder.wait()
            recorder.stdout.close()
        if len(samples) < wanted:
            raise AssertionError(f"parec gave {len(samples)} of {wanted} bytes")
        values = memoryview(samples).cast("h")
        return max(abs(value) for value in values)

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
            except ProcessLookupError:
                pass
        self.process = None
        if getattr(self, "_log", None):
            self._log.close()
        shutil.rmtree(self.folder or "", ignore_errors=True)
