"""Screen pictures as plain RGB bytes: read from PPM, PNG or raw frames,
compared region by region, written out as PNG for a person to look at."""

import struct
import zlib


class Picture:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, bytes(rgb)
        if len(self.rgb) != width * height * 3:
            raise ValueError(f"{len(self.rgb)} bytes for {width}x{height}")

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return self.rgb[at : at + 3]

    def crop(self, rect):
        x, y, width, height = clip(rect, self.width, self.height)
        rows = [self.rgb[((y + r) * self.width + x) * 3 : ((y + r) * self.width + x + width) * 3]
                for r in range(height)]
        return Picture(width, height, b"".join(rows))

    def colours(self, step=3):
        """The distinct colours, sampled on a grid."""
        return {self.pixel(x, y) for y in range(0, self.height, step)
                for x in range(0, self.width, step)}

    def save_png(self, path):
        raw = b"".join(b"\0" + self.rgb[r * self.width * 3 : (r + 1) * self.width * 3]
                       for r in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            out.write(chunk(b"IDAT", zlib.compress(raw, 1)))
            out.write(chunk(b"IEND", b""))


def clip(rect, width, height):
    x, y, w, h = rect
    left, top = max(0, x), max(0, y)
    right, bottom = min(width, x + w), min(height, y + h)
    return left, top, max(0, right - left), max(0, bottom - top)


def from_ppm(data):
    fields, at = [], 0
    while len(fields) < 4:
        while data[at : at + 1].isspace():
            at += 1
        if data[at : at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return Picture(width, height, data[at + 1 : at + 1 + width * height * 3])


def from_bgrx(width, height, stride, data):
    """Four bytes a pixel, blue first (Qt's RGB32 and ARGB32 in memory)."""
    rows = []
    for r in range(height):
        row = data[r * stride : r * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
        rows.append(bytes(rgb))
    return Picture(width, height, b"".join(rows))


def from_png(data):
    """8-bit RGB or RGBA, not interlaced: what Qt writes."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat = 8, []
    while at < len(data):
        (length,) = struct.unpack(">I", data[at : at + 4])
        kind, body = data[at + 4 : at + 8], data[at + 8 : at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError(f"PNG of depth {depth}, colour type {colour}")
        elif kind == b"IDAT":
            idat.append(body)
        at += 12 + length
    channels = 3 if colour == 2 else 4
    stride = width * channels
    raw = zlib.decompress(b"".join(idat))
    previous = bytearray(stride)
    rgb = bytearray()
    for r in range(height):
        kind = raw[r * (stride + 1)]
        line = bytearray(raw[r * (stride + 1) + 1 : (r + 1) * (stride + 1)])
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, previous))
        elif kind == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = previous[i]
                c = previous[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        previous = line
        if channels == 4:
            del line[3::4]
        rgb += line
    return Picture(width, height, rgb)


def difference(first, second, rect=None, step=2):
    """Mean absolute difference of two pictures (0 to 255) over rect, in
    the first picture's coordinates; rect may also be a pair of rects, one
    in each picture."""
    if rect is None:
        rect = (0, 0, first.width, first.height)
    one, two = rect if isinstance(rect[0], tuple) else (rect, rect)
    total = count = 0
    for dy in range(0, one[3], step):
        a_row = (one[1] + dy) * first.width
        b_row = (two[1] + dy) * second.width
        for dx in range(0, one[2], step):
            a = (a_row + one[0] + dx) * 3
            b = (b_row + two[0] + dx) * 3
            total += (abs(first.rgb[a] - second.rgb[b]) + abs(first.rgb[a + 1] - second.rgb[b + 1])
                      + abs(first.rgb[a + 2] - second.rgb[b + 2]))
            count += 3
    return total / count if count else 0.0


def changed_box(before, after, step=4, threshold=40):
    """The bounding box of what changed between two pictures of the screen."""
    xs, ys = [], []
    for y in range(0, after.height, step):
        for x in range(0, after.width, step):
            a, b = before.pixel(x, y), after.pixel(x, y)
            if abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2]) > threshold:
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs) - min(xs) + step, max(ys) - min(ys) + step


def densest(before, after, size, step=4, threshold=40):
    """Where a rectangle of the size covers the most change between two
    pictures of the screen: a window that opened, whatever else repainted.
    Returns the range of best places, (x_min, y_min, x_max, y_max)."""
    columns, rows = after.width // step, after.height // step
    integral = [[0] * (columns + 1) for _ in range(rows + 1)]
    for gy in range(rows):
        line, above, here = 0, integral[gy], integral[gy + 1]
        for gx in range(columns):
            a, b = before.pixel(gx * step, gy * step), after.pixel(gx * step, gy * step)
            line += abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2]) > threshold
            here[gx + 1] = above[gx + 1] + line
    width, height = size[0] // step, size[1] // step
    best, places = -1, []
    for gy in range(rows - height + 1):
        for gx in range(columns - width + 1):
            count = (integral[gy + height][gx + width] - integral[gy][gx + width]
                     - integral[gy + height][gx] + integral[gy][gx])
            if count > best:
                best, places = count, [(gx, gy)]
            elif count == best:
                places.append((gx, gy))
    if best <= 0:
        return None
    xs, ys = [p[0] * step for p in places], [p[1] * step for p in places]
    return min(xs), min(ys), max(xs), max(ys)
