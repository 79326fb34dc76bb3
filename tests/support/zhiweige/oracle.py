"""What the copied report must say, worked out from the fortune page itself.

Written apart from the program on purpose: the signs, the page addresses and
the rules for cutting a page apart are spelled out here again, so a slip in the
program shows up as a difference instead of being copied into the expectation.
"""

import datetime
import os
import http.client
import socket
import urllib.parse

# The sign buttons row by row, three to a row, with the site's name for each.
SIGNS = [
    ("白羊座", "aries"),
    ("金牛座", "taurus"),
    ("双子座", "gemini"),
    ("巨蟹座", "cancer"),
    ("狮子座", "leo"),
    ("处女座", "virgo"),
    ("天秤座", "libra"),
    ("天蝎座", "scorpio"),
    ("射手座", "sagittarius"),
    ("摩羯座", "capricorn"),
    ("水瓶座", "aquarius"),
    ("双鱼座", "pisces"),
]

SLUG = dict(SIGNS)

TODAY = "今日运势"
TOMORROW = "明日运势"

STAR_ASPECTS = ["综合运势", "爱情运势", "工作状况", "理财投资"]
DETAILS = ["健康指数", "商谈指数", "幸运颜色", "幸运数字", "速配星座"]
DESCRIPTION_MARK = '<div class="lotconts">'


def page_path(sign, mode, today):
    """The page the program asks for: today's has no date, tomorrow's has one."""
    path = f"/astro/view/{SLUG[sign]}/day/"
    if mode == TOMORROW:
        path += (today + datetime.timedelta(days=1)).strftime("%Y%m%d")
    return path


class _LocalConnection(http.client.HTTPConnection):
    """HTTP over the service's Unix socket, as the program reaches it."""

    def __init__(self, socket_path, timeout):
        super().__init__("zhiweige", timeout=timeout)
        self._socket_path = socket_path

    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(self.timeout)
        self.sock.connect(self._socket_path)


def fetch_page(socket_path, path):
    connection = _LocalConnection(socket_path, 30)
    try:
        connection.request("GET", path)
        reply = connection.getresponse()
        charset = reply.headers.get_content_charset() or "utf-8"
        if charset.lower() in ("gbk", "gb2312"):
            charset = "gb18030"
        return reply.read().decode(charset)
    finally:
        connection.close()


def forum_folder(program):
    """The maker's forum of an offline build: the page folder beside it."""
    return "file://" + urllib.parse.quote(os.path.join(os.path.dirname(program), "forum", "bbs")) + "/"


def forum_page(program):
    """What the browser is asked to open for the maker's forum."""
    return forum_folder(program) + "index.html"


def _up_to_first_div_end(text):
    # Everything before "</div>" plus the "<" that opens it; nothing when the
    # text has no "</div>" at all.
    end = text.find("</div>")
    return "" if end < 0 else text[: end + 1]


def cut_page(page):
    """The four star counts, the five values and the description of a page."""
    sections = page.split("<h4>")
    while len(sections) < 10:
        sections.append("")
    stars = [_up_to_first_div_end(sections[i]).count("star.gif") for i in range(1, 5)]
    values = []
    for offset, name in enumerate(DETAILS):
        section = sections[5 + offset].replace(name + "</h4><p>", "")
        values.append(_up_to_first_div_end(section).replace("</p><", ""))
    start = page.find(DESCRIPTION_MARK)
    description = ""
    if start >= 0:
        description = _up_to_first_div_end(page[start:])
        description = description.replace(DESCRIPTION_MARK, "").replace("<", "")
    return stars, values, description


def expected_report(sign, mode, page, today, program, date_text=None):
    """The fifteen lines of the report, as they reach the clipboard, from the
    offline build at the path program. The date is written as date_text says; by default
    as yyyy-mm-dd, the program's own form for the C locale, which has none
    worth showing."""
    stars, values, description = cut_page(page)
    lines = [sign + mode, f"[{date_text or today.isoformat()}]:"]
    lines += [f"{aspect}:{count}颗星" for aspect, count in zip(STAR_ASPECTS, stars)]
    lines += [f"{name}:{value}" for name, value in zip(DETAILS, values)]
    forum = "FILE" + forum_folder(program)[len("file"):]
    lines += [" ", description, " ", "本信息由澄川知微阁提供!官方论坛:" + forum]
    return "\r\n".join(lines)
