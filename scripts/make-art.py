#!/usr/bin/env python3
"""Draws the windowed program's icons and bitmaps into a folder.

Usage: make-art.py <output-folder>

Everything is drawn here from simple shapes, so the pictures can be changed
by editing this file; nothing is copied from elsewhere. Icons are 8-bit
palette images (32 x 32 and 16 x 16) that every Windows from 95 on can show;
bitmaps are 24-bit.

A picture is a stack of layers, each a shape and its paint, in units of a
32-unit square (icons) or in pixels (bitmaps). Every pixel is sampled a few
times over, so edges between colours are smooth; an icon's edge against the
desktop can only be on or off, since its mask has one bit a pixel.
"""
import math
import os
import struct
import sys

# RGB colours used by the drawings.
NAVY = (0x1F, 0x3A, 0x70)
BLUE = (0x2F, 0x6D, 0xB5)
SKY = (0x5E, 0x9C, 0xDE)
PALE = (0xDD, 0xE8, 0xF6)
WHITE = (0xFF, 0xFF, 0xFF)
GOLD = (0xE8, 0xB0, 0x2A)
AMBER = (0xC2, 0x84, 0x12)
GREEN = (0x2E, 0x9B, 0x3E)
DEEP_GREEN = (0x1C, 0x6B, 0x28)
RED = (0xD2, 0x36, 0x2D)
DEEP_RED = (0x8E, 0x1C, 0x16)
CARTON = (0xD9, 0xA8, 0x62)
CARTON_DARK = (0xA8, 0x76, 0x38)
CARTON_LIGHT = (0xEE, 0xC9, 0x8E)
GREY = (0x80, 0x80, 0x80)
SILVER = (0xC8, 0xCE, 0xD6)
BLACK = (0, 0, 0)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# Shapes: a bounding box for quick refusals and a test of one point.

class Shape:
    def __init__(self, box, inside):
        self.box, self.inside = box, inside

    def __call__(self, x, y):
        x0, y0, x1, y1 = self.box
        return x0 <= x <= x1 and y0 <= y <= y1 and self.inside(x, y)

    def __sub__(self, other):
        return Shape(self.box, lambda x, y: self.inside(x, y) and not other(x, y))

    def __or__(self, other):
        box = (min(self.box[0], other.box[0]), min(self.box[1], other.box[1]),
               max(self.box[2], other.box[2]), max(self.box[3], other.box[3]))
        return Shape(box, lambda x, y: self(x, y) or other(x, y))


def rect(x0, y0, x1, y1):
    return Shape((x0, y0, x1, y1), lambda x, y: True)


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return Shape((x0, y0, x1, y1), inside)


def disc(cx, cy, r):
    return Shape((cx - r, cy - r, cx + r, cy + r),
                 lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r)


def ring(cx, cy, outer, inner):
    return disc(cx, cy, outer) - disc(cx, cy, inner)


def arc(cx, cy, outer, inner, start, end):
    """Part of a ring from angle `start` to `end`, degrees clockwise from 12 o'clock."""
    def inside(x, y):
        angle = math.degrees(math.atan2(x - cx, cy - y)) % 360
        return (angle - start) % 360 <= (end - start) % 360
    whole = ring(cx, cy, outer, inner)
    return Shape(whole.box, lambda x, y: whole.inside(x, y) and inside(x, y))


def polygon(points):
    xs, ys = [p[0] for p in points], [p[1] for p in points]

    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            (xi, yi), (xj, yj) = points[i], points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return Shape((min(xs), min(ys), max(xs), max(ys)), inside)


def stroke(x0, y0, x1, y1, width):
    """A straight line with round ends."""
    r = width / 2.0
    dx, dy = x1 - x0, y1 - y0
    length = dx * dx + dy * dy or 1.0

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length))
        px, py = x0 + t * dx - x, y0 + t * dy - y
        return px * px + py * py <= r * r
    return Shape((min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r), inside)


# Paints: a colour, or a colour that changes across the picture.

def vertical(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, max(0.0, min(1.0, (y - y0) / float(y1 - y0))))


def radial(centre, edge, cx, cy, r):
    return lambda x, y: mix(centre, edge, min(1.0, math.hypot(x - cx, y - cy) / r))


class Canvas:
    """A picture of RGB pixels, None where an icon is transparent."""

    def __init__(self, width, height, fill=None):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]


