#!/usr/bin/env python3
"""Writes the benchmark pictures: BMP files of the given size.

    make_pictures.py KIND WIDTH HEIGHT OUT.bmp [FORMAT]

KIND is one of
  photo     smooth colour with 20 % white speckles (no large white areas)
  specks    a photograph with white specks: smooth colour with fine grain,
            and white specks of one to three pixels, one speck in 400 pixels
  document  white with dark text-like strokes in lines, a white page margin
  white     all white
  dots      2 x 2 dots every 40 pixels on white
  dotsN     one-pixel dots on an N x N grid on white (dots4, dots12, ...)
  lineart   one-pixel lines on white: concentric circles 9 pixels apart and
            diagonals
  hatchN    fine hatching: one-pixel diagonals N pixels apart on white
            (hatch50)
  randomN   one-pixel dots at random on white, one pixel in N (random64)
  page      a printed page: lines of text-like glyphs, dark with grey edges,
            on white between wide margins (2480 x 3508 is A4 at 300 dpi)
  worst     the bleed renderer's slowest case known: a one-pixel dot every
            64 columns in every row, shifted 23 columns from row to row, so
            that every row and every 64 columns of it hold colour while the
            samples of many pixels stay white for many passes (worstN: a dot
            every N columns)
  claim     a header alone: a 54-byte file that claims a 24-bit picture of
            the given size and holds none of its pixels
FORMAT is how the pixels are stored:
  rgb24     24 bits per pixel (the default)
  bw1       1 bit per pixel: white, and black for every other colour
  grey8     8 bits per pixel through a table of 256 greys (the green channel
            of each pixel)
  rle8      the same greys, run-length compressed (RLE8)
The pictures are the same on every run. A photo one pixel wide is made in
bulk: a picture of millions of one-pixel rows would take minutes row by row.
"""
import math
import random
import re
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


