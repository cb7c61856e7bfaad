#!/usr/bin/env python3
"""Draws the program's toolbar images and icons as PNG files.

Run by hand after changing a drawing; the PNGs it writes are committed and
the build only reads them. Needs nothing beyond Python 3's standard library.

    python3 res/icons/draw_icons.py [output directory]

Every shape is a signed distance function in design units (a 32 x 32 grid
unless said otherwise); a pixel's coverage comes from the distance at its
centre, which gives clean anti-aliased edges at any size. Edges that should
be sharp at 16 and 32 pixels sit on whole (or even) grid lines.
"""

import math
import os
import struct
import sys
import zlib


# ---------------------------------------------------------------- shapes

class Shape:
    def bbox(self):
        raise NotImplementedError

    def dist(self, x, y):
        raise NotImplementedError


class Circle(Shape):
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r

    def bbox(self):
        return (self.cx - self.r, self.cy - self.r, self.cx + self.r, self.cy + self.r)

    def dist(self, x, y):
        return math.hypot(x - self.cx, y - self.cy) - self.r


class Box(Shape):
    """Axis-aligned box from (x0, y0) to (x1, y1) with corner radius r."""

    def __init__(self, x0, y0, x1, y1, r=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r

    def bbox(self):
        return (self.x0, self.y0, self.x1, self.y1)

    def dist(self, x, y):
        cx = (self.x0 + self.x1) / 2
        cy = (self.y0 + self.y1) / 2
        hx = (self.x1 - self.x0) / 2 - self.r
        hy = (self.y1 - self.y0) / 2 - self.r
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        inside = min(max(qx, qy), 0.0)
        return outside + inside - self.r


class Line(Shape):
    """A stroke of width w from a to b with round ends."""

    def __init__(self, ax, ay, bx, by, w):
        self.ax, self.ay, self.bx, self.by, self.h = ax, ay, bx, by, w / 2

    def bbox(self):
        return (min(self.ax, self.bx) - self.h, min(self.ay, self.by) - self.h,
                max(self.ax, self.bx) + self.h, max(self.ay, self.by) + self.h)

    def dist(self, x, y):
        px, py = x - self.ax, y - self.ay
        dx, dy = self.bx - self.ax, self.by - self.ay
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, (px * dx + py * dy) / length2))
        return math.hypot(px - dx * t, py - dy * t) - self.h


class Polygon(Shape):
    """A closed polygon through the given points (exact distance)."""

    def __init__(self, *points):
        self.p = list(points)

    def bbox(self):
        xs = [p[0] for p in self.p]
        ys = [p[1] for p in self.p]
        return (min(xs), min(ys), max(xs), max(ys))

    def dist(self, x, y):
        p = self.p
        d = (x - p[0][0]) ** 2 + (y - p[0][1]) ** 2
        s = 1.0
        j = len(p) - 1
        for i in range(len(p)):
            ex, ey = p[j][0] - p[i][0], p[j][1] - p[i][1]
            wx, wy = x - p[i][0], y - p[i][1]
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1 = y >= p[i][1]
            c2 = y < p[j][1]
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
                s = -s
            j = i
        return s * math.sqrt(d)


class Union(Shape):
    def __init__(self, *shapes):
        self.shapes = shapes

    def bbox(self):
        boxes = [s.bbox() for s in self.shapes]
        return (min(b[0] for b in boxes), min(b[1] for b in boxes),
                max(b[2] for b in boxes), max(b[3] for b in boxes))

    def dist(self, x, y):
        return min(s.dist(x, y) for s in self.shapes)


class Minus(Shape):
    """Shape a with shape b cut out of it."""

    def __init__(self, a, b):
        self.a, self.b = a, b

    def bbox(self):
        return self.a.bbox()

    def dist(self, x, y):
        return max(self.a.dist(x, y), -self.b.dist(x, y))


class Clip(Shape):
    """The part of shape a inside shape b."""

    def __init__(self, a, b):
        self.a, self.b = a, b

    def bbox(self):
        a, b = self.a.bbox(), self.b.bbox()
        return (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3]))

    def dist(self, x, y):
        return max(self.a.dist(x, y), self.b.dist(x, y))


class Grow(Shape):
    """Shape s grown by d (shrunk when d is negative)."""

    def __init__(self, s, d):
        self.s, self.d = s, d

    def bbox(self):
        b = self.s.bbox()
        d = max(self.d, 0.0)
        return (b[0] - d, b[1] - d, b[2] + d, b[3] + d)

    def dist(self, x, y):
        return self.s.dist(x, y) - self.d


