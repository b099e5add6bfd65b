#!/usr/bin/env python3
"""Draws the windowed program's icons and bitmaps into a folder.

Usage: make-art.py <output-folder>

Everything is drawn here from simple shapes, so the pictures can be changed
by editing this file; nothing is copied from elsewhere. Icons are 8-bit
palette images (32 x 32 and 16 x 16) that every Windows from 95 on can show;
bitmaps are 24-bit.
"""
import os
import struct
import sys

# RGB colours used by the drawings.
NAVY = (0x1F, 0x3A, 0x70)
SKY = (0x4A, 0x86, 0xC8)
PALE = (0xDD, 0xE8, 0xF6)
WHITE = (0xFF, 0xFF, 0xFF)
GOLD = (0xE8, 0xB0, 0x2A)
GREEN = (0x2E, 0x8B, 0x3E)
RED = (0xC0, 0x32, 0x2B)
GREY = (0x80, 0x80, 0x80)
BLACK = (0, 0, 0)


class Canvas:
    """A picture of RGB pixels, None where an icon is transparent."""

    def __init__(self, width, height, fill=None):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.pixels[y][x] = colour

    def disc(self, cx, cy, r, colour):
        for y in range(int(cy - r), int(cy + r) + 1):
            for x in range(int(cx - r), int(cx + r) + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def triangle(self, points, colour):
        (ax, ay), (bx, by), (cx, cy) = points

        def side(px, py, qx, qy, rx, ry):
            return (px - rx) * (qy - ry) - (qx - rx) * (py - ry)

        for y in range(self.height):
            for x in range(self.width):
                d1 = side(x + .5, y + .5, ax, ay, bx, by)
                d2 = side(x + .5, y + .5, bx, by, cx, cy)
                d3 = side(x + .5, y + .5, cx, cy, ax, ay)
                neg = d1 < 0 or d2 < 0 or d3 < 0
                pos = d1 > 0 or d2 > 0 or d3 > 0
                if not (neg and pos):
                    self.pixels[y][x] = colour


def scaled(draw, size):
    """Draws a 32-unit design at the given pixel size."""
    canvas = Canvas(size, size)
    draw(canvas, size / 32.0)
    return canvas


def draw_program(c, s):
    c.rect(int(4 * s), int(6 * s), int(28 * s), int(28 * s), NAVY)
    c.rect(int(7 * s), int(9 * s), int(25 * s), int(18 * s), PALE)
    c.disc(16 * s, 23 * s, 3 * s, GOLD)


def draw_backup(c, s):
    c.rect(int(5 * s), int(18 * s), int(27 * s), int(28 * s), NAVY)
    c.rect(int(13 * s), int(4 * s), int(19 * s), int(14 * s), GREEN)
    c.triangle([(8 * s, 13 * s), (24 * s, 13 * s), (16 * s, 20 * s)], GREEN)


def draw_restore(c, s):
    c.rect(int(5 * s), int(18 * s), int(27 * s), int(28 * s), NAVY)
    c.rect(int(13 * s), int(10 * s), int(19 * s), int(20 * s), SKY)
    c.triangle([(8 * s, 11 * s), (24 * s, 11 * s), (16 * s, 3 * s)], SKY)


def draw_schedule(c, s):
    c.disc(16 * s, 16 * s, 13 * s, NAVY)
    c.disc(16 * s, 16 * s, 11 * s, WHITE)
    c.rect(int(15 * s), int(7 * s), int(17 * s), int(17 * s), NAVY)
    c.rect(int(15 * s), int(15 * s), int(23 * s), int(17 * s), NAVY)


def draw_back(c, s):
    c.triangle([(24 * s, 5 * s), (24 * s, 27 * s), (6 * s, 16 * s)], SKY)


def draw_next(c, s):
    c.triangle([(8 * s, 5 * s), (8 * s, 27 * s), (26 * s, 16 * s)], SKY)


def draw_cancel(c, s):
    c.disc(16 * s, 16 * s, 12 * s, RED)
    c.rect(int(9 * s), int(14 * s), int(23 * s), int(18 * s), WHITE)


def draw_help(c, s):
    c.disc(16 * s, 16 * s, 12 * s, SKY)
    c.rect(int(14 * s), int(9 * s), int(18 * s), int(19 * s), WHITE)
    c.rect(int(14 * s), int(21 * s), int(18 * s), int(24 * s), WHITE)


ICONS = {
    "program": draw_program, "backup": draw_backup, "restore": draw_restore,
    "schedule": draw_schedule, "back": draw_back, "next": draw_next,
    "cancel": draw_cancel, "help": draw_help,
}


def palette_of(canvases):
    colours = []
    for canvas in canvases:
        for row in canvas.pixels:
            for p in row:
                if p is not None and p not in colours:
                    colours.append(p)
    if len(colours) > 255:
        raise SystemExit("too many colours for an 8-bit icon")
    return [BLACK] + colours


def icon_image(canvas, palette):
    """One icon image: BITMAPINFOHEADER, palette, XOR (8-bit) and AND masks."""
    w, h = canvas.width, canvas.height
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0\0\0\0" * (256 - len(palette))
    xor = b""
    mask = b""
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        row = canvas.pixels[y]
        xor += bytes(palette.index(p) if p is not None else 0 for p in row)
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pal + xor + mask


def write_icon(path, draw):
    canvases = [scaled(draw, 32), scaled(draw, 16)]
    palette = palette_of(canvases)
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
    data = b""
    for y in range(h - 1, -1, -1):
        row = b"".join(struct.pack("BBB", p[2], p[1], p[0]) for p in canvas.pixels[y])
        data += row + b"\0" * (stride - w * 3)
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + header + data)


def header(accent):
    """A page header: a band that fades from navy to the page's accent."""
    w, h = 506, 54
    c = Canvas(w, h)
    for x in range(w):
        t = x / (w - 1)
        colour = tuple(int(NAVY[i] * (1 - t) + accent[i] * t) for i in range(3))
        c.rect(x, 0, x + 1, h, colour)
    c.rect(0, h - 3, w, h, GOLD)
    return c


def logo():
    c = Canvas(160, 64, WHITE)
    c.rect(8, 8, 56, 56, NAVY)
    c.rect(14, 14, 50, 34, PALE)
    c.disc(32, 45, 6, GOLD)
    for i, colour in enumerate((SKY, GREEN, GOLD)):
        c.rect(68 + i * 30, 20, 92 + i * 30, 44, colour)
    return c


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, draw in ICONS.items():
        write_icon(os.path.join(out, name + ".ico"), draw)
    pages = [("welcome", SKY), ("operation", SKY), ("folder", GREEN), ("programs", RED),
             ("selection", GREEN), ("progress", GOLD), ("finish", SKY)]
    for name, accent in pages:
        write_bitmap(os.path.join(out, "header-" + name + ".bmp"), header(accent))
    write_bitmap(os.path.join(out, "logo.bmp"), logo())


if __name__ == "__main__":
    main()
