"""知微阁 on the desktops people run: the built program under a real Wayland
compositor (mutter, sway, KWin) that the test starts headless, on native
Wayland or through XWayland, with PipeWire for the sound and the offline
fortune service, all in a network namespace and runtime folder of the row's
own. One row a run:

  wayland_e2e.py ROW --program P --service S --port N --pointer VP --shots DIR

The rows are data (ROWS); every row runs the same checks, each of which says
what it saw; pictures of what failed go to DIR. Exits 77 when a tool it
drives is missing. Run as root (the namespaces); sway's rows drop to
nobody, as sway will not run as root. CTest runs the rows: ctest -L wayland.
"""

import argparse
import datetime
import glob
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

import pictures

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
from zhiweige import sound  # noqa: E402

WIDTH, HEIGHT = 1280, 800
# sway refuses to run as root; its rows run as this user, which every Debian
# system has.
UNPRIVILEGED = "nobody"

MAIN_TITLE = "澄川知微阁 V2"
SPLASH_TITLE = "Form3"
MESSAGE_TITLE = "Kw系列软件"
FINDER_TITLE = "星座判断"
PICTURE_TITLE = "截图窗口"
CHOOSE_YOUR_SIGN = "请选择您的星座查看运势.."
FINDER_PROMPT = "本辅助可帮助您在不知道星座的情况下进行星座判断!"
EXIT_PROMPT = "是否退出并到论坛可以下载更多阿澈的原创免费软件?"

MAIN_SIZE = (747, 484)
SPLASH_SIZE = (599, 392)
# In the main window's client area (as the e2e suite places them).
FIRST_SIGN = (16 + 16 + 36, 152 + 40 + 16)
SHARE_LABEL = (312 + 216 + 12, 16 + 168 + 6)
SHARE_MENU_AT = (501, 200)
FINDER_BUTTON = (312 + 8 + 36, 352 + 16 + 20)
MUSIC_BUTTON = (312 + 88 + 36, 352 + 16 + 20)
EXIT_BUTTON = (312 + 336 + 36, 352 + 16 + 20)
# Of the main window, away from every control and from where a centred
# dialog lies.
BARE_SPOT = (8, 470)

TIMEOUT = 30
# CTest ends a row after 300 s. A row reports within ROW_SECONDS however
# its checks fail; a failed first run is tried again only with room left.
ROW_SECONDS = 270
FIRST_RUN_SECONDS = 170
RERUN_ROOM = 90
# The splash fades in over 0.9 s: part-way pictures for less than this are
# a compositor's animation of a new window, not the fade.
FADE_SPAN = 0.4


class Row:
    def __init__(self, compositor, platform, user=None):
        self.compositor, self.platform, self.user = compositor, platform, user


ROWS = {
    "mutter_native": Row("mutter", "wayland"),
    "mutter_xwayland": Row("mutter", "xcb"),
    "sway_native": Row("sway", "wayland", UNPRIVILEGED),
    "sway_xwayland": Row("sway", "xcb", UNPRIVILEGED),
    "kwin_xwayland": Row("kwin", "xcb"),
}

COMMON_TOOLS = ["unshare", "setpriv", "ip", "mount", "dbus-run-session", "pipewire",
                "wireplumber", "pipewire-pulse", "pactl", "parec", "Xwayland"]
TOOLS = {
    "mutter": ["mutter", "gst-launch-1.0"],
    "sway": ["sway", "swaymsg", "grim", "wtype", "wl-paste"],
    "kwin": ["kwin_wayland", "Xvfb", "xdpyinfo"],
    "xcb": ["xdotool", "xwininfo", "xprop", "xclip", "xwd"],
    "wayland": [],
}
PYTHON_MODULES = {"dbus": "python3-dbus", "gi": "python3-gi"}

_started = []
# When this run of the row must have reported (time.monotonic()).
_row_deadline = float("inf")


def log(text):
    print(text, flush=True)


def until(probe, timeout, what):
    deadline = min(time.monotonic() + timeout, _row_deadline)
    pause = 0.05
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            if deadline == _row_deadline:
                raise Failure(f"the row's time ran out waiting for {what}")
            raise Failure(f"gave up after {timeout} s waiting for {what}")
        time.sleep(pause)
        pause = min(pause * 1.5, 0.3)


class Failure(Exception):
    pass


def start(args, env, logfile, **options):
    process = subprocess.Popen(args, env=env, stdout=logfile, stderr=subprocess.STDOUT,
                               start_new_session=True, **options)
    _started.append(process)
    return process


def run(args, env, timeout=30, stdin=None):
    done = subprocess.run(args, env=env, capture_output=True, timeout=timeout, input=stdin,
                          check=False)
    if done.returncode != 0:
        raise Failure(f"{' '.join(args)} exited {done.returncode}: "
                      f"{done.stderr.decode(errors='replace')[-400:]}")
    return done.stdout


def stop_all():
    for process in reversed(_started):
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except (ProcessLookupError, PermissionError):
                pass
    for process in reversed(_started):
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
        # Whatever is left of the group goes too: sway outlives the end of
        # the process that started it, and a TERM it does not act on.
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        process.wait()


def overlap(one, two):
    """The share of rectangle one that lies inside rectangle two."""
    left, top = max(one[0], two[0]), max(one[1], two[1])
    right = min(one[0] + one[2], two[0] + two[2])
    bottom = min(one[1] + one[3], two[1] + two[3])
    if right <= left or bottom <= top:
        return 0.0
    return (right - left) * (bottom - top) / (one[2] * one[3])


# ------------------------------------------------------------ the session


class Session:
    """What every row has: its runtime folder, the session bus it runs in,
    PipeWire with a null sink, and the environment the program gets."""

    def __init__(self, folder, shots):
        self.folder, self.shots = folder, shots
        self.logs = open(os.path.join(shots, "session.log"), "w")
        self.env = {
            name: value for name, value in os.environ.items()
            if not name.startswith(("LC_", "XDG_", "KDE_", "GNOME_", "QT_", "WAYLAND_", "WLR_",
                                    "SWAY", "PULSE_", "PIPEWIRE_"))
            and name not in ("DISPLAY", "XAUTHORITY", "LANG", "LANGUAGE", "DESKTOP_SESSION")
        }
        self.env.update(HOME=folder, XDG_RUNTIME_DIR=folder, LC_ALL="C.UTF-8",
                        LANG="C.UTF-8")


