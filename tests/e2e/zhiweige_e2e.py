"""知微阁 end to end: the built program on a real X display with a window
manager and a compositor, against the offline fortune service, driven only
from outside with the mouse and the keyboard. What it shows is read from the
accessibility tree, the clipboard and the screen.

Run by run-e2e.sh, which starts the display and the session bus and passes
the paths in the environment:
  ZHIWEI_E2E_PROGRAM  the program built for the service's port
  ZHIWEI_E2E_SERVICE  zhiwei-fortune-service
  ZHIWEI_E2E_PORT     the port the program was built for
  ZHIWEI_E2E_SHOTS    where screenshots and logs go
"""

import datetime
import locale
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import desktop
import fortune_oracle as oracle
import sound
from accessible import AccessibleProgram, Role

PROGRAM = os.environ["ZHIWEI_E2E_PROGRAM"]
SERVICE = os.environ["ZHIWEI_E2E_SERVICE"]
PORT = int(os.environ["ZHIWEI_E2E_PORT"])
SHOTS = os.environ["ZHIWEI_E2E_SHOTS"]
LOGS = os.path.join(SHOTS, "logs")
TUNE_SCRIPT = os.path.join(
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
    "tools",
    "make-tune.sh",
)

FORUM = f"http://127.0.0.1:{PORT}/bbs/"
REPORT_FORUM = f"HTTP://127.0.0.1:{PORT}/bbs/"

MAIN_TITLE = "澄川知微阁 V2"
SPLASH_TITLE = "Form3"
MESSAGE_TITLE = "Kw系列软件"
NEWER_TITLE = "暖暖提示"
FINDER_TITLE = "星座判断"
PICTURE_TITLE = "截图窗口"

CHOOSE_YOUR_SIGN = "请选择您的星座查看运势.."
NO_SIGN_ON_SHOW = "请先选择您要查询的星座,再进行复制!"
FINDER_PROMPT = "本辅助可帮助您在不知道星座的情况下进行星座判断!"
NETWORK_FAILED = "检测网络失败!请您稍后再试"
EXIT_TEXT = (
    "感谢您对阿澈、对Kw系列软件、游戏的支持!\n \n"
    "是否退出并到论坛可以下载更多阿澈的原创免费软件?"
)

OPAQUE = 0xFFFFFFFF

# Where things are, in pixels of the main window's client area.
SIGN_FRAME = (16, 152)
SIGN_COLUMNS = (16, 104, 192)
SIGN_ROWS = (40, 96, 152, 208)
DAY_MODE_BUTTON = (224 + 36, 152 + 8)
FORTUNE_FRAME = (312, 16)
SHARE_LABEL = (FORTUNE_FRAME[0] + 216 + 12, FORTUNE_FRAME[1] + 168 + 6)
SHARE_MENU_AT = (501, 200)
TOOL_FRAME = (312, 352)
FINDER_BUTTON = (TOOL_FRAME[0] + 8 + 36, TOOL_FRAME[1] + 16 + 20)
MUSIC_BUTTON = (TOOL_FRAME[0] + 88 + 36, TOOL_FRAME[1] + 16 + 20)
EXIT_BUTTON = (TOOL_FRAME[0] + 336 + 36, TOOL_FRAME[1] + 16 + 20)
# In the finder dialog and the screenshot window.
MONTH_COMBO = (16 + 112 + 28, 24 + 53 + 10)
DAY_COMBO = (16 + 200 + 24, 24 + 53 + 10)
FINDER_OK = (16 + 144, 152 + 24)
PICTURE_OK = (24 + 216, 400 + 20)

# Generous: a busy two-core machine may run other tests meanwhile.
WINDOW_TIMEOUT = 30
FETCH_TIMEOUT = 30


# Every process the suite starts, so that a TERM (a timeout) still ends them.
_started = []


def _stop_everything(signum, frame):
    for process in _started:
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                process.kill()
    os._exit(128 + signum)


