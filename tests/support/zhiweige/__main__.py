"""The program's windows in X for a suite not written in Python: one action
a run, its answer on the standard output. A name of the package's stands for
the title or point it holds (MAIN_TITLE, SHARE_LABEL).

  windows PID            the visible windows of a process, popups included
  window [PID] NAME      its (or any process's) visible window of that name
  pid WINDOW             the process that shows it
  click WINDOW X Y       a left click at a point of its client area
  click WINDOW POINT
  share-item MENU N      chooses item N (0, 1) of the open share menu
  activate WINDOW        raises and focuses it
  key NAME...            keys, as xdotool names them
"""

import sys

import zhiweige
from zhiweige import x11
from zhiweige.program import Program


def answer(action, *args):
    """The lines of an action's answer."""
    if action == "windows":
        return x11.visible_windows(*args)
    if action == "window":
        return (x11.windows_named(*args) if len(args) == 2 else x11.windows_called(*args))[:1]
    if action == "pid":
        return [x11.window_pid(*args)]
    if action == "click":
        window, *point = args
        x11.click(window, *(point[0] if len(point) == 1 else point))
    elif action == "share-item":
        Program.choose_from_share_menu(args[0], int(args[1]))
    elif action in ("activate", "key"):
        getattr(x11, action)(*args)
    else:
        sys.exit(__doc__)
    return []


if __name__ == "__main__":
    known = [getattr(zhiweige, word, word) if word.isupper() else word for word in sys.argv[2:]]
    for line in answer(sys.argv[1] if len(sys.argv) > 1 else "", *known):
        print(line)
