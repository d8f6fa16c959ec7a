#!/usr/bin/env python3
"""Draws the six 16-colour class bitmaps of the extension (run once; the BMP files
are committed). Analog input shows a sine trace, digital input a pulse train
entering the card, digital output a pulse train leaving it."""
import math
import struct
import sys

PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, DKRED, DKGREEN, GREY, DKGREY, RED, GREEN, YELLOW, BLUE, WHITE = 0, 1, 2, 7, 8, 9, 10, 11, 12, 15


def write_bmp(path, pixels, w, h):
    stride = ((w * 4 + 31) // 32) * 4
    rows = b""
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            v = pixels[y][x]
            row[x // 2] |= v << 4 if x % 2 == 0 else v
        rows += bytes(row)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + rows)


def canvas(w, h, colour):
    return [[colour] * w for _ in range(h)]


def rect(p, x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(len(p), y1 + 1)):
        for x in range(max(0, x0), min(len(p[0]), x1 + 1)):
            p[y][x] = c


def frame(p, c_light, c_dark):
    h, w = len(p), len(p[0])
    rect(p, 0, 0, w - 1, 0, c_light)
    rect(p, 0, 0, 0, h - 1, c_light)
    rect(p, 0, h - 1, w - 1, h - 1, c_dark)
    rect(p, w - 1, 0, w - 1, h - 1, c_dark)


def sine(p, x0, x1, ymid, amp, c):
    last = None
    for x in range(x0, x1 + 1):
        y = int(round(ymid - amp * math.sin((x - x0) / (x1 - x0) * 2 * math.pi)))
        if last is not None:
            for yy in range(min(last, y), max(last, y) + 1):
                p[yy][x] = c
        p[y][x] = c
        last = y


def pulses(p, x0, x1, ylow, yhigh, period, c):
    level = yhigh
    for x in range(x0, x1 + 1):
        if (x - x0) % period == 0 and x != x0:
            rect(p, x, min(ylow, yhigh), x, max(ylow, yhigh), c)
            level = ylow if level == yhigh else yhigh
        p[level][x] = c


def arrow(p, x0, x1, y, c, right=True):
    rect(p, x0, y, x1, y, c)
    tip = x1 if right else x0
    d = -1 if right else 1
    for k in range(1, 4):
        rect(p, tip + d * k, y - k, tip + d * k, y + k, c)


def draw(kind, w, h):
    p = canvas(w, h, GREY)
    frame(p, WHITE, DKGREY)
    big = w > 30
    if kind == "ad":
        rect(p, 2, 2, w - 3, h - 3, BLACK)
        sine(p, 3, w - 4, h // 2, h // 2 - 4, GREEN)
        rect(p, 3, h // 2, w - 4, h // 2, DKGREEN) if big else None
        sine(p, 3, w - 4, h // 2, h // 2 - 4, YELLOW if big else GREEN)
    elif kind == "di":
        rect(p, 2, 2, w - 3, h - 3, BLACK)
        pulses(p, 3, w * 2 // 3, h * 2 // 3, h // 3, max(3, w // 8), GREEN)
        arrow(p, w * 2 // 3 + 1, w - 5, h // 2, YELLOW, right=True)
    else:
        rect(p, 2, 2, w - 3, h - 3, BLACK)
        arrow(p, 4, w // 3 - 1, h // 2, YELLOW, right=True)
        pulses(p, w // 3 + 1, w - 4, h * 2 // 3, h // 3, max(3, w // 8), RED)
    if big:
        label = {"ad": RED, "di": GREEN, "do": BLUE}[kind]
        rect(p, w - 10, 3, w - 4, 7, label)
    return p


def main(out):
    for kind, small, large in (("ad", "ICO_TK17AD", "BMP_TK17"), ("di", "ICO_TK17DI", "BMP_TK17DI"),
                               ("do", "ICO_TK17DO", "BMP_TK17DO")):
        write_bmp(f"{out}/{small}.bmp", draw(kind, 26, 24), 26, 24)
        write_bmp(f"{out}/{large}.bmp", draw(kind, 64, 46), 64, 46)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "extension/resources/bitmaps")