class Ring(Shape):
    """A band of width w centred on the outline of circle (cx, cy, r)."""

    def __init__(self, cx, cy, r, w):
        self.c, self.h = Circle(cx, cy, r), w / 2

    def bbox(self):
        b = self.c.bbox()
        return (b[0] - self.h, b[1] - self.h, b[2] + self.h, b[3] + self.h)

    def dist(self, x, y):
        return abs(self.c.dist(x, y)) - self.h


def sector(cx, cy, r, a0, a1):
    """Pie slice from angle a0 to a1 (degrees, y downwards, clockwise)."""
    points = [(cx, cy)]
    steps = max(2, int(abs(a1 - a0) / 10) + 1)
    for i in range(steps + 1):
        a = math.radians(a0 + (a1 - a0) * i / steps)
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return Polygon(*points)


def rotated_box(cx, cy, length0, length1, half_width, angle):
    """A bar along the ray at `angle` from (cx, cy), from length0 to length1."""
    a = math.radians(angle)
    ux, uy = math.cos(a), math.sin(a)
    vx, vy = -uy, ux
    return Polygon(
        (cx + ux * length0 + vx * half_width, cy + uy * length0 + vy * half_width),
        (cx + ux * length1 + vx * half_width, cy + uy * length1 + vy * half_width),
        (cx + ux * length1 - vx * half_width, cy + uy * length1 - vy * half_width),
        (cx + ux * length0 - vx * half_width, cy + uy * length0 - vy * half_width))


# ---------------------------------------------------------------- canvas

def rgb(text, alpha=1.0):
    text = text.lstrip("#")
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, alpha)


class Canvas:
    def __init__(self, size, grid=32):
        self.size = size
        self.scale = size / grid  # pixels per design unit
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied

    def fill(self, shape, color):
        r, g, b, a = color
        x0, y0, x1, y1 = shape.bbox()
        s = self.scale
        i0 = max(0, int(math.floor(x0 * s)) - 1)
        j0 = max(0, int(math.floor(y0 * s)) - 1)
        i1 = min(self.size, int(math.ceil(x1 * s)) + 1)
        j1 = min(self.size, int(math.ceil(y1 * s)) + 1)
        for j in range(j0, j1):
            y = (j + 0.5) / s
            row = j * self.size
            for i in range(i0, i1):
                d = shape.dist((i + 0.5) / s, y) * s
                coverage = 0.5 - d
                if coverage <= 0.0:
                    continue
                k = a * min(coverage, 1.0)
                p = self.px[row + i]
                p[0] = r * k + p[0] * (1 - k)
                p[1] = g * k + p[1] * (1 - k)
                p[2] = b * k + p[2] * (1 - k)
                p[3] = k + p[3] * (1 - k)

    def solid(self, shape, fill, outline=None, width=None):
        """Fills a shape; with an outline colour, a border of `width`
        pixels (default one) in that colour lies inside its edge."""
        if outline is None:
            self.fill(shape, fill)
            return
        w = (1.0 if width is None else width) / self.scale
        self.fill(shape, outline)
        self.fill(Grow(shape, -w), fill)

    def png(self):
        raw = bytearray()
        for j in range(self.size):
            raw.append(0)
            for i in range(self.size):
                r, g, b, a = self.px[j * self.size + i]
                if a <= 0.0:
                    raw += b"\0\0\0\0"
                    continue
                raw += bytes(min(255, int(round(c / a * 255))) for c in (r, g, b))
                raw.append(min(255, int(round(a * 255))))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.size, self.size, 8, 6, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------- palette
# Flat colours, each with a darker shade for its border.

BLUE, BLUE_DARK = rgb("2f78c4"), rgb("1a4e87")
NAVY, NAVY_DARK = rgb("1c4a7a"), rgb("0f2c4d")
SKY = rgb("9fd3ff")
GREEN, GREEN_DARK = rgb("3fbf5f"), rgb("1f7a39")
ORANGE, ORANGE_DARK = rgb("f2a23a"), rgb("a8621a")
RED, RED_DARK = rgb("e0463c"), rgb("8f231c")
GREY, GREY_DARK = rgb("98a4b0"), rgb("4b5866")
SLATE = rgb("3d4b5c")
PAPER, PAPER_EDGE, PAPER_FOLD = rgb("ffffff"), rgb("6a7886"), rgb("d7dee5")
WOOD, WOOD_DARK = rgb("c0874f"), rgb("6e4424")
WHITE = rgb("ffffff")


# ---------------------------------------------------------------- toolbar

