"""知微阁 as the suites meet it from outside: its titles, what it says and
where its controls are. Beside this: tools (waits, processes), program (the
program and its service run), x11 and compositors (the desktops it is driven
on), accessible (AT-SPI), oracle (what a report must say), sound, pictures;
`python3 -m zhiweige` drives it in X for a suite not in Python.
"""

MAIN_TITLE = "澄川知微阁 V2"
SPLASH_TITLE = "Form3"
MESSAGE_TITLE = "Kw系列软件"
NEWER_TITLE = "暖暖提示"
FINDER_TITLE = "星座判断"
PICTURE_TITLE = "截图窗口"

CHOOSE_YOUR_SIGN = "请选择您的星座查看运势.."
TOMORROW_CHOSEN = "已切换明日星座运势查询.."
NO_SIGN_ON_SHOW = "请先选择您要查询的星座,再进行复制!"
FINDER_PROMPT = "本辅助可帮助您在不知道星座的情况下进行星座判断!"
NETWORK_FAILED = "检测网络失败!请您稍后再试"
EXIT_TEXT = (
    "感谢您对阿澈、对Kw系列软件、游戏的支持!\n \n"
    "是否退出并到论坛可以下载更多阿澈的原创免费软件?"
)
# The music button's caption while the tune plays, and once it is off.
MUSIC_OFF = "关闭音乐"
MUSIC_ON = "打开音乐"
OK_CAPTION = "确定"

MAIN_SIZE = (747, 484)
SPLASH_SIZE = (599, 392)
PICTURE_SIZE = (482, 460)

# Where things are, in pixels of the main window's client area: the sign
# buttons three to a row, in the order of oracle.SIGNS.
SIGN_BUTTONS = [(16 + x + 36, 152 + y + 16) for y in (40, 96, 152, 208) for x in (16, 104, 192)]
FIRST_SIGN = SIGN_BUTTONS[0]
DAY_MODE_BUTTON = (224 + 36, 152 + 8)
SHARE_LABEL = (312 + 216 + 12, 16 + 168 + 6)
SHARE_MENU_AT = (501, 200)
FINDER_BUTTON = (312 + 8 + 36, 352 + 16 + 20)
MUSIC_BUTTON = (312 + 88 + 36, 352 + 16 + 20)
EXIT_BUTTON = (312 + 336 + 36, 352 + 16 + 20)
# Away from every control and from where a centred dialog lies.
BARE_SPOT = (8, 470)
# In the splash, the share menu (its two items, a separator between them),
# the finder dialog and the screenshot window.
SPLASH_CLICK = (300, 200)
SHARE_ITEMS = [(40, 12), (40, 40)]
MONTH_COMBO = (16 + 112 + 28, 24 + 53 + 10)
DAY_COMBO = (16 + 200 + 24, 24 + 53 + 10)
FINDER_OK = (16 + 144, 152 + 24)
PICTURE_OK = (24 + 216, 400 + 20)

# Generous: a busy two-core machine may run other tests meanwhile.
WINDOW_TIMEOUT = 30
FETCH_TIMEOUT = 30


def done_text(sign, mode):
    return f"{sign}{mode}获取完毕..."


def copied_text(sign, mode):
    return f"{sign}{mode}已复制!"
