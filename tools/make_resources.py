"""Draws every picture resource of Quvari Kavid (icon, banner, result marks, running arrow, the
driver-update backdrop) into resources/pictures/. Run: python3 tools/make_resources.py"""
import math
import struct
import zlib
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "resources" / "pictures"

# Sub-samples per pixel side: 4 x 4 gives edges smooth enough at 16 px without a slow run.
SS = 4

WHITE = (255, 255, 255)
BACKDROP = (0x70, 0x74, 0x78)
TITLE_STRIP = (219, 219, 219)  # the colour the pages' title text is drawn over
MAKER_BLUE = (0x1F, 0x4E, 0x8C)
BODY_BLUE = (24, 58, 112)
LID_BLUE = (40, 88, 158)
BEAM_BLUE = (120, 196, 248)


class Canvas:
    """Straight (not premultiplied) RGBA in 0..1, one flat list per channel to keep the banner's
    400 000 pixels cheap."""

    def __init__(self, width, height, colour=WHITE, alpha=1.0):
        self.w, self.h = width, height
        n = width * height
        self.r = [colour[0] / 255] * n
        self.g = [colour[1] / 255] * n
        self.b = [colour[2] / 255] * n
        self.a = [alpha] * n

    def blend(self, i, colour, coverage):
        sa = coverage * (colour[3] / 255 if len(colour) > 3 else 1.0)
        if sa <= 0.0:
            return
        da = self.a[i] * (1.0 - sa)
        oa = sa + da
        self.r[i] = (colour[0] / 255 * sa + self.r[i] * da) / oa
        self.g[i] = (colour[1] / 255 * sa + self.g[i] * da) / oa
        self.b[i] = (colour[2] / 255 * sa + self.b[i] * da) / oa
        self.a[i] = oa

    def rect(self, x0, y0, x1, y1, colour):
        """Whole pixels only: the large flat areas need no sampling."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.blend(y * self.w + x, colour, 1.0)

    def fill(self, shapes, colour):
        """Fills the union of the shapes, so overlapping strokes of one glyph or mark do not
        darken where they meet."""
        if not isinstance(shapes, (list, tuple)):
            shapes = [shapes]
        x0 = max(0, int(math.floor(min(s.box[0] for s in shapes))))
        y0 = max(0, int(math.floor(min(s.box[1] for s in shapes))))
        x1 = min(self.w, int(math.ceil(max(s.box[2] for s in shapes))))
        y1 = min(self.h, int(math.ceil(max(s.box[3] for s in shapes))))
        offsets = [(k + 0.5) / SS for k in range(SS)]
        total = SS * SS
        for py in range(y0, y1):
            for px in range(x0, x1):
                near = [s for s in shapes
                        if s.box[0] <= px + 1 and px <= s.box[2] and s.box[1] <= py + 1 and py <= s.box[3]]
                if not near:
                    continue
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        x, y = px + ox, py + oy
                        for s in near:
                            if s.inside(x, y):
                                hits += 1
                                break
                if hits:
                    self.blend(py * self.w + px, colour, hits / total)

    def rgba_rows(self):
        """Top-down rows of 0..255 RGBA tuples."""
        def q(v):
            return max(0, min(255, int(v * 255 + 0.5)))
        rows = []
        for y in range(self.h):
            base = y * self.w
            rows.append([(q(self.r[i]), q(self.g[i]), q(self.b[i]), q(self.a[i]))
                         for i in range(base, base + self.w)])
        return rows


class Polygon:
    def __init__(self, points):
        self.pts = points
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def inside(self, x, y):
        # Even-odd crossing test; every polygon here is simple, so the rule does not matter.
        result = False
        pts = self.pts
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result


class Capsule:
    """A pen stroke: all points within r of the segment, which gives round ends and joins."""

    def __init__(self, a, b, r):
        self.ax, self.ay = a
        self.dx, self.dy = b[0] - a[0], b[1] - a[1]
        self.len2 = self.dx * self.dx + self.dy * self.dy
        self.r2 = r * r
        self.box = (min(a[0], b[0]) - r, min(a[1], b[1]) - r, max(a[0], b[0]) + r, max(a[1], b[1]) + r)

    def inside(self, x, y):
        px, py = x - self.ax, y - self.ay
        t = 0.0 if self.len2 == 0 else max(0.0, min(1.0, (px * self.dx + py * self.dy) / self.len2))
        ex, ey = px - t * self.dx, py - t * self.dy
        return ex * ex + ey * ey <= self.r2


class Ring:
    """A disc when inner is 0."""

    def __init__(self, centre, outer, inner=0.0):
        self.cx, self.cy = centre
        self.o2, self.i2 = outer * outer, inner * inner
        self.box = (self.cx - outer, self.cy - outer, self.cx + outer, self.cy + outer)

    def inside(self, x, y):
        d2 = (x - self.cx) ** 2 + (y - self.cy) ** 2
        return self.i2 <= d2 <= self.o2


class RoundRect:
    def __init__(self, x0, y0, x1, y1, radius):
        self.x0, self.y0, self.x1, self.y1, self.rad = x0, y0, x1, y1, radius
        self.box = (x0, y0, x1, y1)

    def inside(self, x, y):
        if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
            return False
        rad = self.rad
        cx = min(max(x, self.x0 + rad), self.x1 - rad)
        cy = min(max(y, self.y0 + rad), self.y1 - rad)
        return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad


def stroke(points, r):
    return [Capsule(points[i], points[i + 1], r) for i in range(len(points) - 1)]


def arc(cx, cy, rx, ry, start_deg, end_deg, steps):
    """Points along an ellipse; angles run clockwise on screen from the +x axis."""
    return [(cx + rx * math.cos(math.radians(start_deg + (end_deg - start_deg) * k / steps)),
             cy + ry * math.sin(math.radians(start_deg + (end_deg - start_deg) * k / steps)))
            for k in range(steps + 1)]


# --- file formats ---------------------------------------------------------------------------

def png_bytes(canvas, alpha):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in canvas.rgba_rows():
        raw.append(0)
        for px in row:
            raw.extend(px if alpha else px[:3])
    colour_type = 6 if alpha else 2
    # Only IHDR, IDAT and IEND: no time, gamma or text chunks that would change the bytes or the
    # colours GDI+ shows.
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def bmp24_bytes(canvas):
    stride = (canvas.w * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(canvas.rgba_rows()):  # a positive height means bottom-up rows
        line = bytearray()
        for r, g, b, _ in row:
            line.extend((b, g, r))
        line.extend(b"\0" * (stride - len(line)))
        pixels.extend(line)
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0, 14 + len(header))
    return file_header + header + pixels


def ico_bytes(canvases):
    """32-bit DIB entries, the form windres and Wine's LoadImage take without question; the AND
    mask is still written because older loaders ignore the alpha channel without it."""
    images = []
    for c in canvases:
        rows = list(reversed(c.rgba_rows()))
        xor = bytearray()
        for row in rows:
            for r, g, b, a in row:
                xor.extend((b, g, r, a))
        mask_stride = ((c.w + 31) // 32) * 4
        mask = bytearray()
        for row in rows:
            line = bytearray(mask_stride)
            for x, px in enumerate(row):
                if px[3] == 0:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask.extend(line)
        # The DIB height counts the colour and the mask bitmaps together.
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((c.w, c.h, header + xor + mask))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for w, h, data in images:
        out.extend(struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset))
        offset += len(data)
    for _, _, data in images:
        out.extend(data)
    return bytes(out)


# --- pictures -------------------------------------------------------------------------------

def icon(size):
    """A flat scanner seen from above the front: the lid's top face with a light-blue scan beam
    under its glass, a white line where the lid closes and the dark-blue body below. Laid out on a
    48-unit grid and snapped to whole pixels so the 16 px image stays crisp."""
    s = size / 48

    def p(v):
        return round(v * s)

    c = Canvas(size, size, WHITE, 0.0)
    seam = p(28)
    seam_h = max(1, p(2))
    # The body goes up behind the seam so the seam's ends meet blue, not the transparent margin.
    c.fill(RoundRect(p(3), seam - 1, size - p(3), p(38), max(1.0, 3.5 * s)), BODY_BLUE)
    c.fill(Polygon([(p(9), p(14)), (size - p(9), p(14)), (size - p(3), seam), (p(3), seam)]), LID_BLUE)
    c.rect(p(3), seam, size - p(3), seam + seam_h, WHITE)
    beam = p(20)
    c.rect(p(10), beam, size - p(10), beam + max(1, p(2.5)), BEAM_BLUE)
    if size >= 32:
        # The lamp on the front is a detail the 16 px image has no room for.
        c.fill(Ring((size - p(9), (seam + seam_h + p(38)) / 2), 1.5 * s + 0.5), BEAM_BLUE)
    return c


def glyph_strokes(letter, x, base, pen):
    """A small stroke font, just the letters of the maker's name."""
    cap, xh = 20.0, 14.0
    if letter == "Q":
        ring = arc(x + 7.5, base - cap / 2, 7.5, cap / 2, 0, 360, 40)
        return stroke(ring, pen) + stroke([(x + 9.5, base - 4.5), (x + 14.5, base + 2.0)], pen), 18.5
    if letter == "u":
        pts = [(x, base - xh)] + arc(x + 4.5, base - 4.5, 4.5, 4.5, 180, 0, 12) + [(x + 9, base - xh)]
        return stroke(pts, pen) + stroke([(x + 9, base - xh), (x + 9, base)], pen), 13.5
    if letter == "v":
        return stroke([(x, base - xh), (x + 5, base), (x + 10, base - xh)], pen), 14.0
    if letter == "a":
        bowl = arc(x + 4.5, base - xh / 2, 4.5, xh / 2, 0, 360, 32)
        return stroke(bowl, pen) + stroke([(x + 9, base - xh), (x + 9, base)], pen), 13.5
    if letter == "r":
        shoulder = [(x, base - 8.5), (x + 1.5, base - 12.3), (x + 4, base - xh), (x + 7, base - 13.4)]
        return stroke([(x, base - xh), (x, base)], pen) + stroke(shoulder, pen), 10.5
    if letter == "i":
        return stroke([(x, base - xh), (x, base)], pen) + [Ring((x, base - 19.0), pen * 1.25)], 4.0
    raise ValueError(letter)