class PipeWire(sound.SoundServer):
    """The e2e suite's sound server, as PipeWire with its PulseAudio face:
    the null sink is made through that face, so what it plays is read back
    in the same way."""

    def start(self, session):
        for name in ("pipewire", "wireplumber", "pipewire-pulse"):
            start([name], session.env, session.logs)
        self.address = f"unix:{session.folder}/pulse/native"
        until(lambda: self._pactl("info"), TIMEOUT, "pipewire-pulse")
        if self._pactl("load-module", "module-null-sink", "sink_name=null") is None:
            raise Failure("pipewire-pulse made no null sink")
        self._pactl("set-default-sink", "null")
        return self

    def stop(self):
        pass  # with the rest of the session


# ------------------------------------------------------------ compositors


class Compositor:
    """One compositor: started headless; pictures of its screen."""

    def __init__(self, session):
        self.session = session
        self.env = dict(session.env)
        self.x_env = None

    def find_xwayland(self, display=None, exclude=None):
        def probe():
            sockets = sorted(":" + path.rpartition("X")[2]
                             for path in glob.glob("/tmp/.X11-unix/X*"))
            sockets = [name for name in sockets if name != exclude]
            return display or (sockets and sockets[0])

        name = until(probe, TIMEOUT, "Xwayland's socket")
        env = dict(self.env, DISPLAY=name)
        env.pop("WAYLAND_DISPLAY", None)
        for pattern in (".mutter-Xwaylandauth.*", "xauth_*"):
            found = glob.glob(os.path.join(self.session.folder, pattern))
            if found:
                env["XAUTHORITY"] = found[0]
        until(lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                                     capture_output=True, check=False).returncode == 0,
              TIMEOUT, f"the X display {name}")
        self.x_env = env

    def record(self, seconds, action):
        """Pictures of the screen, as many as it can take, for seconds from
        the action on, each with its time after the action."""
        action()
        frames, start = [], time.monotonic()
        while time.monotonic() < start + seconds:
            frames.append((time.monotonic() - start, self.grab()))
        return frames


class Sway(Compositor):
    name = "sway"

    def start(self):
        config = os.path.join(self.session.folder, "sway.conf")
        with open(config, "w") as out:
            out.write(f"output HEADLESS-1 resolution {WIDTH}x{HEIGHT}\nxwayland force\n")
        env = dict(self.env, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                   WLR_RENDERER="pixman")
        self.process = start(["sway", "-c", config], env, self.session.logs)
        socket = until(lambda: glob.glob(os.path.join(self.session.folder, "sway-ipc.*.sock")),
                       TIMEOUT, "sway's IPC socket")[0]
        display = until(lambda: [os.path.basename(p) for p in glob.glob(
            os.path.join(self.session.folder, "wayland-*")) if not p.endswith(".lock")],
            TIMEOUT, "sway's Wayland socket")[0]
        self.env.update(SWAYSOCK=socket, WAYLAND_DISPLAY=display)
        self.find_xwayland()

    def grab(self):
        return pictures.from_ppm(run(["grim", "-t", "ppm", "-"], self.env))

    # On native Wayland: sway's own windows, input and clipboard.
    def start_input(self, pointer):
        self.pointer = subprocess.Popen([pointer, str(WIDTH), str(HEIGHT)], env=self.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.session.logs, text=True,
                                        start_new_session=True)
        _started.append(self.pointer)
        if self.pointer.stdout.readline().strip() != "ok":
            raise Failure("the virtual pointer did not start; see session.log")

    def _pointer(self, command):
        self.pointer.stdin.write(command + "\n")
        self.pointer.stdin.flush()
        if self.pointer.stdout.readline().strip() != "ok":
            raise Failure(f"the virtual pointer failed on {command!r}")

    def click(self, x, y):
        self._pointer(f"move {x} {y}")
        self._pointer("click")

    def key(self, name):
        # Each wtype brings a keyboard with a new keymap, and Qt loses the
        # first key after a new keymap: a harmless one goes first.
        run(["wtype", "-k", "Shift_L", "-k", name], self.env)

    def windows(self):
        tree = json.loads(run(["swaymsg", "-t", "get_tree", "--raw"], self.env))
        found = []

        def walk(node):
            if node.get("pid"):
                rect, inner = node["rect"], node["window_rect"]
                found.append((node.get("name"), (rect["x"] + inner["x"], rect["y"] + inner["y"],
                                                 inner["width"], inner["height"])))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)

        walk(tree)
        return found

    def rect(self, title, size=None, before=None):
        for name, rect in self.windows():
            if name == title:
                return rect
        return None

    def focus(self, title):
        subprocess.run(["swaymsg", f'[title="^{title}$"] focus'], env=self.env,
                       capture_output=True, timeout=30, check=False)

    def clipboard(self, kind):
        done = subprocess.run(["wl-paste", "--no-newline", "--type", kind], env=self.env,
                              capture_output=True, timeout=30, check=False)
        return done.stdout if done.returncode == 0 and done.stdout else None


