"""Wayland compositors (mutter, sway, KWin) started headless in a session of
a run's own, with PipeWire for the sound: pictures of their screens, and
input, windows and the clipboard on native Wayland or through XWayland."""

import glob
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time

from . import WINDOW_TIMEOUT, pictures, sound, x11
from .tools import Failure, Waiter, run, start, started

WIDTH, HEIGHT = 1280, 800


class Session:
    """What every row has: its runtime folder, the session bus it runs in,
    PipeWire with a null sink, and the environment the program gets."""

    def __init__(self, folder, shots, deadline):
        self.folder, self.shots = folder, shots
        self.waiter = Waiter(deadline=deadline)
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
        session.waiter.until(lambda: self._pactl("info"), WINDOW_TIMEOUT, "pipewire-pulse")
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
        self.until = session.waiter.until

    def find_xwayland(self, display=None, exclude=None):
        def probe():
            sockets = sorted(":" + path.rpartition("X")[2]
                             for path in glob.glob("/tmp/.X11-unix/X*"))
            sockets = [name for name in sockets if name != exclude]
            return display or (sockets and sockets[0])

        name = self.until(probe, WINDOW_TIMEOUT, "Xwayland's socket")
        env = dict(self.env, DISPLAY=name)
        env.pop("WAYLAND_DISPLAY", None)
        for pattern in (".mutter-Xwaylandauth.*", "xauth_*"):
            found = glob.glob(os.path.join(self.session.folder, pattern))
            if found:
                env["XAUTHORITY"] = found[0]
        self.until(lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                          env=env, capture_output=True,
                                          check=False).returncode == 0,
                   WINDOW_TIMEOUT, f"the X display {name}")
        self.x_env = env
        x11.use_display(env)

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
        socket = self.until(lambda: glob.glob(os.path.join(self.session.folder,
                                                           "sway-ipc.*.sock")),
                            WINDOW_TIMEOUT, "sway's IPC socket")[0]
        display = self.until(lambda: [os.path.basename(p) for p in glob.glob(
            os.path.join(self.session.folder, "wayland-*")) if not p.endswith(".lock")],
            WINDOW_TIMEOUT, "sway's Wayland socket")[0]
        self.env.update(SWAYSOCK=socket, WAYLAND_DISPLAY=display)
        self.find_xwayland()

    def grab(self):
        return pictures.from_ppm(run("grim", "-t", "ppm", "-", env=self.env))

    # On native Wayland: sway's own windows, input and clipboard.
    def start_input(self, pointer):
        self.pointer = subprocess.Popen([pointer, str(WIDTH), str(HEIGHT)], env=self.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.session.logs, text=True,
                                        start_new_session=True)
        started.append(self.pointer)
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
        run("wtype", "-k", "Shift_L", "-k", name, env=self.env)

    def windows(self):
        tree = json.loads(run("swaymsg", "-t", "get_tree", "--raw", env=self.env))
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

        manager = self.until(remote_desktop, WINDOW_TIMEOUT, "mutter's RemoteDesktop on the bus")
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
        deadline = time.monotonic() + WINDOW_TIMEOUT
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

        self.find_xwayland(self.until(public_display, WINDOW_TIMEOUT, "mutter's Xwayland"))

    def _gst(self, *tail, frames=1):
        return ["gst-launch-1.0", "-q", "pipewiresrc", f"path={self.node}",
                f"num-buffers={frames}", "!", "videoconvert", "!",
                "video/x-raw,format=RGB", *tail]

    def grab(self):
        data = run(*self._gst("!", "fdsink", "fd=1"), env=self.env, timeout=60)
        return pictures.Picture(WIDTH, HEIGHT, data[-WIDTH * HEIGHT * 3:])

    def record(self, seconds, action):
        # Too slow to start one pipeline a picture: one stream, cut up after.
        folder = tempfile.mkdtemp(dir=self.session.folder)
        recorder = subprocess.Popen(
            self._gst("!", "multifilesink", f"location={folder}/%05d.rgb", frames=-1),
            env=self.env, stdout=subprocess.DEVNULL, stderr=self.session.logs)
        # The stream starts with the screen as it is.
        self.until(lambda: glob.glob(os.path.join(folder, "*.rgb")), WINDOW_TIMEOUT,
                   "the screen cast")
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
        return x11.clipboard(kind)


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
        self.until(lambda: subprocess.run(["xdpyinfo"], env=self.outer, capture_output=True,
                                          check=False).returncode == 0,
                   WINDOW_TIMEOUT, "KWin's X server")
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
        return _xwd(self.outer, "-root")


COMPOSITORS = {"mutter": Mutter, "sway": Sway, "kwin": KWin}


class XSession:
    """Windows, input and the clipboard through X, on the compositor's
    Xwayland, for the program on XWayland."""

    pid = None  # the program's, once it runs

    def __init__(self, env):
        self.env = env

    def start_input(self, pointer):
        pass

    def click(self, x, y):
        x11.click_screen(x, y)

    def key(self, name):
        x11.key(name)

    def window(self, title):
        # The program's own: mutter 44 and later draw frames in a client of
        # their own, whose frame window bears the title it frames.
        return next(iter(x11.windows_named(self.pid, title)), None)

    def rect(self, title, size=None, before=None):
        window = self.window(title)
        try:
            return x11.geometry(window) if window else None
        except Failure:  # gone meanwhile
            return None

    def clipboard(self, kind):
        return x11.clipboard(kind)

    def own_pixels(self, title, frame=False):
        """What the X server gives back of the window itself, or of the
        window manager's frame round it (xwd): whether a program can read
        its own window there."""
        window = self.window(title)
        if frame:
            window = x11.parent(window)
        return _xwd(self.env, "-id", str(window))


def _xwd(env, *args):
    """A picture by xwd, of four bytes a pixel, least significant first: what
    Xvfb and Xwayland give."""
    done = subprocess.run(["xwd", "-silent", *args], env=env, capture_output=True, timeout=30,
                          check=False)
    data = done.stdout
    header = struct.unpack(">25I", data[:100]) if len(data) >= 100 else ()
    if header:
        size, width, height, byte_order = header[0], header[4], header[5], header[7]
        bytes_per_line, colours = header[12], header[19]
        pixels = data[size + colours * 12:]
        fits = width * 4 <= bytes_per_line and bytes_per_line * height <= len(pixels)
        if byte_order == 0 and fits:
            return pictures.from_bgrx(width, height, bytes_per_line, pixels)
    error = done.stderr.decode(errors="replace").strip().splitlines()
    raise Failure(f"xwd {' '.join(args)} gave {len(data)} bytes"
                  + (f", header {header[:13]}" if header else "")
                  + (f": {error[0]}" if error else ""))
