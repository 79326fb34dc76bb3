"""The X display as a person meets it: windows, the mouse, the keyboard, the
clipboard and the screen, through the ordinary X tools."""

import itertools
import os
import re
import struct
import subprocess
import time

# The tools print window names in the locale's charset; ours are Chinese.
_TOOL_ENV = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")


def run(*args, timeout=30, ok_codes=(0,)):
    done = subprocess.run(
        args, env=_TOOL_ENV, capture_output=True, timeout=timeout, check=False
    )
    if done.returncode not in ok_codes:
        raise RuntimeError(
            f"{' '.join(args)} exited {done.returncode}: {done.stderr.decode(errors='replace')}"
        )
    return done.stdout.decode("utf-8", errors="replace")


class Waiter:
    """Polls for something a person could see, with a deadline and a picture
    of the screen when the deadline passes."""

    _failures = itertools.count(1)

    def __init__(self, evidence_dir):
        self.evidence_dir = evidence_dir

    def until(self, probe, timeout, what):
        deadline = time.monotonic() + timeout
        pause = 0.02
        while True:
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                shot = os.path.join(self.evidence_dir, f"timeout-{next(self._failures)}.png")
                try:
                    screenshot(shot)
                except Exception as error:  # the display itself may be gone
                    shot = f"(no screenshot: {error})"
                raise AssertionError(f"gave up after {timeout} s waiting for {what}; screen: {shot}")
            time.sleep(pause)
            pause = min(pause * 1.5, 0.2)


# ------------------------------------------------------------------ windows


def visible_windows(pid):
    """The mapped windows of a process, popups included."""
    out = run("xdotool", "search", "--onlyvisible", "--pid", str(pid), ok_codes=(0, 1))
    return [int(line) for line in out.split()]


def window_name(window):
    out = run("xprop", "-id", str(window), "-notype", "_NET_WM_NAME", ok_codes=(0, 1))
    match = re.match(r'_NET_WM_NAME = "(.*)"\s*$', out, re.S)
    return match.group(1).replace('\\"', '"').replace("\\\\", "\\") if match else None


def windows_named(pid, name):
    found = []
    for window in visible_windows(pid):
        try:
            if window_name(window) == name:
                found.append(window)
        except RuntimeError:  # gone between the search and the look
            pass
    return found


def geometry(window):
    """The client area on the screen: x, y, width, height."""
    out = run("xwininfo", "-id", str(window))
    value = {}
    for key, label in (
        ("x", "Absolute upper-left X"),
        ("y", "Absolute upper-left Y"),
        ("width", "Width"),
        ("height", "Height"),
    ):
        value[key] = int(re.search(rf"{label}:\s+(-?\d+)", out).group(1))
    return value["x"], value["y"], value["width"], value["height"]


def is_override_redirect(window):
    return "Override Redirect State: yes" in run("xwininfo", "-id", str(window))


def frame_extents(window):
    """The window manager's frame around the client: left, right, top, bottom."""
    out = run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS", ok_codes=(0, 1))
    numbers = re.findall(r"\d+", out.partition("=")[2])
    return tuple(int(n) for n in numbers) if len(numbers) == 4 else None


def frame_rectangle(window):
    x, y, width, height = geometry(window)
    left, right, top, bottom = frame_extents(window) or (0, 0, 0, 0)
    return x - left, y - top, width + left + right, height + top + bottom


def active_window():
    out = run("xprop", "-root", "_NET_ACTIVE_WINDOW", ok_codes=(0, 1))
    match = re.search(r"window id # (0x[0-9a-f]+)", out)
    return int(match.group(1), 16) if match else None


def screen_size():
    out = run("xdpyinfo")
    width, height = re.search(r"dimensions:\s+(\d+)x(\d+) pixels", out).groups()
    return int(width), int(height)