class Mutter(Compositor):
    name = "mutter"

    def start(self):
        import dbus
        from dbus.mainloop.glib import DBusGMainLoop

        DBusGMainLoop(set_as_default=True)
        self.process = start(["mutter", "--headless", "--wayland", "--virtual-monitor",
                              f"{WIDTH}x{HEIGHT}", "--wayland-display", "wayland-row"],
                             self.env, self.session.logs)
        self.env["WAYLAND_DISPLAY"] = "wayland-row"
        bus = dbus.SessionBus()

        def remote_desktop():
            try:
                return bus.get_object("org.gnome.Mutter.RemoteDesktop",
                                      "/org/gnome/Mutter/RemoteDesktop")
            except dbus.DBusException:
                return None

        manager = until(remote_desktop, TIMEOUT, "mutter's RemoteDesktop on the bus")
        path = manager.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
        self.desktop = dbus.Interface(bus.get_object("org.gnome.Mutter.RemoteDesktop", path),
                                      "org.gnome.Mutter.RemoteDesktop.Session")
        session_id = self.desktop.get_dbus_method("Get", "org.freedesktop.DBus.Properties")(
            "org.gnome.Mutter.RemoteDesktop.Session", "SessionId")
        cast = bus.get_object("org.gnome.Mutter.ScreenCast", "/org/gnome/Mutter/ScreenCast")
        path = cast.CreateSession({"remote-desktop-session-id": session_id},
                                  dbus_interface="org.gnome.Mutter.ScreenCast")
        cast_session = bus.get_object("org.gnome.Mutter.ScreenCast", path)
        self.stream = cast_session.RecordMonitor("", {},
                                                 dbus_interface="org.gnome.Mutter.ScreenCast.Session")
        nodes = []
        bus.add_signal_receiver(nodes.append, "PipeWireStreamAdded",
                                "org.gnome.Mutter.ScreenCast.Stream", path=self.stream)
        self.desktop.Start()
        from gi.repository import GLib

        context = GLib.MainContext.default()
        deadline = time.monotonic() + TIMEOUT
        while not nodes and time.monotonic() < deadline:
            context.iteration(False) or time.sleep(0.02)
        if not nodes:
            raise Failure("mutter's screen cast gave no PipeWire stream")
        self.node = int(nodes[0])
        # No client can own the clipboard before the seat has a keyboard,
        # which comes with the first key.
        self.key("Shift_L")
        # mutter runs two X displays: the one for clients it names in its log.
        def public_display():
            with open(os.path.join(self.session.shots, "session.log")) as text:
                for line in text:
                    if "Using public X11 display" in line:
                        return line.split("display ")[1].split(",")[0]
            return None

        self.find_xwayland(until(public_display, TIMEOUT, "mutter's Xwayland"))

    def _gst(self, *tail, frames=1):
        return ["gst-launch-1.0", "-q", "pipewiresrc", f"path={self.node}",
                f"num-buffers={frames}", "!", "videoconvert", "!",
                "video/x-raw,format=RGB", *tail]

    def grab(self):
        data = run(self._gst("!", "fdsink", "fd=1"), self.env, timeout=60)
        return pictures.Picture(WIDTH, HEIGHT, data[-WIDTH * HEIGHT * 3:])

    def record(self, seconds, action):
        # Too slow to start one pipeline a picture: one stream, cut up after.
        folder = tempfile.mkdtemp(dir=self.session.folder)
        recorder = subprocess.Popen(
            self._gst("!", "multifilesink", f"location={folder}/%05d.rgb", frames=-1),
            env=self.env, stdout=subprocess.DEVNULL, stderr=self.session.logs)
        # The stream starts with the screen as it is.
        until(lambda: glob.glob(os.path.join(folder, "*.rgb")), TIMEOUT, "the screen cast")
        start = time.time()
        action()
        time.sleep(seconds)
        recorder.terminate()
        recorder.wait()
        frames = []
        for path in sorted(glob.glob(os.path.join(folder, "*.rgb"))):
            with open(path, "rb") as frame:
                data = frame.read()
            if len(data) == WIDTH * HEIGHT * 3:
                # Written as it came: the file's time is the picture's.
                frames.append((os.stat(path).st_mtime - start,
                               pictures.Picture(WIDTH, HEIGHT, data)))
        shutil.rmtree(folder, ignore_errors=True)
        return frames

    # On native Wayland: input through RemoteDesktop; windows found on the
    # screen, since mutter alone tells no one where they are: give or take
    # a few pixels.
    slack = 8
    def start_input(self, pointer):
        pass

    def click(self, x, y):
        import dbus

        self.desktop.NotifyPointerMotionAbsolute(self.stream, float(x), float(y))
        time.sleep(0.05)
        for pressed in (True, False):
            self.desktop.NotifyPointerButton(dbus.Int32(0x110), pressed)
            time.sleep(0.05)

    KEYSYMS = {"Return": 0xFF0D, "Escape": 0xFF1B, "Shift_L": 0xFFE1}

    def key(self, name):
        import dbus

        for pressed in (True, False):
            self.desktop.NotifyKeyboardKeysym(dbus.UInt32(self.KEYSYMS[name]), pressed)
        time.sleep(0.05)

    def rect(self, title, size=None, before=None):
        if size is None or before is None:
            return None
        places = pictures.densest(before, self.grab(), size)
        if places is None:
            return None
        # Qt draws a title bar above and an even border round the rest.
        x0, y0, x1, y1 = places
        border = (x1 - x0) // 2
        return (x0 + border, max(y0, y1 - border), size[0], size[1])

    def clipboard(self, kind):
        # mutter hands the Wayland clipboard on to X.
        return XSession(self.x_env).clipboard(kind)


