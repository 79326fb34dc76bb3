"""Waiting for what a person would see, and the processes a run starts: each
one in a process group of its own, all of them ended on the way out."""

import itertools
import os
import signal
import subprocess
import time

# Every process a run starts, so that a TERM (a timeout) still ends them.
started = []


class Failure(AssertionError):
    """The program or the desktop did not do what a person would have seen."""


def run(*args, env=None, timeout=30, ok_codes=(0,)):
    """A tool's standard output, as bytes."""
    done = subprocess.run(args, env=env, capture_output=True, timeout=timeout, check=False)
    if done.returncode not in ok_codes:
        raise Failure(f"{' '.join(args)} exited {done.returncode}: "
                      f"{done.stderr.decode(errors='replace')[-400:]}")
    return done.stdout


def start(args, env, logfile, **options):
    process = subprocess.Popen(args, env=env, stdout=logfile, stderr=subprocess.STDOUT,
                               start_new_session=True, **options)
    started.append(process)
    return process


def end(process, timeout=5):
    """Ends a process started here: a TERM to its group, then a KILL to what
    is left of it (sway acts on no TERM; the program leaves xdg-open and the
    browser behind)."""
    for sent in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sent)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            pass


def stop_all():
    for process in reversed(started):
        end(process)


class Waiter:
    """Polls for something a person could see, up to a timeout and never past
    the run's deadline (time.monotonic()). With a screenshot function, a
    picture of the screen goes to the folder shots when it gives up."""

    _failures = itertools.count(1)

    def __init__(self, shots=None, screenshot=None, deadline=float("inf")):
        self.shots, self.screenshot, self.deadline = shots, screenshot, deadline

    def until(self, probe, timeout, what):
        deadline = min(time.monotonic() + timeout, self.deadline)
        pause = 0.02
        while True:
            asked = time.monotonic()
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                if deadline == self.deadline:
                    raise Failure(f"the run's time ran out waiting for {what}")
                raise Failure(f"gave up after {timeout} s waiting for {what}{self._evidence()}")
            # A look that reads a whole window's controls keeps the program
            # and the bus busy: at most half the time goes to looking, which
            # leaves the machine to the program and the other lanes.
            time.sleep(max(pause, time.monotonic() - asked))
            pause = min(pause * 1.5, 0.2)

    def _evidence(self):
        if self.screenshot is None:
            return ""
        shot = os.path.join(self.shots, f"timeout-{next(self._failures)}.png")
        try:
            self.screenshot(shot)
        except Exception as error:  # the display itself may be gone
            shot = f"(no screenshot: {error})"
        return f"; screen: {shot}"