class Drawing:
    def __init__(self):
        self.layers = []

    def add(self, shape, paint):
        self.layers.append((shape, paint))
        return self

    def colour_at(self, x, y):
        for shape, paint in reversed(self.layers):
            if shape(x, y):
                return paint(x, y) if callable(paint) else paint
        return None

    def render(self, canvas, left, top, size, units=32.0, samples=4):
        """Draws the picture's `units` square into `size` pixels of the canvas at
        (left, top). Pixels mostly uncovered stay as they were."""
        scale = units / size
        offsets = [(i + 0.5) / samples for i in range(samples)]
        for py in range(size):
            for px in range(size):
                colours = []
                for oy in offsets:
                    for ox in offsets:
                        c = self.colour_at((px + ox) * scale, (py + oy) * scale)
                        if c is not None:
                            colours.append(c)
                x, y = left + px, top + py
                if not (0 <= x < canvas.width and 0 <= y < canvas.height):
                    continue
                under = canvas.pixels[y][x]
                if under is not None:
                    colours += [under] * (samples * samples - len(colours))
                elif 2 * len(colours) < samples * samples:
                    continue
                n = len(colours)
                canvas.pixels[y][x] = tuple(sum(c[i] for c in colours) // n for i in range(3))
        return canvas


# The icons, each drawn in a 32-unit square; `small` leaves out what would
# only be noise at 16 x 16.

def shine(d, shape, top, bottom):
    """A shape filled with a gradient from `top` to `bottom`, outlined darker."""
    x0, y0, x1, y1 = shape.box
    d.add(shape, mix(bottom, BLACK, 0.35))
    inner = Shape(shape.box, lambda x, y: all(shape(x + dx, y + dy) for dx, dy in
                                                ((1, 0), (-1, 0), (0, 1), (0, -1))))
    d.add(inner, vertical(top, bottom, y0, y1))


def badge(d, colour, small):
    """The round base of the navigation and help icons."""
    d.add(disc(16, 16, 15), mix(colour, BLACK, 0.4))
    d.add(disc(16, 16, 14), radial(mix(colour, WHITE, 0.45), colour, 12, 10, 18))
    if not small:
        d.add(arc(16, 16, 12.5, 10.5, 290, 20), mix(colour, WHITE, 0.6))


def carton(d, small):
    """An open box: its front, and the lid flaps folded back."""
    d.add(polygon([(3, 15), (9, 11), (23, 11), (29, 15)]), CARTON_DARK)
    shine(d, rect(4, 15, 28, 30), CARTON_LIGHT, CARTON)
    if not small:
        d.add(rect(4, 15, 28, 17), CARTON_DARK)
        d.add(rect(13, 20, 19, 21), CARTON_DARK)


def draw_program(d, small):
    shine(d, rounded(1, 1, 31, 31, 6), SKY, NAVY)
    # A quill: a feather's vane from the lower left up to the right, and its
    # shaft ending in a nib.
    vane = polygon([(8, 25), (12, 15), (19, 7), (27, 3), (25, 11), (19, 18), (11, 24)])
    d.add(vane, vertical(WHITE, PALE, 3, 25))
    d.add(stroke(8, 26, 24, 6, 1.6), GOLD)
    if not small:
        for i in range(3):
            d.add(stroke(14 + 3 * i, 18 - 4 * i, 19 + 3 * i, 19 - 4 * i, 1), SILVER)
    d.add(polygon([(5, 29), (7, 24), (10, 27)]), GOLD)


def draw_backup(d, small):
    carton(d, small)
    # An arrow coming down into the box.
    d.add(rect(12.5, 1, 19.5, 14), GREEN)
    d.add(polygon([(6, 11), (26, 11), (16, 22)]), DEEP_GREEN)
    d.add(polygon([(8, 12), (24, 12), (16, 20.5)]), GREEN)
    d.add(rect(14, 2, 16, 13), mix(GREEN, WHITE, 0.35))


def draw_restore(d, small):
    carton(d, small)
    # An arrow rising out of the box.
    d.add(rect(12.5, 11, 19.5, 24), BLUE)
    d.add(polygon([(6, 13), (26, 13), (16, 2)]), NAVY)
    d.add(polygon([(8, 12), (24, 12), (16, 3.5)]), SKY)
    d.add(rect(14, 12, 16, 23), mix(SKY, WHITE, 0.35))


def draw_schedule(d, small):
    d.add(disc(16, 16, 15), NAVY)
    d.add(disc(16, 16, 13.5), radial(BLUE, NAVY, 12, 10, 16))
    # A plain white face: a disabled button's grey copy keeps only what is
    # not white, so the hands stay visible on it.
    d.add(disc(16, 16, 11.5), PALE)
    d.add(disc(16, 16, 10.8), WHITE)
    for hour in range(0, 12, 3 if small else 1):
        a = math.radians(hour * 30)
        long_tick = hour % 3 == 0
        r0 = 8.5 if long_tick else 9.5
        d.add(stroke(16 + r0 * math.sin(a), 16 - r0 * math.cos(a),
                     16 + 10.5 * math.sin(a), 16 - 10.5 * math.cos(a), 1.3 if long_tick else 0.8),
              NAVY)
    # Ten past ten, the hands' usual pose.
    d.add(stroke(16, 16, 10.5, 12.5, 2.2), NAVY)
    d.add(stroke(16, 16, 22.5, 9, 1.8), NAVY)
    if not small:
        d.add(stroke(16, 16, 16, 25, 0.9), RED)
    d.add(disc(16, 16, 1.8), RED)


def draw_back(d, small):
    badge(d, GREEN, small)
    d.add(polygon([(6, 16), (16, 6.5), (16, 12), (25, 12), (25, 20), (16, 20), (16, 25.5)]),
          WHITE)


def draw_next(d, small):
    badge(d, GREEN, small)
    d.add(polygon([(26, 16), (16, 6.5), (16, 12), (7, 12), (7, 20), (16, 20), (16, 25.5)]),
          WHITE)


def draw_cancel(d, small):
    badge(d, RED, small)
    width = 4.5 if not small else 5
    d.add(stroke(10, 10, 22, 22, width), WHITE)
    d.add(stroke(22, 10, 10, 22, width), WHITE)


def draw_help(d, small):
    badge(d, BLUE, small)
    d.add(arc(16, 12, 7, 3.2, 270, 150), WHITE)
    d.add(stroke(17.2, 16.5, 16, 19, 3.8), WHITE)
    d.add(disc(16, 24.5, 2.4), WHITE)


ICONS = {
    "program": draw_program, "backup": draw_backup, "restore": draw_restore,
    "schedule": draw_schedule, "back": draw_back, "next": draw_next,
    "cancel": draw_cancel, "help": draw_help,
}


def icon_canvas(draw, size):
    d = Drawing()
    draw(d, size < 24)
    return d.render(Canvas(size, size), 0, 0, size)


def quantised(canvases):
    """The canvases' colours cut down to one shared palette of at most 255."""
    step = 1
    while True:
        def snap(p):
            if p is None or step == 1:
                return p
            return tuple(min(255, int(round(v / float(step))) * step) for v in p)
        colours = {snap(p) for c in canvases for row in c.pixels for p in row} - {None}
        if len(colours) <= 255:
            for c in canvases:
                c.pixels = [[snap(p) for p in row] for row in c.pixels]
            return [BLACK] + sorted(colours)
        step *= 2


def icon_image(canvas, palette):
    """One icon image: BITMAPINFOHEADER, palette, XOR (8-bit) and AND masks."""
    w, h = canvas.width, canvas.height
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0\0\0\0" * (256 - len(palette))
    index = {colour: i for i, colour in enumerate(palette)}
    xor = b""
    mask = b""
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        row = canvas.pixels[y]
        xor += bytes(index[p] if p is not None else 0 for p in row)
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pal + xor + mask


def write_icon(path, draw):
    canvases = [icon_canvas(draw, 32), icon_canvas(draw, 16)]
    palette = quantised(canvases)
    images = [icon_image(c, palette) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.width, canvas.height, 0, 0, 1, 8,
                           len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_bitmap(path, canvas):
    w, h = canvas.width, canvas.height
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        row = b"".join(struct.pack("BBB", p[2], p[1], p[0]) for p in canvas.pixels[y])
        rows.append(row + b"\0" * (stride - w * 3))
    data = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + header + data)


# The page headers' emblems, in the same 32-unit square as the icons.

def emblem_folder(d, small):
    d.add(rounded(2, 7, 14, 13, 1.5), AMBER)
    shine(d, rounded(2, 10, 30, 27, 1.5), (0xF6, 0xD3, 0x6B), GOLD)


def emblem_programs(d, small):
    shine(d, rounded(3, 5, 29, 27, 2), WHITE, SILVER)
    d.add(rect(4, 6, 28, 10), vertical(SKY, BLUE, 6, 10))
    d.add(disc(25.5, 8, 1.3), RED)
    for i in range(3):
        d.add(rect(7, 13 + 4 * i, 25 - 5 * i, 15 + 4 * i), GREY)


def emblem_selection(d, small):
    shine(d, rounded(4, 2, 28, 30, 2), WHITE, PALE)
    for i in range(3):
        y = 6 + 8 * i
        d.add(rect(7, y, 12, y + 5) - rect(8, y + 1, 11, y + 4), NAVY)
        d.add(rect(14, y + 1.5, 25, y + 3.5), GREY)
        if i != 1:
            d.add(stroke(7.5, y + 2.5, 9.5, y + 4.5, 1.4) | stroke(9.5, y + 4.5, 13, y - 0.5, 1.4),
                  GREEN)


def emblem_progress(d, small):
    shine(d, rounded(2, 11, 30, 21, 2), WHITE, SILVER)
    for i in range(5):
        d.add(rect(4 + 4 * i, 13, 7 + 4 * i, 19), vertical(mix(GREEN, WHITE, 0.4), GREEN, 13, 19))


def emblem_finish(d, small):
    badge(d, GREEN, small)
    d.add(stroke(9, 16.5, 14, 21.5, 4) | stroke(14, 21.5, 23, 10.5, 4), WHITE)


def emblem_operation(d, small):
    for i, draw in enumerate((draw_backup, draw_restore, draw_schedule)):
        part = Drawing()
        draw(part, True)
        ox, oy = (0, 16, 8)[i], (0, 0, 15)[i]
        d.add(Shape((ox, oy, ox + 16, oy + 16),
                    lambda x, y, p=part, ox=ox, oy=oy: p.colour_at(2 * (x - ox), 2 * (y - oy))
                    is not None),
              lambda x, y, p=part, ox=ox, oy=oy: p.colour_at(2 * (x - ox), 2 * (y - oy)))


def header(accent, emblem):
    """A page header: a band fading from navy to the page's accent, soft
    rings on the right and the page's emblem on them, a gold rule below."""
    w, h = 506, 54
    c = Canvas(w, h)
    for x in range(w):
        t = (x / (w - 1.0)) ** 1.5
        top = mix(NAVY, accent, t)
        bottom = mix(top, BLACK, 0.18)
        for y in range(h):
            c.pixels[y][x] = mix(top, bottom, y / (h - 1.0))
    # Faint rings behind the emblem, brighter towards their centre.
    cx, cy = w - 40, h // 2
    for y in range(h):
        for x in range(w - 200, w):
            r = math.hypot(x - cx, (y - cy) * 1.2)
            glow = max(0.0, 1.0 - r / 150.0) * (0.10 if int(r) // 12 % 2 else 0.16)
            c.pixels[y][x] = mix(c.pixels[y][x], WHITE, glow)
    c.pixels[h - 3:] = [[GOLD] * w, [mix(GOLD, AMBER, 0.5)] * w, [AMBER] * w]
    d = Drawing()
    emblem(d, False)
    d.render(c, w - 62, 5, 42, samples=3)
    return c


def logo():
    """The quill badge and the three operations on white."""
    c = Canvas(160, 64, WHITE)
    d = Drawing()
    draw_program(d, False)
    d.render(c, 6, 4, 56)
    for i, draw in enumerate((draw_backup, draw_restore, draw_schedule)):
        d = Drawing()
        draw(d, False)
        d.render(c, 70 + i * 30, 17, 28, samples=3)
    for x in range(70, 156):
        c.pixels[50][x] = GOLD
        c.pixels[51][x] = mix(GOLD, WHITE, 0.5)
    return c


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, draw in ICONS.items():
        write_icon(os.path.join(out, name + ".ico"), draw)
    pages = [("welcome", SKY, draw_program), ("operation", SKY, emblem_operation),
             ("folder", GREEN, emblem_folder), ("programs", RED, emblem_programs),
             ("selection", GREEN, emblem_selection), ("progress", GOLD, emblem_progress),
             ("finish", SKY, emblem_finish)]
    for name, accent, emblem in pages:
        write_bitmap(os.path.join(out, "header-" + name + ".bmp"), header(accent, emblem))
    write_bitmap(os.path.join(out, "logo.bmp"), logo())


if __name__ == "__main__":
    main()
