"""A PulseAudio server of the suite's own, as on a desktop with sound: one
null sink, whose monitor gives back what the program played into it."""

import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

TOOLS = ("pulseaudio", "pactl", "parec")
HELPER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sound-server.sh")

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
        self.address = f"unix:{self.folder}/server/native"
        # The suite's shared helper runs the server and says when it answers.
        self.process = subprocess.Popen(
            ["bash", HELPER, os.path.join(self.folder, "server")],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        self._started.append(self.process)
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        if not ready or self.process.stdout.readline().strip() != b"ready":
            self.stop()
            raise AssertionError("pulseaudio did not start")
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

    def record(self, seconds):
        """The next seconds on the sink's monitor: 16-bit samples, two channels."""
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
        return memoryview(samples).cast("h")

    def loudest_sample(self, seconds):
        """The loudest sample of the next seconds on the sink's monitor."""
        return loudest(self.record(seconds))

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
        if self.process:
            self.process.stdout.close()
            self.process.stderr.close()
        self.process = None
        shutil.rmtree(self.folder or "", ignore_errors=True)


def loudest(samples):
    return max(abs(value) for value in samples)


def longest_quiet_ms(samples, level):
    """The longest stretch where both channels stay below level, between the
    first loud frame and the last: a gap in what plays."""
    heard, run, longest = False, 0, 0
    for frame in range(0, len(samples) - 1, 2):
        if abs(samples[frame]) < level and abs(samples[frame + 1]) < level:
            run += 1 if heard else 0
        else:
            longest, run, heard = max(longest, run), 0, True
    return longest * 1000 / RATE
