"""知微阁 on the desktops people run: the built program under a real Wayland
compositor (mutter, sway, KWin) that the test starts headless, on native
Wayland or through XWayland, with PipeWire for the sound and the offline
fortune service, all in a network namespace and runtime folder of the row's
own. One row a run:

  wayland_e2e.py ROW --program P --service S --pointer VP --shots DIR

The rows are data (ROWS); every row runs the same checks, each of which says
what it saw; pictures of what failed go to DIR. Exits 77 when a tool it
drives is missing. Run as root (the namespaces); sway's rows drop to
nobody, as sway will not run as root. CTest runs the rows: ctest -L wayland.
The program and the compositors are driven through the suites' package,
tests/support/zhiweige, which this copies into the row's folder with itself.
"""

import argparse
import datetime
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
from zhiweige import (BARE_SPOT, CHOOSE_YOUR_SIGN, EXIT_BUTTON, EXIT_TEXT,  # noqa: E402
                      FINDER_BUTTON, FINDER_PROMPT, FINDER_TITLE, FIRST_SIGN, MAIN_TITLE,
                      MESSAGE_TITLE, MUSIC_BUTTON, MUSIC_ON, OK_CAPTION, PICTURE_TITLE,
                      SHARE_ITEMS, SHARE_LABEL, SHARE_MENU_AT, SPLASH_CLICK, SPLASH_SIZE,
                      SPLASH_TITLE, WINDOW_TIMEOUT, copied_text, done_text, oracle, pictures,
                      tools)
from zhiweige.compositors import (COMPOSITORS, HEIGHT, WIDTH, PipeWire,  # noqa: E402
                                  Session, XSession)
from zhiweige.program import Program, Service  # noqa: E402
from zhiweige.tools import Failure  # noqa: E402

# sway refuses to run as root; its rows run as this user, which every Debian
# system has.
UNPRIVILEGED = "nobody"

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

def log(text):
    print(text, flush=True)


def overlap(one, two):
    """The share of rectangle one that lies inside rectangle two."""
    left, top = max(one[0], two[0]), max(one[1], two[1])
    right = min(one[0] + one[2], two[0] + two[2])
    bottom = min(one[1] + one[3], two[1] + two[3])
    if right <= left or bottom <= top:
        return 0.0
    return (right - left) * (bottom - top) / (one[2] * one[3])


# ------------------------------------------------------------ the checks