def sign_button(index):
    return (
        SIGN_FRAME[0] + SIGN_COLUMNS[index % 3] + 36,
        SIGN_FRAME[1] + SIGN_ROWS[index // 3] + 16,
    )


def done_text(sign, mode):
    return f"{sign}{mode}获取完毕..."


def shows(window, text):
    """True when a control of the window shows the text, as its name or, for
    the status panels, as its description."""
    return window is not None and any(
        text in (node.name, node.description) for node in window.walk() if node.showing
    )


class Service:
    """The offline fortune site on the port the program was built for."""

    def __init__(self, notice="V2", charset="utf-8"):
        self.notice = notice
        self.charset = charset
        self.process = None

    def start(self):
        folder = tempfile.mkdtemp(prefix="zhiwei-e2e-service-")
        self._folder = folder
        port_file = os.path.join(folder, "port")
        self._log = open(os.path.join(LOGS, "service.log"), "a")
        self._log.write(f"--- notice {self.notice!r}, {self.charset} pages\n")
        self._log.flush()
        self.process = subprocess.Popen(
            [SERVICE, "--port", str(PORT), "--notice", self.notice, "--charset", self.charset]
            + ["--port-file", port_file],
            stdout=self._log,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        _started.append(self.process)
        deadline = time.monotonic() + WINDOW_TIMEOUT
        while not os.path.exists(port_file):
            if self.process.poll() is not None:
                raise AssertionError(
                    f"the fortune service could not start on port {PORT} (exit "
                    f"{self.process.returncode}); see {LOGS}/service.log. Is another "
                    "program holding the port?"
                )
            if time.monotonic() > deadline:
                raise AssertionError("the fortune service did not start listening")
            time.sleep(0.05)
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        if getattr(self, "_log", None):
            self._log.close()
        shutil.rmtree(getattr(self, "_folder", ""), ignore_errors=True)


class Program:
    """One run of the program, from the splash to its end."""

    runs = 0

    def __init__(self, waiter, program=PROGRAM, locale="C", extra_env=None):
        Program.runs += 1
        self.waiter = waiter
        self.folder = tempfile.mkdtemp(prefix="zhiwei-e2e-run-")
        self.browsed = os.path.join(self.folder, "browsed.txt")
        browser = os.path.join(self.folder, "browser.sh")
        with open(browser, "w") as script:
            script.write(f'#!/bin/sh\nprintf "%s\\n" "$*" >> "{self.browsed}"\n')
        os.chmod(browser, 0o755)

        env = {
            name: value
            for name, value in os.environ.items()
            if not name.startswith(("LC_", "XDG_CURRENT", "KDE_", "GNOME_", "QT_"))
            and name not in ("LANG", "LANGUAGE", "DESKTOP_SESSION", "BROWSER")
        }
        env.update(
            LC_ALL=locale,
            LANG=locale,
            QT_QPA_PLATFORM="xcb",
            # Read by Qt: expose the widgets on the accessibility bus.
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            # No desktop is detected here, so xdg-open hands web addresses to this.
            BROWSER=browser,
        )
        env.update(extra_env or {})
        self.log_path = os.path.join(LOGS, f"program-{Program.runs}.log")
        self._log = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [program],
            cwd=self.folder,
            env=env,
            stdout=self._log,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        _started.append(self.process)
        self.pid = self.process.pid
        self.accessible = AccessibleProgram(self.pid)
        self.main = None

    # ------------------------------------------------------------ windows

    def alive(self):
        return self.process.poll() is None

    def window(self, title, what=None, timeout=WINDOW_TIMEOUT):
        def probe():
            if not self.alive():
                raise AssertionError(
                    f"the program ended (exit {self.process.returncode}) while waiting "
                    f"for {what or title}; log: {self.log_path}"
                )
            found = desktop.windows_named(self.pid, title)
            return found[0] if found else None

        return self.waiter.until(probe, timeout, what or f'the window "{title}"')

    def gone(self, title, what=None):
        self.waiter.until(
            lambda: not desktop.windows_named(self.pid, title)
            and self.accessible.window(title) is None,
            WINDOW_TIMEOUT,
            what or f'the window "{title}" to close',
        )

    def open_main_window(self):
        """From start to the main window, past the splash with a click."""
        splash = self.window(SPLASH_TITLE, "the splash window")
        desktop.click(splash, 300, 200)
        self.main = self.window(MAIN_TITLE, "the main window after a click on the splash")
        self.wait_until_shows(CHOOSE_YOUR_SIGN, "the version check to pass")
        return self.main

    def main_node(self):
        return self.accessible.window(MAIN_TITLE)

    def wait_until_shows(self, text, what, timeout=WINDOW_TIMEOUT):
        self.waiter.until(
            lambda: shows(self.main_node(), text),
            timeout,
            f'{what}: the main window showing "{text}"',
        )

    def click(self, point):
        desktop.click(self.main, *point)

    # ----------------------------------------------------------- messages

    def message(self, title, text):
        """Waits for a message box with the text and for it to have the focus;
        returns its window."""
        self.waiter.until(
            lambda: (lambda box: box is not None and text in box.texts())(
                self.accessible.window(title)
            ),
            WINDOW_TIMEOUT,
            f'a message box "{title}" saying "{text}"',
        )
        box = self.window(title)
        self.waiter.until(
            lambda: desktop.active_window() == box,
            WINDOW_TIMEOUT,
            f'the message box "{title}" to take the keyboard focus',
        )
        return box

    def answer(self, title, text, *keys):
        self.message(title, text)
        desktop.key(*keys)

    def answer_and_wait_gone(self, title, text, *keys):
        self.answer(title, text, *keys)
        self.gone(title, f'the message box "{title}" to close')

    # -------------------------------------------------------------- share

    def open_share_menu(self):
        """Clicks the share label; returns the menu's window."""
        self.click(SHARE_LABEL)
        main_x, main_y, _, _ = desktop.geometry(self.main)

        def probe():
            for window in desktop.visible_windows(self.pid):
                if window != self.main and desktop.is_override_redirect(window):
                    return window
            return None

        menu = self.waiter.until(probe, WINDOW_TIMEOUT, "the share menu to open")
        x, y, _, _ = desktop.geometry(menu)
        place = (x - main_x, y - main_y)
        if place != SHARE_MENU_AT:
            raise AssertionError(f"the share menu opened at {place}, not at {SHARE_MENU_AT}")
        return menu

    def choose_from_share_menu(self, menu, item):
        # Two items with a separator between them: one in the top quarter,
        # one in the bottom quarter.
        x, y, width, height = desktop.geometry(menu)
        desktop.click_screen(x + width // 2, y + (height // 4 if item == 0 else 3 * height // 4))

    def copy_report(self, expected_message):
        menu = self.open_share_menu()
        self.choose_from_share_menu(menu, 0)
        self.message(MESSAGE_TITLE, expected_message)
        # Read while the program still owns the clipboard.
        report = desktop.clipboard_text()
        desktop.key("Return")
        self.gone(MESSAGE_TITLE, "the copy message to close")
        return report

    def query(self, index, mode):
        sign = oracle.SIGNS[index][0]
        self.click(sign_button(index))
        self.wait_until_shows(done_text(sign, mode), f"{sign} ({mode})", FETCH_TIMEOUT)

    def browsed_addresses(self):
        if not os.path.exists(self.browsed):
            return []
        with open(self.browsed) as record:
            return record.read().split()

    # ---------------------------------------------------------------- end

    def wait_for_exit(self, what):
        def probe():
            return self.process.poll() is not None

        self.waiter.until(probe, WINDOW_TIMEOUT, f"the program to end ({what})")
        return self.process.returncode

    def stop(self):
        if self.alive():
            try:
                os.killpg(self.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.pid, signal.SIGKILL)
                self.process.wait()
        else:
            # Anything it started (xdg-open and the browser script) ends too.
            try:
                os.killpg(self.pid, signal.SIGTERM)
            except (ProcessLookupError, PermissionError):
                pass
        self._log.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def save_screenshot(name, window=None):
    """The whole screen as name.png; with the rectangle of the window's frame
    beside it (name.geometry) so that pictures can be cut from it later."""
    path = os.path.join(SHOTS, name + ".png")
    desktop.screenshot(path)
    if window is not None:
        x, y, width, height = desktop.frame_rectangle(window)
        with open(os.path.join(SHOTS, name + ".geometry"), "w") as out:
            out.write(f"{width}x{height}+{x}+{y}\n")
    return path


class ProgramTestCase(unittest.TestCase):
    notice = "V2"
    charset = "utf-8"

    @classmethod
    def setUpClass(cls):
        cls.service = Service(cls.notice, cls.charset).start() if cls.notice is not None else None

    @classmethod
    def tearDownClass(cls):
        if cls.service:
            cls.service.stop()

    def setUp(self):
        self.waiter = desktop.Waiter(SHOTS)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.stop()

    def start_program(self, **options):
        program = Program(self.waiter, **options)
        self.programs.append(program)
        return program

    def assertReportIs(self, report, sign, mode, date_text=None):
        today = datetime.date.today()
        page = oracle.fetch_page(PORT, oracle.page_path(sign, mode, today))
        expected = oracle.expected_report(sign, mode, page, today, REPORT_FORUM, date_text)
        self.assertIsNotNone(report, "the clipboard holds no text")
        self.assertEqual(report.split("\r\n"), expected.split("\r\n"))
        self.assertEqual(report, expected, "the lines are joined with CR LF")


class StartTest(ProgramTestCase):
    def test_splash_fades_in_and_a_click_opens_the_centred_main_window(self):
        program = self.start_program()
        splash = program.window(SPLASH_TITLE, "the splash window")
        watch = desktop.OpacityWatch(splash)
        try:
            values = self.waiter.until(
                lambda: (lambda seen: seen if seen and seen[-1] == OPAQUE else None)(
                    watch.poll()
                ),
                WINDOW_TIMEOUT,
                "the splash to fade in to full opacity",
            )
        finally:
            watch.stop()
        self.assertEqual(values, sorted(values), "the opacity only ever rises")
        self.assertGreaterEqual(
            len(set(v for v in values if v < OPAQUE)), 2, f"a fade, not a jump: {values}"
        )
        self.assertEqual(desktop.geometry(splash)[2:], (599, 392))
        self.assertIn(desktop.frame_extents(splash), (None, (0, 0, 0, 0)), "no frame")
        save_screenshot("splash", splash)

        watch = desktop.OpacityWatch(splash)
        try:
            desktop.click(splash, 300, 200)
            main = program.window(MAIN_TITLE, "the main window after a click on the splash")
            program.main = main
            program.gone(SPLASH_TITLE, "the splash to go")
            values = watch.poll()
        finally:
            watch.stop()
        self.assertEqual(values, sorted(values, reverse=True), "the opacity only ever falls")
        self.assertEqual(values[-1:], [0], f"it fades out to nothing before it goes: {values}")
        x, y, width, height = desktop.geometry(main)
        self.assertEqual((width, height), (747, 484))
        screen_width, screen_height = desktop.screen_size()
        left, right, top, bottom = desktop.frame_extents(main) or (0, 0, 0, 0)
        self.assertLessEqual(abs(x + width // 2 - screen_width // 2), max(left, right) + 1)
        self.assertLessEqual(abs(y + height // 2 - screen_height // 2), max(top, bottom) + 1)

    def test_copy_before_any_fortune_is_refused(self):
        program = self.start_program()
        program.open_main_window()
        clipboard_before = desktop.clipboard_text()
        menu = program.open_share_menu()
        program.choose_from_share_menu(menu, 0)
        program.answer_and_wait_gone(MESSAGE_TITLE, NO_SIGN_ON_SHOW, "Return")
        self.assertEqual(desktop.clipboard_text(), clipboard_before, "nothing was copied")
        self.assertTrue(program.alive())


class VersionCheckTest(ProgramTestCase):
    notice = None  # each case serves its own notice

    # notice served (None: no service at all), box title and text (None: no box),
    # forum opened after the box
    CASES = [
        ("V2", None, None, False),
        ("V3", NEWER_TITLE, "发现最新版本![V3]确定后打开官方论坛!", True),
        ("", MESSAGE_TITLE, NETWORK_FAILED, False),
        (None, MESSAGE_TITLE, NETWORK_FAILED, False),
    ]

    def test_notice_decides_what_happens_after_start(self):
        for notice, title, text, opens_forum in self.CASES:
            with self.subTest(notice=notice):
                service = Service(notice).start() if notice is not None else None
                try:
                    self.check_notice(notice, title, text, opens_forum)
                finally:
                    if service:
                        service.stop()

    def check_notice(self, notice, title, text, opens_forum):
        program = self.start_program()
        splash = program.window(SPLASH_TITLE, "the splash window")
        desktop.click(splash, 300, 200)
        program.main = program.window(MAIN_TITLE, "the main window")
        if title is None:
            program.wait_until_shows(CHOOSE_YOUR_SIGN, "the version check to pass")
            self.assertTrue(program.alive())
            self.assertEqual(desktop.windows_named(program.pid, MAIN_TITLE), [program.main])
            self.assertEqual(
                [node.name for node in program.accessible.windows()], [MAIN_TITLE], "no box"
            )
            return
        program.message(title, text)
        save_screenshot("version-newer" if opens_forum else "version-network-failed", program.main)
        desktop.key("Return")
        # No exit prompt in between: a prompt would wait for an answer.
        self.assertEqual(program.wait_for_exit(f"after the box for notice {notice!r}"), 0)
        if opens_forum:
            self.waiter.until(
                lambda: program.browsed_addresses(), WINDOW_TIMEOUT, "the browser to be asked"
            )
            self.assertEqual(program.browsed_addresses(), [FORUM])
        else:
            self.assertEqual(program.browsed_addresses(), [])


class EverySignTest(ProgramTestCase):
    def test_every_sign_in_both_day_modes_copies_its_report(self):
        program = self.start_program()
        main = program.open_main_window()
        save_screenshot("main-window", main)
        for mode in (oracle.TODAY, oracle.TOMORROW):
            if mode == oracle.TOMORROW:
                program.click(DAY_MODE_BUTTON)
                program.wait_until_shows("已切换明日星座运势查询..", "the day-mode switch")
                self.assertIsNotNone(
                    program.main_node().find(Role.PUSH_BUTTON, "今日运势"),
                    "the day-mode button offers today now",
                )
            for index, (sign, _) in enumerate(oracle.SIGNS):
                checked = False
                with self.subTest(sign=sign, mode=mode):
                    program.query(index, mode)
                    if (mode, sign) in ((oracle.TODAY, "白羊座"), (oracle.TOMORROW, "天蝎座")):
                        name = "fortune-today" if mode == oracle.TODAY else "fortune-tomorrow"
                        save_screenshot(name, main)
                    report = program.copy_report(f"{sign}{mode}已复制!")
                    self.assertReportIs(report, sign, mode)
                    checked = True
                if not checked:
                    # The window may be left in any state (a box still open):
                    # the signs after this one would only time out in turn.
                    return


class FortuneTest(ProgramTestCase):
    # month, day, the sign, what the finder says
    BIRTHDAYS = [
        (11, 23, "射手座", "您的生日为:11月23日,星座为射手座!"),
        (7, 23, "狮子座", "您的生日为:7月23日,的星座为狮子座!"),
        (1, 19, "摩羯座", "您的生日为:1月19日,星座为摩羯座!"),
    ]

    def test_sign_finder_from_a_birthday_shows_that_signs_fortune(self):
        program = self.start_program()
        program.open_main_window()
        for number, (month, day, sign, message) in enumerate(self.BIRTHDAYS):
            checked = False
            with self.subTest(birthday=f"{month}/{day}"):
                program.click(FINDER_BUTTON)
                program.answer(MESSAGE_TITLE, FINDER_PROMPT, "Return")
                finder = program.window(FINDER_TITLE, "the finder dialog")
                self.choose(program, finder, MONTH_COMBO, month)
                self.choose(program, finder, DAY_COMBO, day)
                if number == 0:
                    save_screenshot("finder", finder)
                desktop.click(finder, *FINDER_OK)
                program.answer(MESSAGE_TITLE, message, "Return")
                program.gone(FINDER_TITLE, "the finder dialog to close")
                program.wait_until_shows(done_text(sign, oracle.TODAY), f"{sign}'s fortune")
                report = program.copy_report(f"{sign}{oracle.TODAY}已复制!")
                self.assertReportIs(report, sign, oracle.TODAY)
                checked = True
            if not checked:
                return  # as above: the dialog may still be open

    def choose(self, program, dialog, combo, number):
        """Opens a combo box of 1, 2, 3... with a click and walks down the
        list to the number with the keyboard."""
        before = set(desktop.visible_windows(program.pid))
        desktop.click(dialog, *combo)
        self.waiter.until(
            lambda: set(desktop.visible_windows(program.pid)) - before,
            WINDOW_TIMEOUT,
            "the combo box list to open",
        )
        desktop.key("Home", *["Down"] * (number - 1), "Return")
        self.waiter.until(
            lambda: set(desktop.visible_windows(program.pid)) <= before,
            WINDOW_TIMEOUT,
            "the combo box list to close",
        )
        self.waiter.until(
            lambda: (lambda node: node is not None and node.find(Role.COMBO_BOX, str(number)))(
                program.accessible.window(FINDER_TITLE)
            ),
            WINDOW_TIMEOUT,
            f'the combo box to show "{number}"',
        )

    def test_screenshot_holds_the_whole_window_and_ok_closes_it(self):
        program = self.start_program()
        main = program.open_main_window()
        program.query(0, oracle.TODAY)
        frame = desktop.frame_rectangle(main)
        before = os.path.join(LOGS, "window-before-capture.png")
        desktop.screenshot(before, frame)

        menu = program.open_share_menu()
        save_screenshot("share-menu", main)
        menu_x, menu_y, menu_width, menu_height = desktop.geometry(menu)
        program.choose_from_share_menu(menu, 1)
        shot_window = program.window(PICTURE_TITLE, "the screenshot window")
        self.assertEqual(desktop.geometry(shot_window)[2:], (482, 460))
        self.assertTrue(
            shows(program.accessible.window(PICTURE_TITLE), "确定"), "its button reads 确定"
        )

        picture = os.path.join(LOGS, "clipboard-picture.png")
        self.assertTrue(desktop.clipboard_png(picture), "a PNG picture on the clipboard")
        width, height = desktop.png_size(picture)
        self.assertEqual((width, height), frame[2:], "the window with its frame")
        self.assertGreater(width, 747)
        self.assertGreater(height, 484)
        difference = desktop.picture_difference(before, picture)
        self.assertLess(difference, 0.05, "the picture is what the screen showed")
        # Where the menu was, the picture is exactly the window before it opened.
        left, top = max(menu_x, frame[0]), max(menu_y, frame[1])
        right = min(menu_x + menu_width, frame[0] + width)
        bottom = min(menu_y + menu_height, frame[1] + height)
        under_menu = (left - frame[0], top - frame[1], right - left, bottom - top)
        self.assertEqual(
            desktop.differing_pixels(before, picture, under_menu), 0, "nothing of the menu"
        )
        save_screenshot("screenshot-window", shot_window)

        desktop.click(shot_window, *PICTURE_OK)
        program.gone(PICTURE_TITLE, "the screenshot window to close")
        self.assertTrue(program.alive())
        self.assertEqual(desktop.windows_named(program.pid, MAIN_TITLE), [main])


class GbkPagesTest(ProgramTestCase):
    """The site's pages in GBK, as the real site sends them."""

    charset = "gbk"

    def test_fortune_from_gbk_pages_reads_as_from_utf8_ones(self):
        program = self.start_program()
        program.open_main_window()
        for index, mode in ((10, oracle.TODAY), (11, oracle.TOMORROW)):
            sign = oracle.SIGNS[index][0]
            with self.subTest(sign=sign, mode=mode):
                if mode == oracle.TOMORROW:
                    program.click(DAY_MODE_BUTTON)
                    program.wait_until_shows("已切换明日星座运势查询..", "the day-mode switch")
                program.query(index, mode)
                report = program.copy_report(f"{sign}{mode}已复制!")
                self.assertReportIs(report, sign, mode)


class ShellTest(ProgramTestCase):
    def music_caption(self, program):
        node = program.main_node()
        for caption in ("关闭音乐", "打开音乐"):
            if node is not None and node.find(Role.PUSH_BUTTON, caption):
                return caption
        return None

    def test_music_button_switches_between_its_two_captions(self):
        program = self.start_program()
        program.open_main_window()
        self.assertEqual(self.music_caption(program), "关闭音乐")
        for expected in ("打开音乐", "关闭音乐", "打开音乐"):
            program.click(MUSIC_BUTTON)
            self.waiter.until(
                lambda: self.music_caption(program) == expected,
                WINDOW_TIMEOUT,
                f'the music button to read "{expected}"',
            )

    def test_exit_prompt_cancel_keeps_the_window_and_what_it_shows(self):
        program = self.start_program()
        main = program.open_main_window()
        program.click(DAY_MODE_BUTTON)
        program.query(4, oracle.TOMORROW)
        program.click(EXIT_BUTTON)
        program.message(MESSAGE_TITLE, EXIT_TEXT)
        save_screenshot("exit-prompt", main)
        desktop.key("Escape")
        program.gone(MESSAGE_TITLE, "the exit prompt to close")
        self.assertTrue(program.alive())
        self.assertEqual(desktop.windows_named(program.pid, MAIN_TITLE), [main])
        self.assertTrue(shows(program.main_node(), done_text("狮子座", oracle.TOMORROW)))
        self.assertIsNotNone(program.main_node().find(Role.PUSH_BUTTON, "今日运势"))
        report = program.copy_report(f"狮子座{oracle.TOMORROW}已复制!")
        self.assertReportIs(report, "狮子座", oracle.TOMORROW)
        self.assertEqual(program.browsed_addresses(), [])

    # key pressed in the exit prompt, whether the forum opens
    EXITS = [("n", False), ("Return", True)]

    def test_exit_prompt_no_and_yes_end_the_program(self):
        for key, opens_forum in self.EXITS:
            with self.subTest(key=key):
                program = self.start_program()
                program.open_main_window()
                program.click(EXIT_BUTTON)
                program.answer(MESSAGE_TITLE, EXIT_TEXT, key)
                self.assertEqual(program.wait_for_exit(f"after {key} in the exit prompt"), 0)
                if opens_forum:
                    self.waiter.until(
                        lambda: program.browsed_addresses(),
                        WINDOW_TIMEOUT,
                        "the browser to be asked for the forum",
                    )
                    self.assertEqual(program.browsed_addresses(), [FORUM])
                else:
                    self.assertEqual(program.browsed_addresses(), [])


class MusicTest(ProgramTestCase):
    """The music as a person with a sound server hears it: the program copied
    into a folder of its own with a short tune as its bg.mp3, playing into a
    PulseAudio server of the suite's own."""

    TUNE_SECONDS = 3
    # Loud against the silence of a null sink, where nothing plays as 0.
    HEARD = 1000
    # Seconds of the sink's output to look at: to hear the tune, longer than
    # the backend's pause between two rounds (a sixth of a second here, more
    # under the sanitizers); for silence, a shorter look will do.
    HEARING = 1.5
    SILENCE = 0.5

    def setUp(self):
        super().setUp()
        missing = sound.missing_tools()
        if missing:
            self.skipTest(f"needs {' '.join(missing)}; tools/setup-deps.sh installs them")
        self.server = sound.SoundServer(_started).start(WINDOW_TIMEOUT)
        self.addCleanup(self.server.stop)
        folder = tempfile.mkdtemp(prefix="zhiwei-e2e-tune-")
        self.addCleanup(shutil.rmtree, folder, True)
        self.program_copy = os.path.join(folder, os.path.basename(PROGRAM))
        shutil.copy2(PROGRAM, self.program_copy)
        desktop.run(
            "bash", TUNE_SCRIPT, "--seconds", str(self.TUNE_SECONDS),
            os.path.join(folder, "bg.mp3"), timeout=120,
        )

    def music_button_reads(self, program, caption):
        node = program.main_node()
        return node is not None and node.find(Role.PUSH_BUTTON, caption) is not None

    def test_tune_is_heard_round_and_round_until_switched_off(self):
        server = self.server
        program = self.start_program(
            program=self.program_copy, extra_env=server.client_environment()
        )
        program.open_main_window()
        self.waiter.until(
            lambda: server.plays(program.pid), WINDOW_TIMEOUT, "the program's stream to play"
        )
        started = time.monotonic()
        self.assertGreaterEqual(server.loudest_sample(self.HEARING), self.HEARD, "heard at once")

        # Round and round: past two lengths of the tune it still plays. (Each
        # round plays on a stream of its own, so between two rounds there may
        # be none for an instant.)
        self.waiter.until(
            lambda: time.monotonic() - started > 2 * self.TUNE_SECONDS + 1,
            2 * self.TUNE_SECONDS + WINDOW_TIMEOUT,
            "two lengths of the tune to pass",
        )
        self.waiter.until(
            lambda: server.plays(program.pid), WINDOW_TIMEOUT, "the stream to play on"
        )
        self.assertGreaterEqual(
            server.loudest_sample(self.HEARING), self.HEARD, "heard in its third round"
        )

        program.click(MUSIC_BUTTON)  # 关闭音乐
        self.waiter.until(
            lambda: self.music_button_reads(program, "打开音乐"), WINDOW_TIMEOUT, "打开音乐"
        )
        self.waiter.until(
            lambda: not server.plays(program.pid), WINDOW_TIMEOUT, "the stream to stop"
        )
        self.assertEqual(server.loudest_sample(self.SILENCE), 0, "silence after 关闭音乐")

        program.click(MUSIC_BUTTON)  # 打开音乐
        self.waiter.until(
            lambda: server.plays(program.pid), WINDOW_TIMEOUT, "the stream to play again"
        )
        self.assertGreaterEqual(
            server.loudest_sample(self.HEARING), self.HEARD, "heard again after 打开音乐"
        )


class ChineseLocaleTest(ProgramTestCase):
    """The program as a person in a Chinese locale runs it."""

    LOCALE = "zh_CN.UTF-8"

    def test_report_carries_the_date_in_the_systems_short_form(self):
        # The system's own short date, as glibc writes it for the locale.
        try:
            locale.setlocale(locale.LC_TIME, self.LOCALE)
        except locale.Error:
            self.skipTest(f"{self.LOCALE} is not generated; tools/setup-deps.sh does it")
        try:
            date_text = datetime.date.today().strftime("%x")
        finally:
            locale.setlocale(locale.LC_TIME, "C")

        program = self.start_program(locale=self.LOCALE)
        program.open_main_window()
        sign = oracle.SIGNS[10][0]
        program.query(10, oracle.TODAY)
        report = program.copy_report(f"{sign}{oracle.TODAY}已复制!")
        self.assertReportIs(report, sign, oracle.TODAY, date_text)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, _stop_everything)
    os.makedirs(LOGS, exist_ok=True)
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print(f"e2e: {time.monotonic() - started:.0f} s")
    sys.exit(0 if result.wasSuccessful() else 1)
