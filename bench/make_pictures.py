#!/usr/bin/env python3
"""Writes the benchmark pictures: 24-bit BMP files of the given size.

    make_pictures.py KIND WIDTH HEIGHT OUT.bmp

KIND is photo (smooth colour with 20 % white speckles), document (white with
dark text-like strokes), white (all white) or dots (sparse regular dots on
white). The pictures are the same on every run.
"""
import random
import struct
import sys


def rows_photo(width, height):
    rnd = random.Random(1)
    for y in range(height):
        g = y * 255 // height
        row = bytearray()
        for x in range(width):
            row += bytes((x * 255 // width, g, (x + y) * 255 // (width + height)))
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


def main():
    kind, width, height, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    rows = {"photo": rows_photo, "document": rows_document, "white": rows_white, "dots": rows_dots}[kind]
    stride = (3 * width + 3) & ~3
    pad = b"\0" * (stride - 3 * width)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + stride * height, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height, 0, 0, 0, 0))
        for row in rows(width, height):  # bottom row first
            f.write(row + pad)


if __name__ == "__main__":
    main()