def banner():
    """The backdrop the host window draws behind its pages. The pages draw their title at the
    top left and their content below it, so those parts are light; the darker grey of the older
    placeholder stays only where no text goes: behind the maker's mark and along the bottom."""
    c = Canvas(756, 540, BACKDROP)
    c.rect(0, 0, 604, 60, TITLE_STRIP)
    c.rect(0, 60, 756, 516, WHITE)
    # An abstract "Q" of the maker's own, where the older placeholder's blue block stood.
    c.fill(RoundRect(614, 12, 650, 48, 6), MAKER_BLUE)
    c.fill(Ring((632, 29), 10.5, 6.8), WHITE)
    c.fill(Capsule((637.5, 34.5), (643.5, 40.5), 1.9), BEAM_BLUE)
    x = 661.0
    for letter in "Quvari":
        shapes, advance = glyph_strokes(letter, x, 40.0, 1.35)
        c.fill(shapes, WHITE)
        x += advance + (2.5 if letter != "Q" else 1.5)
    return c


def passed():
    c = Canvas(30, 30, WHITE, 0.0)
    c.fill(stroke([(5.5, 15.5), (12, 22), (24.5, 8)], 2.7), (40, 150, 64))
    return c


def failed():
    c = Canvas(30, 30, WHITE, 0.0)
    c.fill(stroke([(7.5, 7.5), (22.5, 22.5)], 2.7) + stroke([(22.5, 7.5), (7.5, 22.5)], 2.7), (204, 48, 48))
    return c


