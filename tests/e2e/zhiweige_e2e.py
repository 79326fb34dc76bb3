"""知微阁 end to end: the built program on a real X display with a window
manager and a compositor, against the offline fortune service, driven only
from outside with the mouse and the keyboard. What it shows is read from the
accessibility tree, the clipboard and the screen. What it knows of the program
and how it drives it come from the suites' package, tests/support/zhiweige.

Run by run-e2e.sh, which starts the display and the session bus and passes
the paths in the environment:
  ZHIWEI_E2E_PROGRAM  the program, an offline build
  ZHIWEI_E2E_SERVICE  zhiwei-fortune-service, started on the person's own
                      socket in $XDG_RUNTIME_DIR, where the program looks
  ZHIWEI_E2E_SHOTS    where screenshots and logs go
"""

import datetime
import locale
import os
import shutil
import signal
import sys
import tempfile
import time
import unittest

import zhiweige.program
from zhiweige import (CHOOSE_YOUR_SIGN, DAY_COMBO, DAY_MODE_BUTTON, EXIT_BUTTON, EXIT_TEXT,
                      FINDER_BUTTON, FINDER_OK, FINDER_PROMPT, FINDER_TITLE, MAIN_SIZE,
                      MAIN_TITLE, MESSAGE_TITLE, MONTH_COMBO, MUSIC_BUTTON, MUSIC_OFF, MUSIC_ON,
                      NETWORK_FAILED, NEWER_TITLE, NO_SIGN_ON_SHOW, OK_CAPTION, PICTURE_OK,
                      PICTURE_SIZE, PICTURE_TITLE, SPLASH_CLICK, SPLASH_SIZE, SPLASH_TITLE,
                      TOMORROW_CHOSEN, WINDOW_TIMEOUT, copied_text, done_text,
                      oracle, sound, tools, x11)
from zhiweige.accessible import Role

PROGRAM = os.environ["ZHIWEI_E2E_PROGRAM"]
SERVICE = os.environ["ZHIWEI_E2E_SERVICE"]
SHOTS = os.environ["ZHIWEI_E2E_SHOTS"]
LOGS = os.path.join(SHOTS, "logs")
TUNE_SCRIPT = os.path.join(
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
    "tools",
    "make-tune.sh",
)

FORUM = oracle.forum_page(PROGRAM)
OPAQUE = 0xFFFFFFFF


class Service(zhiweige.program.Service):
    """The service on the lane's socket, its log beside the program's."""

    def __init__(self, notice="V2", charset="utf-8"):
        super().__init__(SERVICE, os.path.join(LOGS, "service.log"), notice, charset)


def save_screenshot(name, window=None):
    """The whole screen as name.png; with the rectangle of the window's frame
    beside it (name.geometry) so that pictures can be cut from it later."""
    path = os.path.join(SHOTS, name + ".png")
    x11.screenshot(path)
    if window is not None:
        x, y, width, height = x11.frame_rectangle(window)
        with open(os.path.join(SHOTS, name + ".geometry"), "w") as out:
            out.write(f"{width}x{height}+{x}+{y}\n")
    return path


class ProgramTestCase(unittest.TestCase):
    runs = 0
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
        self.waiter = tools.Waiter(SHOTS, x11.screenshot)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.stop()

    def start_program(self, program=PROGRAM, locale="C", extra_env=None):
        ProgramTestCase.runs += 1
        log = os.path.join(LOGS, f"program-{ProgramTestCase.runs}.log")
        program = zhiweige.program.Program(program, dict(os.environ, **(extra_env or {})), log,
                                           self.waiter, locale=locale)
        self.programs.append(program)
        return program

    def assertReportIs(self, report, sign, mode, date_text=None):
        today = datetime.date.today()
        page = oracle.fetch_page(self.service.socket, oracle.page_path(sign, mode, today))
        expected = oracle.expected_report(sign, mode, page, today, PROGRAM, date_text)
        self.assertIsNotNone(report, "the clipboard holds no text")
        self.assertEqual(report.split("\r\n"), expected.split("\r\n"))
        self.assertEqual(report, expected, "the lines are joined with CR LF")