class KWin(Compositor):
    """KWin draws into a window of an X server of the row's own, where its
    screen is read: KWin 6 takes pictures of its screen (ScreenShot2) only
    when it composites with OpenGL, which its virtual output does only on a
    machine with a GPU."""

    name = "kwin"
    OUTER = ":90"

    def start(self):
        self.outer = dict(self.env, DISPLAY=self.OUTER)
        start(["Xvfb", self.OUTER, "-screen", "0", f"{WIDTH}x{HEIGHT}x24", "-nolisten", "tcp"],
              self.env, self.session.logs)
        until(lambda: subprocess.run(["xdpyinfo"], env=self.outer, capture_output=True,
                                     check=False).returncode == 0, TIMEOUT, "KWin's X server")
        # Debian's binary carries a file capability that a container may not
        # grant; a copy without it runs, if it keeps its name.
        folder = os.path.join(self.session.folder, "kwin")
        os.makedirs(folder)
        binary = os.path.join(folder, "kwin_wayland")
        shutil.copyfile(shutil.which("kwin_wayland"), binary)
        os.chmod(binary, 0o755)
        env = dict(self.outer, KWIN_WAYLAND_NO_PERMISSION_CHECKS="1")
        self.process = start([binary, "--x11-display", self.OUTER, "--width", str(WIDTH),
                              "--height", str(HEIGHT), "--xwayland", "--socket", "wayland-row"],
                             env, self.session.logs)
        self.env["WAYLAND_DISPLAY"] = "wayland-row"
        self.find_xwayland(exclude=self.OUTER)

    def grab(self):
        done = subprocess.run(["xwd", "-silent", "-root"], env=self.outer, capture_output=True,
                              timeout=30, check=False)
        picture = _xwd_picture(done.stdout)
        if picture is None:
            raise Failure(f"xwd of KWin's screen gave {len(done.stdout)} bytes: "
                          f"{done.stderr.decode(errors='replace')[-200:]}")
        return picture


COMPOSITORS = {"mutter": Mutter, "sway": Sway, "kwin": KWin}


class XSession:
    """Windows, input and the clipboard through X, on the compositor's
    Xwayland, for the program on XWayland."""

    def __init__(self, env):
        self.env = env
        self.pid = None  # the program's, once it runs

    def start_input(self, pointer):
        pass

    def _x(self, *args, ok=(0,)):
        done = subprocess.run(args, env=self.env, capture_output=True, timeout=30, check=False)
        if done.returncode not in ok:
            raise Failure(f"{' '.join(args)} exited {done.returncode}: "
                          f"{done.stderr.decode(errors='replace')[-300:]}")
        return done.stdout.decode(errors="replace")

    def click(self, x, y):
        self._x("xdotool", "mousemove", str(x), str(y), "sleep", "0.05", "click", "1")

    def key(self, name):
        self._x("xdotool", "key", name)

    def window(self, title):
        # The program's own: mutter 44 and later draw frames in a client of
        # their own, whose frame window bears the title it frames.
        owner = ["--all", "--pid", str(self.pid)] if self.pid else []
        for window in self._x("xdotool", "search", "--onlyvisible", *owner, "--name",
                              f"^{title}$", ok=(0, 1)).split():
            return int(window)
        return None

    def rect(self, title, size=None, before=None):
        window = self.window(title)
        if window is None:
            return None
        out = self._x("xwininfo", "-id", str(window), ok=(0, 1))
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        try:
            return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                    int(values["Width"]), int(values["Height"]))
        except (KeyError, ValueError):
            return None

    def clipboard(self, kind):
        done = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", kind],
                              env=self.env, capture_output=True, timeout=30, check=False)
        return done.stdout if done.returncode == 0 and done.stdout else None

    def frame(self, window):
        for line in self._x("xwininfo", "-children", "-id", str(window)).splitlines():
            if "Parent window id:" in line:
                return int(line.split(":")[1].split()[0], 16)
        return None

    def own_pixels(self, title, frame=False):
        """What the X server gives back of the window itself, or of the
        window manager's frame round it (xwd): whether a program can read
        its own window there."""
        window = self.window(title)
        if frame:
            window = self.frame(window)
        done = subprocess.run(["xwd", "-silent", "-id", str(window)], env=self.env,
                              capture_output=True, timeout=30, check=False)
        picture = _xwd_picture(done.stdout)
        if picture is None:
            header = struct.unpack(">25I", done.stdout[:100]) if len(done.stdout) >= 100 else ()
            error = done.stderr.decode(errors="replace").strip().splitlines()
            raise Failure(f"xwd -id {window} gave {len(done.stdout)} bytes"
                          + (f", header {header[:13]}" if header else "")
                          + (f": {error[0]}" if error else ""))
        return picture


def _xwd_picture(data):
    """An xwd dump of four bytes a pixel, least significant first: what
    Xwayland gives."""
    if len(data) < 100:
        return None
    header = struct.unpack(">25I", data[:100])
    size, width, height, byte_order = header[0], header[4], header[5], header[7]
    bytes_per_line, colours = header[12], header[19]
    pixels = data[size + colours * 12:]
    if byte_order != 0 or bytes_per_line < width * 4 or len(pixels) < bytes_per_line * height:
        return None
    return pictures.from_bgrx(width, height, bytes_per_line, pixels)


# ------------------------------------------------------------ the checks


