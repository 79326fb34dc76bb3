"""The X display as a person meets it: windows, the mouse, the keyboard, the
clipboard and the screen, through the ordinary X tools."""

import os
import re
import struct
import subprocess

from . import tools

# The tools print window names in the locale's charset; ours are Chinese.
_TOOL_ENV = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")


def use_display(env):
    """From now on, the display (and its authority) that env names."""
    _TOOL_ENV.clear()
    _TOOL_ENV.update(env, LC_ALL="C.UTF-8", LANG="C.UTF-8")


def run(*args, timeout=30, ok_codes=(0,)):
    out = tools.run(*args, env=_TOOL_ENV, timeout=timeout, ok_codes=ok_codes)
    return out.decode("utf-8", errors="replace")


# ------------------------------------------------------------------ windows


def visible_windows(pid):
    """The mapped windows of a process, popups included."""
    out = run("xdotool", "search", "--onlyvisible", "--pid", str(pid), ok_codes=(0, 1))
    return [int(line) for line in out.split()]


def windows_called(name):
    """Any process's visible windows of that name."""
    out = run("xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(name)}$",
              ok_codes=(0, 1))
    return [int(line) for line in out.split()]


def window_pid(window):
    return int(run("xdotool", "getwindowpid", str(window)))


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
        except tools.Failure:  # gone between the search and the look
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


def parent(window):
    """The window that holds it: for a top-level one, its frame."""
    out = run("xwininfo", "-children", "-id", str(window))
    match = re.search(r"Parent window id: (0x[0-9a-f]+)", out)
    return int(match.group(1), 16) if match else None


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
    # A moment between: the window under the pointer learns of it first.
    run("xdotool", "mousemove", str(x), str(y), "sleep", "0.05", "click", "1")


def activate(window):
    """Raises the window and gives it the focus, once the window manager has."""
    run("xdotool", "windowactivate", "--sync", str(window))


def key(*names):
    run("xdotool", "key", *names)


# ------------------------------------------------------ clipboard and screen


def clipboard(kind="UTF8_STRING"):
    """The clipboard as another program pastes it, in the form kind; None when
    it holds nothing in that form."""
    done = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", kind],
                          env=_TOOL_ENV, capture_output=True, timeout=60, check=False)
    return done.stdout if done.returncode == 0 and done.stdout else None


def clipboard_text():
    text = clipboard()
    return text.decode("utf-8") if text else None


def clipboard_png(path):
    """Saves the clipboard's picture as PNG; False when it holds none."""
    data = clipboard("image/png")
    with open(path, "wb") as out:
        out.write(data or b"")
    return data is not None and png_size(path) is not None


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


def _compare(metric, first, second):
    """ImageMagick's measure of two pictures, as it prints it."""
    done = subprocess.run(
        ["compare", "-metric", metric, first, second, "null:"],
        env=_TOOL_ENV,
        capture_output=True,
        timeout=60,
        check=False,
    )
    said = done.stderr.decode(errors="replace")
    if done.returncode not in (0, 1):
        raise RuntimeError(f"compare failed: {said}")
    return said


def picture_difference(first, second):
    """Root mean square difference of two pictures of one size, from 0 to 1."""
    said = _compare("RMSE", first, second)
    match = re.search(r"\(([\d.e+-]+)\)", said)
    if not match:
        raise RuntimeError(f"compare failed: {said}")
    return float(match.group(1))


def differing_pixels(first, second, rectangle):
    """How many pixels differ between two pictures in rectangle (x, y, width,
    height), with no tolerance."""
    x, y, width, height = rectangle
    crop = f"[{width}x{height}+{x}+{y}]"
    said = _compare("AE", first + crop, second + crop)
    match = re.match(r"\s*([\d.e+-]+)", said)
    if not match:
        raise RuntimeError(f"compare failed: {said}")
    return int(float(match.group(1)))
