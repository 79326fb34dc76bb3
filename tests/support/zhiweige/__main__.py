"""The program's windows in X for a suite not in Python, one action a run,
its answer printed: windows PID, window [PID] NAME, pid WINDOW, click WINDOW
POINT, share-item MENU N, activate WINDOW, key NAME. A name of the package's
stands for what it holds: MAIN_TITLE, SHARE_LABEL."""

import sys

import zhiweige
from zhiweige import x11
from zhiweige.program import Program

ACTIONS = {
    "windows": x11.visible_windows,
    "window": lambda *pid_name: (x11.windows_named(*pid_name) if len(pid_name) == 2
                                 else x11.windows_called(*pid_name))[:1],
    "pid": lambda window: [x11.window_pid(window)],
    "click": lambda window, point: x11.click(window, *point),
    "share-item": lambda menu, item: Program.choose_from_share_menu(menu, int(item)),
    "activate": x11.activate,
    "key": x11.key,
}

if __name__ == "__main__":
    action, *words = sys.argv[1:]
    known = [getattr(zhiweige, word, word) if word.isupper() else word for word in words]
    for line in ACTIONS[action](*known) or []:
        print(line)