class Checks:
    def __init__(self, name, row, session, desk, ui, args):
        self.name, self.row, self.session, self.desk, self.ui = name, row, session, desk, ui
        self.args = args
        self.results = []
        self.main = None
        self.program = None

    def record(self, letter, passed, text):
        self.results.append((letter, passed, text))
        log(f"  {letter}. {'PASS' if passed else 'FAIL'}: {text}")

    def evidence(self, picture, name):
        path = os.path.join(self.session.shots, name + ".png")
        picture.save_png(path)
        return path

    def shot(self, name):
        try:
            return self.evidence(self.desk.grab(), name)
        except Exception as error:  # the screen may be gone with the compositor
            return f"(no picture: {error})"

    # --------------------------------------------------------- program

    def start_program(self):
        from zhiweige.accessible import AccessibleProgram

        program = self.args.program
        env = dict(self.ui.env if isinstance(self.ui, XSession) else self.desk.env)
        env.update(QT_QPA_PLATFORM=self.row.platform, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   BROWSER="true")
        self.program_log = os.path.join(self.session.shots, "program.log")
        self.program = start([program], env, open(self.program_log, "w"),
                             cwd=os.path.dirname(program))
        if isinstance(self.ui, XSession):
            self.ui.pid = self.program.pid
        self.accessible = AccessibleProgram(self.program.pid)

    def node(self, title):
        return self.accessible.window(title)

    def shows(self, title, text):
        window = self.node(title)
        return window is not None and any(
            text in node.name or text in node.description for node in window.walk()
            if node.showing)

    def wait_shows(self, title, text, what, timeout=TIMEOUT):
        def probe():
            if self.program.poll() is not None:
                raise Failure(f"the program ended (exit {self.program.returncode}) waiting "
                              f"for {what}; see {self.program_log}")
            return self.shows(title, text)

        until(probe, timeout, what)

    def dismiss(self, title, key, what, rect=None):
        """A key to the window in front until the window goes: on sway the
        first key that a newly focused Qt window gets can be lost."""
        for attempt in range(3):
            # It may have lost the focus, or gone under another window.
            if attempt and hasattr(self.ui, "focus"):
                self.ui.focus(title)
            elif attempt and rect is not None:
                self.ui.click(rect[0] + rect[2] // 2, rect[1] + 4)
            if attempt:
                log(f"  ({key} again: {what} after {attempt * 5} s)")
            self.ui.key(key)
            try:
                return until(lambda: self.node(title) is None, 5, what)
            except Failure:
                pass
        until(lambda: self.node(title) is None, TIMEOUT, what)

    def click_main(self, point):
        self.ui.click(self.main[0] + point[0], self.main[1] + point[1])

    def dialog_rect(self, title, before):
        node = self.node(title)
        size = None
        if node is not None:
            from gi.repository import Atspi

            extents = node._accessible.get_extents(Atspi.CoordType.SCREEN)
            size = (extents.width, extents.height)
        return until(lambda: self.ui.rect(title, size, before), 10, f'where "{title}" is')

    def check_placed(self, title, before, what):
        """e: the dialog opened over the main window."""
        try:
            rect = self.dialog_rect(title, before)
        except Failure as error:
            known = ""
            if hasattr(self.ui, "windows"):
                known = f"; {self.desk.name} knows the windows {[w[0] for w in self.ui.windows()]}"
            self.record("e", False, f"{what}: {error}{known}; screen: "
                        f"{self.shot('placed-' + title)}")
            return None
        share = overlap(rect, self.main)
        if share >= 0.5:
            self.record("e", True, f"{what} at {rect}, {share:.0%} of it over the main window")
        else:
            self.record("e", False, f"{what} at {rect}, away from the main window {self.main} "
                        f"({share:.0%} over it); screen: {self.shot('placed-' + title)}")
        return rect

    # ----------------------------------------------------------- a to g

    def splash_fades(self, empty):
        """a: pictures of the screen from the start; one mid-fade differs
        from the full-strength one."""
        timed = self.desk.record(3.0, self.start_program)
        times, frames = [t for t, _ in timed], [f for _, f in timed]
        splash = None
        if frames:
            box = pictures.changed_box(empty, frames[-1])
            if box:
                # Away from the rounded corners and any frame.
                splash = (box[0] + box[2] // 4, box[1] + box[3] // 4, box[2] // 2, box[3] // 2)
        if splash is None:
            self.record("a", False, f"no splash on the screen in {len(frames)} pictures over 3 s; "
                        f"screen: {self.shot('splash-missing')}")
            return
        full = frames[-1]
        reach = pictures.difference(empty, full, splash)
        shares = [1 - pictures.difference(frame, full, splash) / reach for frame in frames]
        middle = [i for i, share in enumerate(shares) if 0.1 < share < 0.9]
        seen = runs(f"{share:.2f}" for share in shares)
        # A compositor's own animation of a new window takes a quarter of a
        # second; the splash's fade about a second.
        span = times[middle[-1]] - times[middle[0]] if middle else 0.0
        if middle:
            self.evidence(frames[middle[len(middle) // 2]], "splash-mid-fade")
        if span >= FADE_SPAN:
            self.record("a", True, f"pictures between 10% and 90% of full strength over "
                        f"{span:.2f} s: {seen}")
        else:
            for i in sorted({0, len(frames) // 2, len(frames) - 1}):
                self.evidence(frames[i], f"splash-{i:03d}")
            self.record("a", False, f"pictures between 10% and 90% of full strength over only "
                        f"{span:.2f} s (a fade takes about 0.9 s) in {len(frames)} pictures "
                        f"over 3 s: {seen} (splash-*.png)")

    def main_window_opens(self, empty):
        """b: a click on the splash opens the main window."""
        splash = self.ui.rect(SPLASH_TITLE, SPLASH_SIZE, empty)
        if splash is None:
            splash = ((WIDTH - SPLASH_SIZE[0]) // 2, (HEIGHT - SPLASH_SIZE[1]) // 2) + SPLASH_SIZE
        # A busy machine may still be mapping the splash when the first click
        # comes: a person clicks again.
        for clicks in range(1, 4):
            self.ui.click(splash[0] + 300, splash[1] + 200)
            try:
                until(lambda: self.node(MAIN_TITLE), 10, "the main window")
                break
            except Failure:
                if clicks == 3:
                    raise
        self.wait_shows(MAIN_TITLE, CHOOSE_YOUR_SIGN, "the main window and its version check")
        until(lambda: self.node(SPLASH_TITLE) is None, TIMEOUT, "the splash to go")
        time.sleep(0.5)
        self.main = self.dialog_rect(MAIN_TITLE, empty)
        again = f" (after {clicks} clicks on the splash)" if clicks > 1 else ""
        self.record("b", True, f"the main window opened at {self.main}{again}")
        self.evidence(self.desk.grab(), "main-window")

    def music(self):
        """g: the tune is heard on the null sink, and no more after 关闭音乐."""
        pid = self.program.pid
        try:
            until(lambda: self.session.sound.plays(pid), TIMEOUT, "the program's stream to play")
            loud = self.session.sound.loudest_sample(1.5)
            self.click_main(MUSIC_BUTTON)
            self.wait_shows(MAIN_TITLE, "打开音乐", "the music button to read 打开音乐")
            until(lambda: not self.session.sound.plays(pid), TIMEOUT, "the stream to stop")
            quiet = self.session.sound.loudest_sample(0.5)
        except Failure as error:
            self.record("g", False, str(error))
            return
        self.record("g", loud >= 1000 and quiet == 0,
                    f"loudest sample {loud} while playing, {quiet} after 关闭音乐")

    def fortune(self):
        """c: one sign fills the panel; its report reaches the clipboard."""
        from zhiweige import oracle

        sign, mode = oracle.SIGNS[0][0], oracle.TODAY
        self.click_main(FIRST_SIGN)
        self.wait_shows(MAIN_TITLE, f"{sign}{mode}获取完毕...", f"{sign}'s fortune")
        before = self.desk.grab()
        self.choose_share_item(0)
        self.wait_shows(MESSAGE_TITLE, f"{sign}{mode}已复制!", "the copy message")
        self.check_placed(MESSAGE_TITLE, before, "the copy message box")
        report = self.ui.clipboard("text/plain;charset=utf-8") or self.ui.clipboard("UTF8_STRING")
        report = report.decode("utf-8") if report else None
        today = datetime.date.today()
        page = oracle.fetch_page(self.args.port, oracle.page_path(sign, mode, today))
        expected = oracle.expected_report(sign, mode, page, today, self.args.port)
        # A screen reader hears the day's description, not only its label's name.
        description = oracle.cut_page(page)[2]
        if report == expected and not self.shows(MAIN_TITLE, description):
            self.record("c", False, f"the description {description!r} is not readable over "
                        "AT-SPI")
        elif report == expected:
            self.record("c", True, f"{sign} filled the panel; its {len(report)}-character "
                        "report is on the clipboard, its description readable over AT-SPI")
        else:
            self.record("c", False, f"the clipboard holds {report!r}, not {expected!r}")
        self.dismiss(MESSAGE_TITLE, "Return", "the copy message to close")

    def choose_share_item(self, item):
        self.click_main(SHARE_LABEL)
        time.sleep(1.0)
        # Two items with a separator between them.
        x = self.main[0] + SHARE_MENU_AT[0] + 40
        y = self.main[1] + SHARE_MENU_AT[1] + (12 if item == 0 else 40)
        self.ui.click(x, y)

    def capture(self):
        """d: the window picture holds the window's client pixels."""
        screen = self.desk.grab()
        self.choose_share_item(1)
        started = time.monotonic()
        self.wait_shows(PICTURE_TITLE, "确定", "the picture window")
        took = time.monotonic() - started
        self.check_placed(PICTURE_TITLE, screen, "the picture window")
        data = until(lambda: self.ui.clipboard("image/png"), 10, "a picture on the clipboard")
        picture = pictures.from_png(data)
        self.evidence(picture, "clipboard-picture")
        self.evidence(screen.crop(self.main), "screen-under-window")
        if isinstance(self.ui, XSession):
            self.report_own_pixels(screen)
        verdict, text = judge_picture(picture, screen, self.main, getattr(self.ui, "slack", 0))
        self.record("d", verdict, f"{text}; {picture.width}x{picture.height} picture after "
                    f"{took:.1f} s (clipboard-picture.png, screen-under-window.png)")
        self.dismiss(PICTURE_TITLE, "Return", "the picture window to close")

    def report_own_pixels(self, screen):
        """Not a check: whether X gives back the program's own window."""
        for frame, what in ((False, "window"), (True, "frame")):
            try:
                own = self.ui.own_pixels(MAIN_TITLE, frame)
            except Exception as error:
                log(f"  (xwd of the main window's {what} failed: {error})")
                continue
            self.evidence(own, f"xwd-main-{what}")
            verdict, text = judge_picture(own, screen, self.main)
            log(f"  (xwd of the main window's {what}: {own.width}x{own.height}, {text})")

    def finder(self):
        """e and f: the finder and its prompt open over the main window; a
        click on the main window leaves the finder on top."""
        before = self.desk.grab()
        self.click_main(FINDER_BUTTON)
        self.wait_shows(MESSAGE_TITLE, FINDER_PROMPT, "the finder's prompt")
        self.check_placed(MESSAGE_TITLE, before, "the finder's prompt")
        before = self.desk.grab()
        self.dismiss(MESSAGE_TITLE, "Return", "the finder's prompt to close")
        until(lambda: self.node(FINDER_TITLE), TIMEOUT, "the finder dialog")
        time.sleep(0.5)
        rect = self.check_placed(FINDER_TITLE, before, "the finder dialog")
        if rect is not None:
            self.finder_stays_on_top(rect, before)
        self.dismiss(FINDER_TITLE, "Escape", "the finder to close", rect)

    def finder_stays_on_top(self, rect, before):
        """f: pictures of the screen for 1.5 s after a click on the main
        window; from 1 s on, the finder shows where it is."""
        finder = self.desk.grab()
        timed = self.desk.record(1.5, lambda: self.click_main(BARE_SPOT))
        after = timed[-1][1]
        size = rect[2:]
        moved = self.ui.rect(FINDER_TITLE, size, before) or rect
        changes = [(when, pictures.difference(finder, frame, (rect, moved)))
                   for when, frame in timed]
        early = [change for when, change in changes if when < 1.0] or [0.0]
        late = [change for when, change in changes if when >= 1.0] or [changes[-1][1]]
        seen = (f"at most {max(early):.1f} in the first second, {max(late):.1f} after "
                f"({len(changes)} pictures)")
        where = f" (it moved from {rect[:2]} to {moved[:2]})" if moved[:2] != rect[:2] else ""
        if max(late) < 8:
            self.record("f", True, f"the finder on top from 1 s after a click on the main "
                        f"window{where}; its pixels changed by {seen}, of 255")
        else:
            self.evidence(finder, "finder-before-click")
            self.record("f", False, f"after a click on the main window the finder's pixels "
                        f"changed by {seen}, of 255{where}: it is not on top after 1 s; "
                        f"finder-before-click.png, {self.evidence(after, 'finder-after-click')}")

    def exit_prompt(self):
        """e: the exit prompt opens over the main window; Escape keeps it."""
        before = self.desk.grab()
        self.click_main(EXIT_BUTTON)
        self.wait_shows(MESSAGE_TITLE, EXIT_PROMPT, "the exit prompt")
        self.check_placed(MESSAGE_TITLE, before, "the exit prompt")
        self.dismiss(MESSAGE_TITLE, "Escape", "the exit prompt to close")

    def run_all(self, empty):
        steps = [
            ("a", "splash", lambda: self.splash_fades(empty)),
            ("b", "main-window", lambda: self.main_window_opens(empty)),
            ("g", "music", self.music),
            ("c", "fortune", self.fortune),
            ("d", "capture", self.capture),
            ("e", "finder", self.finder),
            ("e", "exit-prompt", self.exit_prompt),
        ]
        for number, (letter, name, step) in enumerate(steps):
            if time.monotonic() > _row_deadline:
                for late, late_name, _ in steps[number:]:
                    self.record(late, False, f"{late_name}: not reached, the row's time ran out")
                break
            try:
                step()
            except Exception as error:
                self.record(letter, False, f"{type(error).__name__}: {error}; screen: "
                            f"{self.shot('failed-' + name)}")
                if self.main is None or self.program.poll() is not None:
                    break
                # Whatever is open in front: away with it, and on.
                for key in ("Escape", "Escape"):
                    try:
                        self.ui.key(key)
                    except Exception:
                        pass
                time.sleep(0.5)


def runs(values):
    """1 1 1 2 as 1×3 2."""
    out = []
    for value in values:
        if out and out[-1][0] == value:
            out[-1][1] += 1
        else:
            out.append([value, 1])
    return " ".join(value if count == 1 else f"{value}×{count}" for value, count in out)


def judge_picture(picture, screen, rect, slack=0):
    """Whether the picture holds the window's client area (rect) as the
    screen shows it, somewhere in it (it may hold the frame too), and is not
    one colour. slack: how far rect may be off, where it was worked out
    from the screen."""
    colours = picture.colours(step=5)
    if len(colours) <= 2:
        return False, f"the picture is {'all black' if colours == {bytes(3)} else 'one colour'}"
    size = rect[2:]
    if picture.width < size[0] or picture.height < size[1]:
        return False, (f"the picture ({picture.width}x{picture.height}) is smaller than the "
                       f"window's client area ({size[0]}x{size[1]})")
    # Where the client area may sit: flush with the picture, or inside a
    # frame that is even at the sides and the bottom; a few pixels either way.
    room = (picture.width - size[0], picture.height - size[1])
    xs = {0, room[0] // 2, room[0]}
    ys = {0, room[1] - room[0] // 2, room[1]}
    places = {(x + dx, y + dy) for x in xs for y in ys for dx in range(-3, 4) for dy in range(-3, 4)
              if 0 <= x + dx <= room[0] and 0 <= y + dy <= room[1]}
    shifts = [(rect[0] + dx, rect[1] + dy) for dx in range(-slack, slack + 1)
              for dy in range(-slack, slack + 1)
              if 0 <= rect[0] + dx <= screen.width - size[0]
              and 0 <= rect[1] + dy <= screen.height - size[1]]

    def off(pair, step):
        place, shift = pair
        return pictures.difference(picture, screen, (place + size, shift + size), step=step)

    pair = min(((place, shift) for place in places for shift in shifts),
               key=lambda pair: off(pair, 24))
    diff = off(pair, 3)
    (x, y), (sx, sy) = pair
    where = f"({x},{y}) in the picture" + (f", the screen's ({sx},{sy})" if slack else "")
    if diff < 6:
        return True, f"the client area sits at {where}, {diff:.1f} of 255 off the screen"
    return False, (f"nowhere in the picture is the window's client area as the screen shows it "
                   f"(closest at {where}, {diff:.1f} of 255 off)")


# ------------------------------------------------------------ the run


def inside(args):
    """In the row's namespace and session bus: everything, then the checks."""
    global _row_deadline
    _row_deadline = args.deadline
    row = ROWS[args.row]
    os.environ.update(HOME=args.folder, XDG_RUNTIME_DIR=args.folder)
    session = Session(args.folder, args.shots)
    signal.signal(signal.SIGTERM, lambda *_: (stop_all(), os._exit(143)))
    started = time.monotonic()
    try:
        session.sound = PipeWire(_started).start(session)
        desk = COMPOSITORS[row.compositor](session)
        desk.start()
        ui = XSession(desk.x_env) if row.platform == "xcb" else desk
        ui.start_input(args.pointer)
        port_file = os.path.join(args.folder, "port")
        service = start([args.service, "--port", str(args.port), "--port-file", port_file],
                        session.env, open(os.path.join(args.shots, "service.log"), "w"))
        until(lambda: os.path.exists(port_file) or service.poll() is not None, TIMEOUT,
              "the fortune service")
        if service.poll() is not None:
            raise Failure(f"the fortune service ended; see {args.shots}/service.log")
        time.sleep(0.5)
        empty = desk.grab()
        log(f"{args.row}: {desk.name} up, program on {row.platform} "
            f"(after {time.monotonic() - started:.1f} s)")
        checks = Checks(args.row, row, session, desk, ui, args)
        checks.run_all(empty)
    except Exception as error:
        log(f"{args.row}: could not set the desktop up: {type(error).__name__}: {error}")
        return 1
    finally:
        stop_all()
    failed = [r for r in checks.results if not r[1]]
    letters = {r[0] for r in checks.results}
    missing = sorted(set("abcdefg") - letters)
    log(f"{args.row}: {len(checks.results) - len(failed)} of {len(checks.results)} checks passed"
        + (f", never reached: {' '.join(missing)}" if missing else "")
        + f", {time.monotonic() - started:.0f} s; pictures and logs in {args.shots}")
    return 0 if not failed and not missing else 1


def missing_tools(row, pointer):
    missing = [tool for tool in COMMON_TOOLS + TOOLS[row.compositor] + TOOLS[row.platform]
               if shutil.which(tool) is None]
    for module, package in PYTHON_MODULES.items():
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
    try:
        import gi

        gi.require_version("Atspi", "2.0")
    except (ImportError, ValueError):
        missing.append("gir1.2-atspi-2.0")
    if row.platform == "wayland" and row.compositor == "sway" and not os.access(
            pointer, os.X_OK):
        missing.append("the virtual pointer (libwayland-dev, wayland-scanner at build time)")
    if os.geteuid() != 0:
        missing.append("root (for the row's network namespace)")
    return missing


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("row", choices=sorted(ROWS))
    parser.add_argument("--program", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pointer", default="")
    parser.add_argument("--shots", required=True)
    parser.add_argument("--folder", help=argparse.SUPPRESS)
    parser.add_argument("--deadline", type=float, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.folder:
        return inside(args)

    row = ROWS[args.row]
    missing = missing_tools(row, args.pointer)
    if missing:
        log(f"SKIPPED: the {args.row} row needs {', '.join(missing)}; "
            "tools/setup-deps.sh installs them.")
        return 77
    # A row whose checks fail runs once more from the start, saying so: two
    # cores shared with the rest of the suite and sanitizers can make a
    # compositor miss a click. What the first run saw is kept beside it.
    first = args.shots + "-first-run"
    shutil.rmtree(first, ignore_errors=True)
    began = time.monotonic()
    for run_number in (1, 2):
        shutil.rmtree(args.shots, ignore_errors=True)
        os.makedirs(args.shots)
        folder = tempfile.mkdtemp(prefix=f"zhiwei-{args.row}-")
        os.chmod(folder, 0o700)
        args.deadline = began + (FIRST_RUN_SECONDS if run_number == 1 else ROW_SECONDS)
        try:
            status = outside(args, row, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        if status in (0, 77, 143) or run_number == 2:
            return status
        if began + ROW_SECONDS - time.monotonic() < RERUN_ROOM:
            log(f"{args.row}: failed, with too little of its {ROW_SECONDS} s left to run again")
            return status
        os.rename(args.shots, first)
        log(f"{args.row}: failed; running the row once more (the first run's pictures and "
            f"logs are in {first})")
    return status


def _die_with_parent():
    """In a child before it runs: it is killed when this script ends, however
    it ends (CTest's timeout kills only what it started)."""
    import ctypes

    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def outside(args, row, folder):
    """Everything the row runs, copied into its folder (where its user can
    read it, wherever the build is), then the row in its namespaces."""
    here = os.path.join(folder, "code", "wayland")
    os.makedirs(here)
    for name in ("wayland_e2e.py", "pictures.py"):
        shutil.copy(os.path.join(HERE, name), here)
    shutil.copytree(os.path.join(os.path.dirname(HERE), "support", "zhiweige"),
                    os.path.join(folder, "code", "support", "zhiweige"),
                    ignore=shutil.ignore_patterns("__pycache__"))
    os.makedirs(os.path.join(folder, "program"))
    os.makedirs(os.path.join(folder, "bin"))
    program = shutil.copy2(args.program, os.path.join(folder, "program"))
    shutil.copy2(os.path.join(os.path.dirname(args.program), "bg.mp3"),
                 os.path.join(folder, "program"))
    service = shutil.copy2(args.service, os.path.join(folder, "bin"))
    pointer = shutil.copy2(args.pointer, os.path.join(folder, "bin")) if args.pointer else ""
    shots = os.path.join(folder, "shots")
    os.makedirs(shots)
    drop = []
    if row.user:
        import pwd

        user = pwd.getpwnam(row.user)
        for root, dirs, files in os.walk(folder):
            for name in [root] + [os.path.join(root, entry) for entry in dirs + files]:
                os.chown(name, user.pw_uid, user.pw_gid)
        drop = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups"]
    # A network of its own (the service on 127.0.0.1 meets no other), and
    # X sockets of its own (Xwayland's display number is free to take).
    command = drop + [
        "dbus-run-session", "--", sys.executable, "-u", os.path.join(here, "wayland_e2e.py"),
        args.row, "--program", program, "--service", service, "--port", str(args.port),
        "--pointer", pointer, "--shots", shots, "--folder", folder,
        "--deadline", repr(args.deadline)]
    script = ("ip link set lo up && mkdir -p -m 1777 /tmp/.X11-unix && "
              "mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix && "
              'exec "$@"')
    # Processes of their own as well: when the namespace's first process
    # ends, the kernel ends every other in it, the compositor, Xwayland,
    # PipeWire, the service and the program included, and that first
    # process ends with unshare, which ends with this script.
    bus_log_path = os.path.join(args.shots, "bus.log")
    ended = []
    with open(bus_log_path, "w") as bus_log:
        process = subprocess.Popen(["unshare", "--net", "--mount", "--pid", "--fork",
                                    "--kill-child", "--mount-proc", "--propagation", "private",
                                    "--", "sh", "-c", script, "sh", *command],
                                   stdout=subprocess.PIPE, stderr=bus_log, text=True,
                                   preexec_fn=_die_with_parent)

        def end(why):
            ended.append(why)
            process.kill()

        signal.signal(signal.SIGTERM, lambda *_: end("terminated"))
        # The run reports by its deadline; one that does not is ended.
        watchdog = threading.Timer(max(0.0, args.deadline + 20 - time.monotonic()),
                                   lambda: end("overdue"))
        watchdog.start()
        for line in process.stdout:
            log(line.rstrip("\n").replace(shots, args.shots))
        status = process.wait()
        watchdog.cancel()
    shutil.copytree(shots, args.shots, dirs_exist_ok=True)
    if "overdue" in ended:
        log(f"{args.row}: ended from outside, 20 s past its deadline without a report")
    if status not in (0, 77) and "terminated" not in ended:
        # What stopped a row before its own report (a namespace refused, a
        # tool that failed to start) is said here, not only in a file.
        with open(bus_log_path, errors="replace") as text:
            said = text.read().splitlines()[-15:]
        if said:
            log(f"{args.row}: exit {status}; the last lines of {bus_log_path}:")
            for line in said:
                log(f"  | {line}")
    return 143 if "terminated" in ended else status


if __name__ == "__main__":
    sys.exit(main())