def rows_specks(width, height):
    rnd = random.Random(3)
    blue = bytes(x * 255 // width for x in range(width))
    red_of = bytes(t * 255 // (width + height) for t in range(width + height))
    # Grain: small random steps, so that neighbours differ.
    grain = bytes(rnd.randrange(12) for _ in range(3 * width + 64))
    clamp = bytes(min(value, 243) for value in range(256))
    for y in range(height):
        row = bytearray(3 * width)
        row[0::3] = blue
        row[1::3] = bytes((16 + y * 220 // height,)) * width
        row[2::3] = red_of[y:y + width]
        # Channels kept at 243 or less take the grain without a carry into
        # the next byte, and without reaching white.
        shift = rnd.randrange(64)
        grainy = int.from_bytes(row.translate(clamp), "big") + int.from_bytes(grain[shift:shift + 3 * width], "big")
        row = bytearray(grainy.to_bytes(3 * width, "big"))
        for _ in range(width // 400):
            x = rnd.randrange(width)
            size = rnd.randrange(1, 4)
            row[3 * x:3 * min(x + size, width)] = b"\xff" * (3 * (min(x + size, width) - x))
        yield bytes(row)


def rows_hatch(spacing):
    def rows(width, height):
        for y in range(height):
            row = bytearray(b"\xff" * (3 * width))
            for x in range(y % spacing, width, spacing):
                row[3 * x:3 * x + 3] = b"\x20\x20\x20"
            yield bytes(row)
    return rows


def rows_random(one_in):
    def rows(width, height):
        rnd = random.Random(4)
        white = b"\xff" * (3 * width)
        for _ in range(height):
            row = bytearray(white)
            x = rnd.randrange(2 * one_in)
            while x < width:
                row[3 * x:3 * x + 3] = b"\x30\x60\x90"
                x += 1 + rnd.randrange(2 * one_in - 1)
            yield bytes(row)
    return rows


def rows_page(width, height):
    """Lines of text: glyphs of 5 x 7 dots, each dot 3 x 4 pixels of dark
    ink with a grey pixel either side, in words, between wide margins."""
    rnd = random.Random(5)
    glyphs = [[rnd.getrandbits(5) for _ in range(7)] for _ in range(40)]
    ink, edge = b"\x18\x18\x18" * 3, b"\xa0\xa0\xa0"
    margin, pitch, advance = width // 8, 50, 18
    page = [b"\xff" * (3 * width)] * height  # top row first
    for top in range(margin, height - margin - 28, pitch):
        line = [bytearray(page[0]) for _ in range(28)]
        dots = []
        x = margin
        while x + advance < width - margin:
            for _ in range(rnd.randrange(2, 10)):
                if x + advance >= width - margin:
                    break
                glyph = rnd.choice(glyphs)
                dots += [(x + 3 * gx, 4 * gy) for gy in range(7) for gx in range(5) if glyph[gy] >> gx & 1]
                x += advance
            x += advance
        for paint in ("edges", "ink"):
            for dx, dy in dots:
                for row in line[dy:dy + 4]:
                    if paint == "edges":
                        row[3 * dx - 3:3 * dx] = edge
                        row[3 * dx + 9:3 * dx + 12] = edge
                    else:
                        row[3 * dx:3 * dx + 9] = ink
        page[top:top + 28] = [bytes(row) for row in line]
    yield from reversed(page)


def photo_column(height):
    """The photo one pixel wide: each channel a ramp, built from its runs."""
    def ramp(denominator):
        counts = [0] * 256
        for value in range(256):
            # The rows y with y * 255 // denominator == value.
            first = -(-value * denominator // 255)
            last = -(-(value + 1) * denominator // 255)
            counts[value] = max(0, min(last, height) - min(first, height))
        return b"".join(bytes((value,)) * count for value, count in enumerate(counts))
    pixels = bytearray(4 * height)  # blue 0, the fourth byte padding
    pixels[1::4] = ramp(height)
    pixels[2::4] = ramp(1 + height)
    return bytes(pixels)


def rle8_row(indices):
    """One row in RLE8: runs of two or more as counted runs, stretches of
    three or more single pixels as absolute runs, an end-of-line code."""
    out = bytearray()
    singles = bytearray()

    def flush_singles():
        while singles:
            chunk = singles[:254]
            del singles[:254]
            if len(chunk) >= 3:
                out.extend((0, len(chunk)))
                out.extend(chunk)
                if len(chunk) % 2:
                    out.append(0)
            else:
                for value in chunk:
                    out.extend((1, value))

    for run in re.finditer(rb"(.)\1*", indices, re.S):
        length, value = run.end() - run.start(), indices[run.start()]
        if length == 1:
            singles.append(value)
            continue
        flush_singles()
        while length:
            count = min(length, 255)
            out.extend((count, value))
            length -= count
    flush_singles()
    return bytes(out)


def grey_indices(row):
    return row[1::3]


def bw_bits(row, width):
    """White (every channel 255) as bit 1, every other colour as bit 0."""
    full = bytes(1 if value == 255 else 0 for value in range(256))
    bits = (int.from_bytes(row[0::3].translate(full), "big") & int.from_bytes(row[1::3].translate(full), "big")
            & int.from_bytes(row[2::3].translate(full), "big")).to_bytes(width, "big")
    text = bits.translate(bytes.maketrans(b"\x00\x01", b"01")) + b"0" * (-width % 8)
    return int(text, 2).to_bytes(len(text) // 8, "big")


def write_bmp(path, width, height, bit_count, table, compression, pixels):
    """pixels: an iterable of byte strings in file order."""
    with open(path, "wb") as f:
        f.write(b"\0" * 54)
        f.write(table)
        size = 0
        for chunk in pixels:
            f.write(chunk)
            size += len(chunk)
        f.seek(0)
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(table) + size, 0, 0, 54 + len(table)))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, bit_count, compression, size, 0, 0,
                            len(table) // 4, 0))


def padded(rows, stride):
    for row in rows:
        yield row + b"\0" * (stride - len(row))


def store(path, width, height, rows, form):
    """Writes rows (24-bit, bottom row first) in the given format."""
    greys = b"".join(bytes((v, v, v, 0)) for v in range(256))
    if form == "rgb24":
        write_bmp(path, width, height, 24, b"", 0, padded(rows, (3 * width + 3) & ~3))
    elif form == "bw1":
        write_bmp(path, width, height, 1, b"\0\0\0\0\xff\xff\xff\0", 0,
                  padded((bw_bits(row, width) for row in rows), (width + 31) // 32 * 4))
    elif form == "grey8":
        write_bmp(path, width, height, 8, greys, 0, padded((grey_indices(row) for row in rows), (width + 3) & ~3))
    elif form == "rle8":
        encoded = [rle8_row(grey_indices(row)) + b"\0\0" for row in rows]
        encoded[-1] = encoded[-1][:-2] + b"\0\1"  # the last row ends the bitmap
        write_bmp(path, width, height, 8, greys, 1, encoded)
    else:
        sys.exit(f"unknown format {form}")


def main():
    kind, width, height, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    form = sys.argv[5] if len(sys.argv) > 5 else "rgb24"
    if kind == "claim":
        write_bmp(path, width, height, 24, b"", 0, [])
        return
    if kind == "photo" and width == 1 and form == "rgb24":
        write_bmp(path, width, height, 24, b"", 0, [photo_column(height)])
        return
    kinds = {"photo": rows_photo, "document": rows_document, "white": rows_white, "dots": rows_dots,
             "lineart": rows_lineart, "worst": rows_worst(64), "specks": rows_specks, "page": rows_page}
    numbered = {"worst": rows_worst, "hatch": rows_hatch, "random": rows_random, "dots": rows_grid_dots}
    if kind in kinds:
        rows = kinds[kind]
    else:
        prefix = kind.rstrip("0123456789")
        if prefix not in numbered or prefix == kind:
            sys.exit(f"unknown kind {kind}")
        rows = numbered[prefix](int(kind[len(prefix):]))
    store(path, width, height, rows(width, height), form)


if __name__ == "__main__":
    main()