class StartTest(ProgramTestCase):
    def test_splash_fades_in_and_a_click_opens_the_centred_main_window(self):
        program = self.start_program()
        splash = program.window(SPLASH_TITLE, "the splash window")
        watch = x11.OpacityWatch(splash)
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
        self.assertEqual(x11.geometry(splash)[2:], SPLASH_SIZE)
        self.assertIn(x11.frame_extents(splash), (None, (0, 0, 0, 0)), "no frame")
        save_screenshot("splash", splash)

        watch = x11.OpacityWatch(splash)
        try:
            x11.click(splash, *SPLASH_CLICK)
            main = program.window(MAIN_TITLE, "the main window after a click on the splash")
            program.main = main
            program.gone(SPLASH_TITLE, "the splash to go")
            values = watch.poll()
        finally:
            watch.stop()
        self.assertEqual(values, sorted(values, reverse=True), "the opacity only ever falls")
        self.assertEqual(values[-1:], [0], f"it fades out to nothing before it goes: {values}")
        x, y, width, height = x11.geometry(main)
        self.assertEqual((width, height), MAIN_SIZE)
        screen_width, screen_height = x11.screen_size()
        left, right, top, bottom = x11.frame_extents(main) or (0, 0, 0, 0)
        self.assertLessEqual(abs(x + width // 2 - screen_width // 2), max(left, right) + 1)
        self.assertLessEqual(abs(y + height // 2 - screen_height // 2), max(top, bottom) + 1)

    def test_copy_before_any_fortune_is_refused(self):
        program = self.start_program()
        program.open_main_window()
        clipboard_before = x11.clipboard_text()
        menu = program.open_share_menu()
        program.choose_from_share_menu(menu, 0)
        program.answer_and_wait_gone(MESSAGE_TITLE, NO_SIGN_ON_SHOW, "Return")
        self.assertEqual(x11.clipboard_text(), clipboard_before, "nothing was copied")
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
        x11.click(splash, *SPLASH_CLICK)
        program.main = program.window(MAIN_TITLE, "the main window")
        if title is None:
            program.wait_shows(CHOOSE_YOUR_SIGN, "the version check to pass")
            self.assertTrue(program.alive())
            self.assertEqual(x11.windows_named(program.pid, MAIN_TITLE), [program.main])
            self.assertEqual(
                [node.name for node in program.accessible.windows()], [MAIN_TITLE], "no box"
            )
            return
        program.message(title, text)
        save_screenshot("version-newer" if opens_forum else "version-network-failed", program.main)
        x11.key("Return")
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
    mode = oracle.TODAY

    def test_every_sign_copies_its_report(self):
        program = self.start_program()
        main = program.open_main_window()
        save_screenshot("main-window", main)
        if self.mode == oracle.TOMORROW:
            program.click(DAY_MODE_BUTTON)
            program.wait_shows(TOMORROW_CHOSEN, "the day-mode switch")
            self.assertIsNotNone(
                program.node().find(Role.PUSH_BUTTON, "今日运势"),
                "the day-mode button offers today now",
            )
        for index, (sign, _) in enumerate(oracle.SIGNS):
            checked = False
            with self.subTest(sign=sign, mode=self.mode):
                program.query(index, self.mode)
                if (self.mode, sign) in ((oracle.TODAY, "白羊座"), (oracle.TOMORROW, "天蝎座")):
                    name = "fortune-today" if self.mode == oracle.TODAY else "fortune-tomorrow"
                    save_screenshot(name, main)
                report = program.copy_report(copied_text(sign, self.mode))
                self.assertReportIs(report, sign, self.mode)
                checked = True
            if not checked:
                # The window may be left in any state (a box still open):
                # the signs after this one would only time out in turn.
                return


class EverySignTomorrowTest(EverySignTest):
    mode = oracle.TOMORROW


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
                x11.click(finder, *FINDER_OK)
                program.answer(MESSAGE_TITLE, message, "Return")
                program.gone(FINDER_TITLE, "the finder dialog to close")
                program.wait_shows(done_text(sign, oracle.TODAY), f"{sign}'s fortune")
                report = program.copy_report(copied_text(sign, oracle.TODAY))
                self.assertReportIs(report, sign, oracle.TODAY)
                checked = True
            if not checked:
                return  # as above: the dialog may still be open

    def choose(self, program, dialog, combo, number):
        """Opens a combo box of 1, 2, 3... with a click and walks down the
        list to the number with the keyboard."""
        before = set(x11.visible_windows(program.pid))
        x11.click(dialog, *combo)
        self.waiter.until(
            lambda: set(x11.visible_windows(program.pid)) - before,
            WINDOW_TIMEOUT,
            "the combo box list to open",
        )
        x11.key("Home", *["Down"] * (number - 1), "Return")
        self.waiter.until(
            lambda: set(x11.visible_windows(program.pid)) <= before,
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
        frame = x11.frame_rectangle(main)
        before = os.path.join(LOGS, "window-before-capture.png")
        x11.screenshot(before, frame)

        menu = program.open_share_menu()
        save_screenshot("share-menu", main)
        menu_x, menu_y, menu_width, menu_height = x11.geometry(menu)
        program.choose_from_share_menu(menu, 1)
        shot_window = program.window(PICTURE_TITLE, "the screenshot window")
        self.assertEqual(x11.geometry(shot_window)[2:], PICTURE_SIZE)
        self.assertTrue(
            program.shows(OK_CAPTION, PICTURE_TITLE), "its button reads 确定"
        )

        picture = os.path.join(LOGS, "clipboard-picture.png")
        self.assertTrue(x11.clipboard_png(picture), "a PNG picture on the clipboard")
        width, height = x11.png_size(picture)
        self.assertEqual((width, height), frame[2:], "the window with its frame")
        self.assertGreater(width, 747)
        self.assertGreater(height, 484)
        difference = x11.picture_difference(before, picture)
        self.assertLess(difference, 0.05, "the picture is what the screen showed")
        # Where the menu was, the picture is exactly the window before it opened.
        left, top = max(menu_x, frame[0]), max(menu_y, frame[1])
        right = min(menu_x + menu_width, frame[0] + width)
        bottom = min(menu_y + menu_height, frame[1] + height)
        under_menu = (left - frame[0], top - frame[1], right - left, bottom - top)
        self.assertEqual(
            x11.differing_pixels(before, picture, under_menu), 0, "nothing of the menu"
        )
        save_screenshot("screenshot-window", shot_window)

        x11.click(shot_window, *PICTURE_OK)
        program.gone(PICTURE_TITLE, "the screenshot window to close")
        self.assertTrue(program.alive())
        self.assertEqual(x11.windows_named(program.pid, MAIN_TITLE), [main])


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
                    program.wait_shows(TOMORROW_CHOSEN, "the day-mode switch")
                program.query(index, mode)
                report = program.copy_report(copied_text(sign, mode))
                self.assertReportIs(report, sign, mode)


class ShellTest(ProgramTestCase):
    def music_caption(self, program):
        node = program.node()
        for caption in (MUSIC_OFF, MUSIC_ON):
            if node is not None and node.find(Role.PUSH_BUTTON, caption):
                return caption
        return None

    def test_music_button_switches_between_its_two_captions(self):
        program = self.start_program()
        program.open_main_window()
        self.assertEqual(self.music_caption(program), MUSIC_OFF)
        for expected in (MUSIC_ON, MUSIC_OFF, MUSIC_ON):
            program.click(MUSIC_BUTTON)
            read = []
            try:
                self.waiter.until(
                    lambda: read.append(self.music_caption(program)) or read[-1] == expected,
                    WINDOW_TIMEOUT,
                    f'the music button to read "{expected}"',
                )
            except tools.Failure as failure:
                # Tells a program that hangs (None: no answer) from one that
                # answers but did not take the click.
                last = read[-1] if read else None
                raise tools.Failure(f"{failure}; it read {last!r} last") from None

    def test_exit_prompt_cancel_keeps_the_window_and_what_it_shows(self):
        program = self.start_program()
        main = program.open_main_window()
        program.click(DAY_MODE_BUTTON)
        program.query(4, oracle.TOMORROW)
        program.click(EXIT_BUTTON)
        program.message(MESSAGE_TITLE, EXIT_TEXT)
        save_screenshot("exit-prompt", main)
        x11.key("Escape")
        program.gone(MESSAGE_TITLE, "the exit prompt to close")
        self.assertTrue(program.alive())
        self.assertEqual(x11.windows_named(program.pid, MAIN_TITLE), [main])
        self.assertTrue(program.shows(done_text("狮子座", oracle.TOMORROW)))
        self.assertIsNotNone(program.node().find(Role.PUSH_BUTTON, "今日运势"))
        report = program.copy_report(copied_text("狮子座", oracle.TOMORROW))
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
    # Seconds of the sink's output to look at: to hear the tune, and for
    # silence. A look longer than a round holds the end of one and the start
    # of the next, where no gap may be (the encoder's padding alone is 37 ms).
    HEARING = 1.5
    SILENCE = 0.5
    ROUND_AND_A_HALF = 1.5 * TUNE_SECONDS
    GAP_MS = 3

    def setUp(self):
        super().setUp()
        missing = sound.missing_tools()
        if missing:
            self.skipTest(f"needs {' '.join(missing)}; tools/setup-deps.sh installs them")
        self.server = sound.SoundServer(tools.started).start(WINDOW_TIMEOUT)
        self.addCleanup(self.server.stop)
        folder = tempfile.mkdtemp(prefix="zhiwei-e2e-tune-")
        self.addCleanup(shutil.rmtree, folder, True)
        self.program_copy = os.path.join(folder, os.path.basename(PROGRAM))
        shutil.copy2(PROGRAM, self.program_copy)
        x11.run(
            "bash", TUNE_SCRIPT, "--seconds", str(self.TUNE_SECONDS),
            os.path.join(folder, "bg.mp3"), timeout=120,
        )

    def music_button_reads(self, program, caption):
        node = program.node()
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

        # Round and round: past two lengths of the tune it still plays, one
        # round straight after the other.
        self.waiter.until(
            lambda: time.monotonic() - started > 2 * self.TUNE_SECONDS + 1,
            2 * self.TUNE_SECONDS + WINDOW_TIMEOUT,
            "two lengths of the tune to pass",
        )
        self.assertTrue(server.plays(program.pid), "the stream plays on")
        heard = server.record(self.ROUND_AND_A_HALF)
        self.assertGreaterEqual(sound.loudest(heard), self.HEARD, "heard in its third round")
        gap = sound.longest_quiet_ms(heard, self.HEARD // 10)
        self.assertLess(gap, self.GAP_MS, f"a gap of {gap:.1f} ms between two rounds")

        program.click(MUSIC_BUTTON)  # 关闭音乐
        self.waiter.until(
            lambda: self.music_button_reads(program, MUSIC_ON), WINDOW_TIMEOUT, MUSIC_ON
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
        report = program.copy_report(copied_text(sign, oracle.TODAY))
        self.assertReportIs(report, sign, oracle.TODAY, date_text)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda signum, _: (tools.stop_all(), os._exit(128 + signum)))
    os.makedirs(LOGS, exist_ok=True)
    started = time.monotonic()
    result = unittest.main(exit=False, verbosity=2).result
    print(f"e2e: {time.monotonic() - started:.0f} s")
    sys.exit(0 if result.wasSuccessful() else 1)
