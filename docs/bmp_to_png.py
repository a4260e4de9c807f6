#!/usr/bin/env python3
"""Renders an uncompressed 24- or 32-bit BMP file as a PNG, for the README.

Usage: docs/bmp_to_png.py INPUT.bmp OUTPUT.png [SCALE]

SCALE (default 1) repeats each pixel SCALE times in both directions, so that a
small picture stays crisp when shown large. Standard library only.
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        sys.exit(f"{path}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    _, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits not in (24, 32) or compression != 0:
        sys.exit(f"{path}: only uncompressed 24- and 32-bit pictures are rendered")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        stored = abs(height) - 1 - y if height > 0 else y
        start = offset + stored * stride
        row = bytearray()
        for x in range(width):
            b, g, r = data[start + x * step:start + x * step + 3]
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return width, abs(height), rows


def write_png(path, width, height, rows, scale):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        wide = b"".join(row[i:i + 3] * scale for i in range(0, len(row), 3))
        for _ in range(scale):
            raw += b"\0" + wide  # filter type 0 (none) on every line
    header = struct.pack(">IIBBBBB", width * scale, height * scale, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                + chunk(b"IEND", b""))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    scale = int(sys.argv[3]) if len(sys.argv) == 4 else 1
    width, height, rows = read_bmp(sys.argv[1])
    write_png(sys.argv[2], width, height, rows, scale)


if __name__ == "__main__":
    main()
