"""The program and its offline fortune service as the suites run them: the
program with its widgets on the accessibility bus and a browser that only
writes down what it was asked to open; its windows found in X, what they
show read through AT-SPI."""

import os
import shutil
import subprocess
import tempfile

from . import (CHOOSE_YOUR_SIGN, FETCH_TIMEOUT, MAIN_TITLE, MESSAGE_TITLE, SHARE_LABEL,
               SHARE_MENU_AT, SIGN_BUTTONS, SPLASH_CLICK, SPLASH_TITLE, WINDOW_TIMEOUT,
               done_text, oracle, x11)
from .tools import Failure, Waiter, end, start


class Service:
    """The offline fortune site on the person's own socket, where the program
    looks for it: <runtime folder>/zhiweige/fortune.sock of env."""

    def __init__(self, path, log_path, notice="V2", charset="utf-8", env=None):
        self.path, self.log_path, self.env = path, log_path, env
        self.notice, self.charset = notice, charset
        runtime = (env or os.environ)["XDG_RUNTIME_DIR"]
        self.socket = os.path.join(runtime, "zhiweige", "fortune.sock")
        self.process = None

    def answers(self):
        return subprocess.run([self.path, "--probe", "--socket", self.socket],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=self.env).returncode == 0

    def start(self):
        self._log = open(self.log_path, "a")
        self._log.write(f"--- notice {self.notice!r}, {self.charset} pages\n")
        self._log.flush()
        self.process = start(
            [self.path, "--socket", self.socket, "--notice", self.notice, "--charset",
             self.charset], self.env, self._log)
        Waiter().until(lambda: self.process.poll() is not None or self.answers(),
                       WINDOW_TIMEOUT, "the fortune service to answer")
        if self.process.poll() is not None:
            raise Failure(
                f"the fortune service could not start on {self.socket} (exit "
                f"{self.process.returncode}); see {self.log_path}"
            )
        return self

    def stop(self):
        if self.process:
            end(self.process, 10)
            self._log.close()
        self.process = None


class Program:
    """One run of the program, from the splash to its end, in the session of
    env less what would tell the program of a desktop."""

    def __init__(self, path, env, log_path, waiter, platform="xcb", locale="C", cwd=None):
        self.waiter, self.log_path = waiter, log_path
        self.folder = tempfile.mkdtemp(prefix="zhiwei-run-")
        self.browsed = os.path.join(self.folder, "browsed.txt")
        browser = os.path.join(self.folder, "browser.sh")
        with open(browser, "w") as script:
            script.write(f'#!/bin/sh\nprintf "%s\\n" "$*" >> "{self.browsed}"\n')
        os.chmod(browser, 0o755)

        env = {
            name: value
            for name, value in env.items()
            if not name.startswith(("LC_", "XDG_CURRENT", "KDE_", "GNOME_", "QT_"))
            and name not in ("LANG", "LANGUAGE", "DESKTOP_SESSION", "BROWSER")
        }
        env.update(
            LC_ALL=locale,
            LANG=locale,
            QT_QPA_PLATFORM=platform,
            # Read by Qt: expose the widgets on the accessibility bus.
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
            # No desktop is detected here, so xdg-open hands web addresses to this.
            BROWSER=browser,
        )
        self._log = open(log_path, "w")
        self.process = start([path], env, self._log, cwd=cwd or self.folder)
        self.pid = self.process.pid
        # Here, not above: a suite says which packages are missing before gi is needed.
        from .accessible import AccessibleProgram

        self.accessible = AccessibleProgram(self.pid)
        self.main = None

    # ------------------------------------------------------------ windows

    def alive(self):
        return self.process.poll() is None

    def _running(self, what):
        if not self.alive():
            raise Failure(
                f"the program ended (exit {self.process.returncode}) while waiting "
                f"for {what}; log: {self.log_path}"
            )

    def window(self, title, what=None, timeout=WINDOW_TIMEOUT):
        def probe():
            self._running(what or title)
            found = x11.windows_named(self.pid, title)
            return found[0] if found else None

        return self.waiter.until(probe, timeout, what or f'the window "{title}"')

    def gone(self, title, what=None):
        self.waiter.until(
            lambda: not x11.windows_named(self.pid, title)
            and self.accessible.window(title) is None,
            WINDOW_TIMEOUT,
            what or f'the window "{title}" to close',
        )

    def open_main_window(self):
        """From start to the main window, past the splash with a click."""
        splash = self.window(SPLASH_TITLE, "the splash window")
        x11.click(splash, *SPLASH_CLICK)
        self.main = self.window(MAIN_TITLE, "the main window after a click on the splash")
        self.wait_shows(CHOOSE_YOUR_SIGN, "the version check to pass")
        return self.main

    def node(self, title=MAIN_TITLE):
        return self.accessible.window(title)

    def shows(self, text, title=MAIN_TITLE, within=False):
        """True when a control of the window shows the text (or, within, holds
        it) as its name or, for the status panels, as its description."""
        window = self.node(title)
        return window is not None and any(
            ((text in node.name or text in node.description) if within
             else text in (node.name, node.description)) and node.showing
            for node in window.walk()
        )

    def wait_shows(self, text, what, timeout=WINDOW_TIMEOUT, title=MAIN_TITLE, within=False):
        def probe():
            self._running(what)
            return self.shows(text, title, within)

        self.waiter.until(probe, timeout, f'{what}: "{title}" showing "{text}"')

    def click(self, point):
        x11.click(self.main, *point)

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
            lambda: x11.active_window() == box,
            WINDOW_TIMEOUT,
            f'the message box "{title}" to take the keyboard focus',
        )
        return box

    def answer(self, title, text, *keys):
        self.message(title, text)
        x11.key(*keys)

    def answer_and_wait_gone(self, title, text, *keys):
        self.answer(title, text, *keys)
        self.gone(title, f'the message box "{title}" to close')

    # -------------------------------------------------------------- share

    def open_share_menu(self):
        """Clicks the share label; returns the menu's window."""
        self.click(SHARE_LABEL)
        main_x, main_y, _, _ = x11.geometry(self.main)

        def probe():
            for window in x11.visible_windows(self.pid):
                if window != self.main and x11.is_override_redirect(window):
                    return window
            return None

        menu = self.waiter.until(probe, WINDOW_TIMEOUT, "the share menu to open")
        x, y, _, _ = x11.geometry(menu)
        place = (x - main_x, y - main_y)
        if place != SHARE_MENU_AT:
            raise Failure(f"the share menu opened at {place}, not at {SHARE_MENU_AT}")
        return menu

    @staticmethod
    def choose_from_share_menu(menu, item):
        # Two items with a separator between them: one in the top quarter,
        # one in the bottom quarter.
        x, y, width, height = x11.geometry(menu)
        x11.click_screen(x + width // 2, y + (height // 4 if item == 0 else 3 * height // 4))

    def copy_report(self, expected_message):
        menu = self.open_share_menu()
        self.choose_from_share_menu(menu, 0)
        self.message(MESSAGE_TITLE, expected_message)
        # Read while the program still owns the clipboard.
        report = x11.clipboard_text()
        x11.key("Return")
        self.gone(MESSAGE_TITLE, "the copy message to close")
        return report

    def query(self, index, mode):
        sign = oracle.SIGNS[index][0]
        self.click(SIGN_BUTTONS[index])
        self.wait_shows(done_text(sign, mode), f"{sign} ({mode})", FETCH_TIMEOUT)

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
        end(self.process, 10)
        self._log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