def draw_scan(c):
    """Start of a scan: a radar screen with its sweep, and a start mark."""
    c.solid(Circle(14, 14, 12.5), NAVY, NAVY_DARK)
    for r in (4.5, 8.5):
        c.fill(Ring(14, 14, r, 1.0), rgb("4f8fd0"))
    c.fill(Clip(sector(14, 14, 11.5, -90, -20), Circle(14, 14, 11.5)), rgb("46d06e", 0.55))
    c.fill(Line(14, 14, 14, 2.5, 1.5), rgb("8af0a6"))
    c.fill(Circle(19.5, 8.5, 1.6), ORANGE)
    c.fill(Circle(8, 18.5, 1.6), ORANGE)
    # The start mark sits on a white ring so that it stands apart.
    c.fill(Circle(24, 24, 8), WHITE)
    c.solid(Circle(24, 24, 7), GREEN, GREEN_DARK)
    c.fill(Polygon((21.5, 20), (28.5, 24), (21.5, 28)), WHITE)


def draw_save(c):
    """Saving the list to a file: a diskette."""
    body = Polygon((4, 4), (24, 4), (28, 8), (28, 28), (4, 28))
    c.solid(body, BLUE, BLUE_DARK)
    c.solid(Box(9, 4, 22, 12), rgb("d5dde6"), GREY_DARK)
    c.fill(Box(17, 6, 20, 10), SLATE)
    c.solid(Box(7, 15, 25, 28), WHITE, BLUE_DARK)
    for y in (19, 22, 25):
        c.fill(Box(10, y, 22, y + 1), rgb("8fb4da"))


def gear(cx, cy, teeth, r_body, r_tip, tooth_half, r_hole):
    parts = [Circle(cx, cy, r_body)]
    for k in range(teeth):
        parts.append(rotated_box(cx, cy, r_body - 2, r_tip, tooth_half, k * 360 / teeth + 90))
    return Minus(Union(*parts), Circle(cx, cy, r_hole))


def draw_options(c):
    """Options: a gear."""
    c.solid(gear(16, 16, 8, 10, 14.5, 2.6, 4.5), GREY, GREY_DARK)
    c.fill(Ring(16, 16, 7.0, 1.0), rgb("7b8894"))


def draw_search(c):
    """Search: a magnifying glass over the list."""
    c.solid(Line(19, 19, 27, 27, 5), SLATE, rgb("1e2833"))
    c.fill(Line(20.5, 20.5, 26, 26, 1.2), rgb("6d7d8f"))
    c.fill(Circle(13, 13, 9.5), SLATE)
    c.fill(Circle(13, 13, 7), rgb("d9efff"))
    c.fill(Clip(Ring(13, 13, 4.5, 1.6), sector(13, 13, 8, 180, 270)), WHITE)
    c.fill(Ring(13, 13, 7.6, 1.2), rgb("6d7d8f"))


def draw_help(c):
    """Help: a question mark on a blue disc."""
    c.solid(Circle(16, 16, 13.5), BLUE, BLUE_DARK)
    hook = Minus(Ring(16, 12, 4.5, 3.2), Polygon((16, 12), (16, 20), (8, 20), (8, 12)))
    c.fill(hook, WHITE)
    c.fill(Circle(11.5, 12, 1.6), WHITE)  # round the hook's left end
    c.fill(Line(16, 16.5, 16, 19.2, 3.2), WHITE)
    c.fill(Circle(16, 24, 2.1), WHITE)


def draw_exit(c):
    """Leaving the program: an open door and an arrow out of it."""
    c.solid(Box(3, 3, 19, 29), WOOD_DARK)
    c.fill(Box(5, 5, 17, 29), rgb("2b2f38"))
    leaf = Polygon((5, 5), (12, 8), (12, 31), (5, 29))
    c.solid(leaf, WOOD, WOOD_DARK)
    c.fill(Circle(10, 19, 1.1), WOOD_DARK)
    arrow = Polygon((14, 13.5), (22, 13.5), (22, 8.5), (30.5, 16), (22, 23.5), (22, 18.5), (14, 18.5))
    c.solid(arrow, RED, RED_DARK)


TOOLBAR = [
    ("toolbar-scan", draw_scan),
    ("toolbar-save", draw_save),
    ("toolbar-options", draw_options),
    ("toolbar-search", draw_search),
    ("toolbar-help", draw_help),
    ("toolbar-exit", draw_exit),
]


# ---------------------------------------------------------------- icons

def border_px(size):
    """Border width in pixels: one pixel up to 32, relatively thinner above."""
    return {16: 1.0, 32: 1.0, 48: 1.25, 64: 1.5, 128: 2.5, 256: 4.0}[size]