def warning():
    c = Canvas(30, 30, WHITE, 0.0)
    corners = [(15, 5), (26.5, 25), (3.5, 25)]
    # The strokes along the edges round the triangle's corners.
    c.fill([Polygon(corners)] + stroke(corners + [corners[0]], 1.6), (242, 176, 24))
    c.fill([Capsule((15, 11.5), (15, 17.5), 1.5), Ring((15, 21.6), 1.6)], (48, 36, 16))
    return c


def running1():
    c = Canvas(30, 30)
    c.fill(Polygon([(4, 12), (15, 12), (15, 6), (26, 15), (15, 24), (15, 18), (4, 18)]), (34, 102, 190))
    return c


def instruction():
    """A quiet backdrop for the driver-update dialog: the texts go over its left and top, so only
    a faint gradient there, and a small pale chip with an up arrow in the bottom-right corner."""
    w, h = 509, 364
    c = Canvas(w, h)
    top, bottom = (251, 252, 253), (236, 240, 245)
    for y in range(h):
        t = y / (h - 1)
        colour = tuple(round(top[k] + (bottom[k] - top[k]) * t) for k in range(3))
        c.rect(0, y, w, y + 1, colour)
    edge = (196, 204, 214)
    c.rect(0, 0, w, 1, edge)
    c.rect(0, h - 1, w, h, edge)
    c.rect(0, 0, 1, h, edge)
    c.rect(w - 1, 0, w, h, edge)
    pale = (176, 194, 220)
    pins = []
    for k in range(4):
        y = 322 + k * 7
        pins.append(RoundRect(458, y, 466, y + 3, 1))
        pins.append(RoundRect(490, y, 498, y + 3, 1))
    c.fill(pins, pale)
    c.fill(RoundRect(463, 316, 493, 346, 4), pale)
    c.fill([Polygon([(478, 321), (487, 331), (469, 331)]), RoundRect(475, 330, 481, 341, 1)], (248, 250, 252))
    return c


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    files = {
        "kavid.ico": ico_bytes([icon(16), icon(32), icon(48)]),
        "banner.png": png_bytes(banner(), alpha=False),
        "passed.png": png_bytes(passed(), alpha=True),
        "failed.png": png_bytes(failed(), alpha=True),
        "warning.png": png_bytes(warning(), alpha=True),
        "running1.bmp": bmp24_bytes(running1()),
        "running2.bmp": bmp24_bytes(Canvas(30, 30)),
        "instruction.png": png_bytes(instruction(), alpha=False),
    }
    for name, data in files.items():
        (OUT / name).write_bytes(data)
        print(f"{OUT / name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
