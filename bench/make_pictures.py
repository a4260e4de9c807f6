#!/usr/bin/env python3
"""Writes the benchmark pictures: 24-bit BMP files of the given size.

    make_pictures.py KIND WIDTH HEIGHT OUT.bmp

KIND is one of
  photo     smooth colour with 20 % white speckles (no large white areas)
  document  white with dark text-like strokes in lines, a white page margin
  white     all white
  dots      2 x 2 dots every 40 pixels on white
  dotsN     one-pixel dots on an N x N grid on white (dots4, dots12, ...)
  lineart   one-pixel lines on white: concentric circles 9 pixels apart and
            diagonals
  worst     the bleed renderer's slowest case known: a one-pixel dot every
            64 columns in every row, shifted 23 columns from row to row, so
            that every row and every 64 columns of it hold colour while the
            samples of many pixels stay white for many passes (worstN: a dot
            every N columns)
The pictures are the same on every run.
"""
import math
import random
import struct
import sys


def rows_photo(width, height):
    rnd = random.Random(1)
    blue = bytes(x * 255 // width for x in range(width))
    red_of = bytes(t * 255 // (width + height) for t in range(width + height))
    for y in range(height):
        row = bytearray(3 * width)
        row[0::3] = blue
        row[1::3] = bytes((y * 255 // height,)) * width
        row[2::3] = red_of[y:y + width]
        for _ in range(width // 5):
            x = rnd.randrange(width)
            row[3 * x:3 * x + 3] = b"\xff\xff\xff"
        yield bytes(row)


def rows_document(width, height):
    rnd = random.Random(2)
    white = b"\xff" * (3 * width)
    line_height, margin = 24, width // 10
    for y in range(height):
        band = y % line_height
        if band >= 14 or y < margin or y >= height - margin:
            yield white
            continue
        row = bytearray(white)
        x = margin
        while x < width - margin:
            word = rnd.randrange(20, 90)
            for stroke in range(x, min(x + word, width - margin), 5):
                if rnd.random() < 0.6:
                    row[3 * stroke:3 * stroke + 6] = b"\x20\x20\x20" * 2
            x += word + 12
        yield bytes(row)


def rows_white(width, height):
    white = b"\xff" * (3 * width)
    for _ in range(height):
        yield white


def rows_dots(width, height):
    white = b"\xff" * (3 * width)
    dotted = bytearray(white)
    for x in range(0, width, 40):
        dotted[3 * x:3 * x + 6] = b"\x30\x60\x90" * 2
    dotted = bytes(dotted)
    for y in range(height):
        yield dotted if y % 40 in (0, 1) else white


def rows_grid_dots(spacing):
    def rows(width, height):
        white = b"\xff" * (3 * width)
        dotted = bytearray(white)
        for x in range(spacing // 2, width, spacing):
            dotted[3 * x:3 * x + 3] = b"\x30\x60\x90"
        dotted = bytes(dotted)
        for y in range(height):
            yield dotted if y % spacing == spacing // 2 else white
    return rows


def rows_lineart(width, height):
    cx, cy = width / 2, height / 2
    ink = b"\x40\x20\x10"
    for y in range(height):
        row = bytearray(b"\xff" * (3 * width))
        dy = y + 0.5 - cy
        for radius in range(9, int(math.hypot(cx, cy)) + 1, 9):
            if radius * radius < dy * dy:
                continue
            half = math.sqrt(radius * radius - dy * dy)
            for x in (int(cx - half), int(cx + half)):
                if 0 <= x < width:
                    row[3 * x:3 * x + 3] = ink
        for x in (y * width // height, width - 1 - y * width // height):
            row[3 * x:3 * x + 3] = ink
        yield bytes(row)


def rows_worst(spacing):
    def rows(width, height):
        for y in range(height):
            row = bytearray(b"\xff" * (3 * width))
            for x in range((23 * y) % spacing, width, spacing):
                row[3 * x:3 * x + 3] = b"\x30\x60\x90"
            yield bytes(row)
    return rows


def main():
    kind, width, height, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    kinds = {"photo": rows_photo, "document": rows_document, "white": rows_white, "dots": rows_dots,
             "lineart": rows_lineart, "worst": rows_worst(64)}
    if kind in kinds:
        rows = kinds[kind]
    elif kind.startswith("worst"):
        rows = rows_worst(int(kind[len("worst"):]))
    else:
        rows = rows_grid_dots(int(kind[len("dots"):]))
    stride = (3 * width + 3) & ~3
    pad = b"\0" * (stride - 3 * width)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + stride * height, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height, 0, 0, 0, 0))
        for row in rows(width, height):  # bottom row first
            f.write(row + pad)


if __name__ == "__main__":
    main()
