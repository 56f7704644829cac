#!/usr/bin/env python3
"""Draws the program's icon (quorvel.png, and quorvel-48.png and quorvel-256.png for the
desktop's icon theme), its hand pointer (HAND-M.CUR) and its drag pointer (drag.ico).

Standard library only. Run from this folder; the outputs are checked in.
"""
import struct
import zlib

# The hand pointer: '#' outline, '.' fill, ' ' transparent. Hot spot at the finger tip.
HAND = """
     ##
    #..#
    #..#
    #..#
    #..#
    #..###
    #..#..###
    #..#..#..##
 ## #..#..#..#.#
#..##........#..#
#...#...........#
 #..............#
  #.............#
  #............#
   #...........#
   #..........#
    #.........#
    #........#
     #.......#
     #########
"""
HOT_SPOT = (5, 1)


def hand_pixels(size=32):
    rows = HAND.strip("\n").split("\n")
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == "#":
                pixels[y][x] = (0, 0, 0, 255)
            elif ch == ".":
                pixels[y][x] = (255, 255, 255, 255)
    return pixels


# The drag pointer: an item row between arrows up and down, for moving a text along the list.
DRAG = """
               #
              #.#
             #...#
            #.....#
           #.......#
          #####.#####
              #.#
              #.#
              #.#
   ####################
   #..................#
   #.################.#
   #..................#
   ####################
              #.#
              #.#
              #.#
          #####.#####
           #.......#
            #.....#
             #...#
              #.#
               #
"""


def drag_pixels(size=32):
    rows = DRAG.strip("\n").split("\n")
    top = (size - len(rows)) // 2
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == "#":
                pixels[top + y][x] = (20, 50, 110, 255)
            elif ch == ".":
                pixels[top + y][x] = (255, 255, 255, 255)
    return pixels


def write_cur(path, pixels, hot, kind=2):
    """A cursor (kind 2, hot spot in the entry) or an icon (kind 1, planes and bit count)."""
    size = len(pixels)
    xor = b""
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = b""
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, kind, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, hot[0], hot[1], len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


def write_png(path, pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_png_ico(path, pngs):
    """An icon file holding PNG images (Windows Vista and later), for the executables."""
    entries, images = b"", b""
    offset = 6 + 16 * len(pngs)
    for size, png in pngs:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png), offset)
        images += png
        offset += len(png)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(pngs)) + entries + images)


def icon_pixels(size=64):
    """Two overlapping list cards, the front one with a tick: finding pairs in a list."""
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def card(x0, y0, w, h, fill, edge):
        for y in range(y0, y0 + h):
            for x in range(x0, x0 + w):
                border = x in (x0, x0 + w - 1) or y in (y0, y0 + h - 1)
                pixels[y][x] = edge if border else fill

    card(6, 4, 38, 46, (214, 226, 245, 255), (40, 70, 140, 255))
    for y in (14, 22, 30, 38):
        for x in range(12, 38):
            pixels[y][x] = (40, 70, 140, 255)
    card(20, 14, 38, 46, (255, 255, 255, 255), (20, 110, 60, 255))
    for y in (24, 32, 40):
        for x in range(26, 52):
            pixels[y][x] = (120, 120, 120, 255)
    # the tick
    for i in range(8):
        for t in range(3):
            pixels[48 + i // 2 + t][28 + i] = (20, 150, 60, 255)
    for i in range(16):
        for t in range(3):
            pixels[52 - i // 2 + t][36 + i] = (20, 150, 60, 255)
    return pixels


def resampled(pixels, size):
    """The picture at size x size: each output pixel averages the source pixels it covers
    (sampled 4 x 4, colours weighted by alpha), so pixel edges stay crisp at whole multiples."""
    source = len(pixels)
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for sy in range(4):
                for sx in range(4):
                    pr, pg, pb, pa = pixels[(y * 4 + sy) * source // (size * 4)][(x * 4 + sx) * source // (size * 4)]
                    r, g, b, a = r + pr * pa, g + pg * pa, b + pb * pa, a + pa
            row.append((r // a, g // a, b // a, a // 16) if a else (0, 0, 0, 0))
        out.append(row)
    return out


if __name__ == "__main__":
    write_cur("HAND-M.CUR", hand_pixels(), HOT_SPOT)
    write_png("quorvel.png", icon_pixels())
    for size in (48, 256):
        write_png(f"quorvel-{size}.png", resampled(icon_pixels(), size))
    write_cur("drag.ico", drag_pixels(), (1, 32), kind=1)
    write_png_ico("quorvel.ico", [(s, open(f"quorvel-{s}.png", "rb").read()) for s in (48, 256)])