class OpacityWatch:
    """Every value of _NET_WM_WINDOW_OPACITY a window takes, as it changes."""

    def __init__(self, window):
        self.values = []
        self._spy = subprocess.Popen(
            ["xprop", "-spy", "-id", str(window), "_NET_WM_WINDOW_OPACITY"],
            env=_TOOL_ENV,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
        )
        os.set_blocking(self._spy.stdout.fileno(), False)
        self._pending = ""

    def poll(self):
        try:
            chunk = os.read(self._spy.stdout.fileno(), 65536)
        except BlockingIOError:
            chunk = b""
        self._pending += chunk.decode(errors="replace")
        *lines, self._pending = self._pending.split("\n")
        for line in lines:
            match = re.search(r"=\s*(\d+)", line)
            if match:
                self.values.append(int(match.group(1)))
        return self.values

    def stop(self):
        self._spy.kill()
        self._spy.wait()
        self._spy.stdout.close()


# ----------------------------------------------------------- mouse and keys


def click(window, x, y):
    """A left click at a point of the window's client area."""
    run("xdotool", "mousemove", "--window", str(window), str(x), str(y), "click", "1")


def click_screen(x, y):
    run("xdotool", "mousemove", str(x), str(y), "click", "1")


def key(*names):
    run("xdotool", "key", *names)


# ------------------------------------------------------ clipboard and screen


def clipboard_text():
    """The clipboard's text as another program pastes it; None when it has none."""
    done = subprocess.run(
        ["xclip", "-selection", "clipboard", "-o", "-t", "UTF8_STRING"],
        env=_TOOL_ENV,
        capture_output=True,
        timeout=30,
        check=False,
    )
    return done.stdout.decode("utf-8") if done.returncode == 0 and done.stdout else None


def clipboard_targets():
    done = subprocess.run(
        ["xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"],
        env=_TOOL_ENV,
        capture_output=True,
        timeout=30,
        check=False,
    )
    return done.stdout.decode(errors="replace").split() if done.returncode == 0 else []


def clipboard_png(path):
    """Saves the clipboard's picture as PNG; False when it holds none."""
    with open(path, "wb") as out:
        done = subprocess.run(
            ["xclip", "-selection", "clipboard", "-o", "-t", "image/png"],
            env=_TOOL_ENV,
            stdout=out,
            stderr=subprocess.DEVNULL,
            timeout=60,
            check=False,
        )
    return done.returncode == 0 and png_size(path) is not None


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def screenshot(path, rectangle=None):
    """The whole screen, or the part of it in rectangle (x, y, width, height)."""
    args = ["import", "-window", "root"]
    if rectangle:
        x, y, width, height = rectangle
        args += ["-crop", f"{width}x{height}+{x}+{y}", "+repage"]
    run(*args, path, timeout=60)


def picture_difference(first, second):
    """Root mean square difference of two pictures of one size, from 0 to 1."""
    done = subprocess.run(
        ["compare", "-metric", "RMSE", first, second, "null:"],
        env=_TOOL_ENV,
        capture_output=True,
        timeout=60,
        check=False,
    )
    match = re.search(r"\(([\d.e+-]+)\)", done.stderr.decode(errors="replace"))
    if done.returncode not in (0, 1) or not match:
        raise RuntimeError(f"compare failed: {done.stderr.decode(errors='replace')}")
    return float(match.group(1))


def differing_pixels(first, second, rectangle):
    """How many pixels differ between two pictures in rectangle (x, y, width,
    height), with no tolerance."""
    x, y, width, height = rectangle
    crop = f"[{width}x{height}+{x}+{y}]"
    done = subprocess.run(
        ["compare", "-metric", "AE", first + crop, second + crop, "null:"],
        env=_TOOL_ENV,
        capture_output=True,
        timeout=60,
        check=False,
    )
    match = re.match(r"\s*([\d.e+-]+)", done.stderr.decode(errors="replace"))
    if done.returncode not in (0, 1) or not match:
        raise RuntimeError(f"compare failed: {done.stderr.decode(errors='replace')}")
    return int(float(match.group(1)))