def draw_mark(c, size):
    """The program's mark on the 32 grid: a tile with a hub that reaches
    three hosts; from 48 pixels the hub sends its echo, from 64 pixels each
    host carries the tick of a listed host."""
    px = size / 32  # pixels per design unit
    light = rgb("bcdcff")
    c.solid(Box(1, 1, 31, 31, 5), BLUE, BLUE_DARK, border_px(size))
    hub = (16, 11)
    hosts = (8, 16, 24)
    for hx in hosts:
        c.fill(Line(hub[0], hub[1], hx, 20, 1.5), light)
    if px >= 1.5:
        for r, a in ((5.5, 0.9), (8.0, 0.6)):
            c.fill(Clip(Ring(hub[0], hub[1], r, 1.2), sector(hub[0], hub[1], 20, 215, 325)),
                   rgb("bcdcff", a))
    c.solid(Circle(hub[0], hub[1], 3.5), ORANGE, ORANGE_DARK, max(1.0, border_px(size) * 0.75))
    for hx in hosts:
        # A monitor: foot, bezel, screen.
        c.fill(Box(hx - 1, 25, hx + 1, 27), rgb("dbe7f3"))
        c.fill(Box(hx - 3, 27, hx + 3, 28), rgb("dbe7f3"))
        c.fill(Box(hx - 3.5, 18.5, hx + 3.5, 25, 0.8), WHITE)
        c.fill(Box(hx - 2.5, 19.5, hx + 2.5, 24, 0.3), SKY)
        if px >= 2.0:
            c.fill(Line(hx - 1.5, 21.8, hx - 0.5, 22.9, 0.7), GREEN_DARK)
            c.fill(Line(hx - 0.5, 22.9, hx + 1.6, 20.4, 0.7), GREEN_DARK)


def draw_small_mark(c, ox=0, oy=0):
    """The mark redrawn on a 16 grid placed at (ox, oy): fewer shapes, on
    whole pixels, for the 16-pixel icon and the document's badge."""
    c.solid(Box(ox, oy, ox + 16, oy + 16, 3), BLUE, BLUE_DARK)
    for hx in (3.5, 8, 12.5):
        c.fill(Line(ox + 8, oy + 4.5, ox + hx, oy + 10, 1.0), rgb("bcdcff"))
    c.fill(Circle(ox + 8, oy + 4.5, 2.5), ORANGE)
    for x in (2, 6.5, 11):
        c.fill(Box(ox + x, oy + 9.5, ox + x + 3, oy + 12.5), WHITE)
        c.fill(Box(ox + x + 1, oy + 12.5, ox + x + 2, oy + 13.5), rgb("dbe7f3"))


def draw_document(c, size):
    """The document type: a list page carrying the program's mark."""
    if size <= 16:
        page = Polygon((3, 1), (10, 1), (13, 4), (13, 15), (3, 15))
        c.solid(page, PAPER, PAPER_EDGE)
        c.solid(Polygon((10, 1), (10, 4), (13, 4)), PAPER_FOLD, PAPER_EDGE)
        for y in (5, 7):
            c.fill(Box(5, y, 9, y + 1), rgb("8fb4da"))
        c.fill(Box(7, 9, 15, 16, 1.5), BLUE)
        c.fill(Circle(11, 11, 1.2), ORANGE)
        c.fill(Box(8, 13, 10, 15), WHITE)
        c.fill(Box(12, 13, 14, 15), WHITE)
        return
    page = Polygon((5, 2), (20, 2), (27, 9), (27, 30), (5, 30))
    c.solid(page, PAPER, PAPER_EDGE)
    c.solid(Polygon((20, 2), (20, 9), (27, 9)), PAPER_FOLD, PAPER_EDGE)
    for y, x1 in ((6, 17), (9, 24), (12, 24)):
        c.fill(Box(8, y, x1, y + 1), rgb("8fb4da"))
    draw_small_mark(c, 15, 15)


APP_SIZES = (16, 32, 48, 64, 128, 256)
DOCUMENT_SIZES = (16, 32)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    images = []
    for name, draw in TOOLBAR:
        c = Canvas(32)
        draw(c)
        images.append((name, c))
    for size in APP_SIZES:
        c = Canvas(size, 16 if size == 16 else 32)
        if size == 16:
            draw_small_mark(c)
        else:
            draw_mark(c, size)
        images.append(("vopal-%d" % size, c))
    for size in DOCUMENT_SIZES:
        c = Canvas(size, 16 if size == 16 else 32)
        draw_document(c, size)
        images.append(("document-%d" % size, c))
    for name, c in images:
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(c.png())
        print(name + ".png")


if __name__ == "__main__":
    main()