class Checks:
    def __init__(self, name, row, session, desk, ui, args):
        self.name, self.row, self.session, self.desk, self.ui = name, row, session, desk, ui
        self.args, self.until = args, session.waiter.until
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
        program = self.args.program
        env = self.desk.x_env if self.row.platform == "xcb" else self.desk.env
        self.program = Program(program, env, os.path.join(self.session.shots, "program.log"),
                               self.session.waiter, self.row.platform, "C.UTF-8",
                               os.path.dirname(program))
        self.ui.pid = self.program.pid

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
                return self.until(lambda: self.program.node(title) is None, 5, what)
            except Failure:
                pass
        self.until(lambda: self.program.node(title) is None, WINDOW_TIMEOUT, what)

    def click_main(self, point):
        self.ui.click(self.main[0] + point[0], self.main[1] + point[1])

    def dialog_rect(self, title, before):
        node = self.program.node(title)
        size = None
        if node is not None:
            from gi.repository import Atspi

            extents = node._accessible.get_extents(Atspi.CoordType.SCREEN)
            size = (extents.width, extents.height)
        return self.until(lambda: self.ui.rect(title, size, before), 10, f'where "{title}" is')

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
            self.ui.click(splash[0] + SPLASH_CLICK[0], splash[1] + SPLASH_CLICK[1])
            try:
                self.until(lambda: self.program.node(MAIN_TITLE), 10, "the main window")
                break
            except Failure:
                if clicks == 3:
                    raise
        self.program.wait_shows(CHOOSE_YOUR_SIGN, "the main window and its version check",
                                within=True)
        self.until(lambda: self.program.node(SPLASH_TITLE) is None, WINDOW_TIMEOUT,
                   "the splash to go")
        time.sleep(0.5)
        self.main = self.dialog_rect(MAIN_TITLE, empty)
        again = f" (after {clicks} clicks on the splash)" if clicks > 1 else ""
        self.record("b", True, f"the main window opened at {self.main}{again}")
        self.evidence(self.desk.grab(), "main-window")

    def music(self):
        """g: the tune is heard on the null sink, and no more after 关闭音乐."""
        pid = self.program.pid
        try:
            self.until(lambda: self.session.sound.plays(pid), WINDOW_TIMEOUT,
                       "the program's stream to play")
            loud = self.session.sound.loudest_sample(1.5)
            self.click_main(MUSIC_BUTTON)
            self.program.wait_shows(MUSIC_ON, "the music button to read 打开音乐", within=True)
            self.until(lambda: not self.session.sound.plays(pid), WINDOW_TIMEOUT,
                       "the stream to stop")
            quiet = self.session.sound.loudest_sample(0.5)
        except Failure as error:
            self.record("g", False, str(error))
            return
        self.record("g", loud >= 1000 and quiet == 0,
                    f"loudest sample {loud} while playing, {quiet} after 关闭音乐")

    def fortune(self):
        """c: one sign fills the panel; its report reaches the clipboard."""
        sign, mode = oracle.SIGNS[0][0], oracle.TODAY
        self.click_main(FIRST_SIGN)
        self.program.wait_shows(done_text(sign, mode), f"{sign}'s fortune", within=True)
        before = self.desk.grab()
        self.choose_share_item(0)
        self.program.wait_shows(copied_text(sign, mode), "the copy message", title=MESSAGE_TITLE,
                                within=True)
        self.check_placed(MESSAGE_TITLE, before, "the copy message box")
        report = self.ui.clipboard("text/plain;charset=utf-8") or self.ui.clipboard("UTF8_STRING")
        report = report.decode("utf-8") if report else None
        today = datetime.date.today()
        page = oracle.fetch_page(self.args.socket, oracle.page_path(sign, mode, today))
        expected = oracle.expected_report(sign, mode, page, today, self.args.program)
        # A screen reader hears the day's description, not only its label's name.
        description = oracle.cut_page(page)[2]
        if report == expected and not self.program.shows(description, within=True):
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
        x, y = SHARE_ITEMS[item]
        self.ui.click(self.main[0] + SHARE_MENU_AT[0] + x, self.main[1] + SHARE_MENU_AT[1] + y)

    def capture(self):
        """d: the window picture holds the window's client pixels."""
        screen = self.desk.grab()
        self.choose_share_item(1)
        started = time.monotonic()
        self.program.wait_shows(OK_CAPTION, "the picture window", title=PICTURE_TITLE,
                                within=True)
        took = time.monotonic() - started
        self.check_placed(PICTURE_TITLE, screen, "the picture window")
        data = self.until(lambda: self.ui.clipboard("image/png"), 10,
                          "a picture on the clipboard")
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
        self.program.wait_shows(FINDER_PROMPT, "the finder's prompt", title=MESSAGE_TITLE,
                                within=True)
        self.check_placed(MESSAGE_TITLE, before, "the finder's prompt")
        before = self.desk.grab()
        self.dismiss(MESSAGE_TITLE, "Return", "the finder's prompt to close")
        self.until(lambda: self.program.node(FINDER_TITLE), WINDOW_TIMEOUT, "the finder dialog")
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
        # Its question, the last line.
        self.program.wait_shows(EXIT_TEXT.splitlines()[-1], "the exit prompt",
                                title=MESSAGE_TITLE, within=True)
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
            if time.monotonic() > self.session.waiter.deadline:
                for late, late_name, _ in steps[number:]:
                    self.record(late, False, f"{late_name}: not reached, the row's time ran out")
                break
            try:
                step()
            except Exception as error:
                self.record(letter, False, f"{type(error).__name__}: {error}; screen: "
                            f"{self.shot('failed-' + name)}")
                if self.main is None or not self.program.alive():
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
    row = ROWS[args.row]
    # Scratch folders (tempfile's) too go with the row's folder.
    os.environ.update(HOME=args.folder, XDG_RUNTIME_DIR=args.folder, TMPDIR=args.folder)
    session = Session(args.folder, args.shots, args.deadline)
    signal.signal(signal.SIGTERM, lambda *_: (tools.stop_all(), os._exit(143)))
    started = time.monotonic()
    try:
        session.sound = PipeWire(tools.started).start(session)
        desk = COMPOSITORS[row.compositor](session)
        desk.start()
        ui = XSession(desk.x_env) if row.platform == "xcb" else desk
        ui.start_input(args.pointer)
        args.socket = Service(args.service, os.path.join(args.shots, "service.log"),
                              env=session.env).start().socket
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
        tools.stop_all()
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
    # The main window's library, and where the program looks for it, from its
    # own folder.
    parser.add_argument("--library", default="")
    parser.add_argument("--library-dir", default="")
    parser.add_argument("--service", required=True)
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
    shutil.copy(os.path.join(HERE, "wayland_e2e.py"), here)
    shutil.copytree(os.path.join(os.path.dirname(HERE), "support", "zhiweige"),
                    os.path.join(folder, "code", "support", "zhiweige"),
                    ignore=shutil.ignore_patterns("__pycache__"))
    os.makedirs(os.path.join(folder, "program"))
    os.makedirs(os.path.join(folder, "bin"))
    program = shutil.copy2(args.program, os.path.join(folder, "program"))
    library = os.path.normpath(os.path.join(folder, "program", args.library_dir))
    os.makedirs(library)
    shutil.copy2(args.library, library)
    shutil.copy2(os.path.join(os.path.dirname(args.program), "bg.mp3"),
                 os.path.join(folder, "program"))
    shutil.copytree(os.path.join(os.path.dirname(args.program), "forum"),
                    os.path.join(folder, "program", "forum"))
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
    # A network of its own (nothing of the row reaches the machine's), and
    # X sockets of its own (Xwayland's display number is free to take).
    command = drop + [
        "dbus-run-session", "--", sys.executable, "-u", os.path.join(here, "wayland_e2e.py"),
        args.row, "--program", program, "--service", service,
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
