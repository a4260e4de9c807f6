#!/usr/bin/env python3
"""Writes examples/sample.bmp: a small landscape (sky, sun, hills, clouds).

A 160 x 120 picture, 24 bits per pixel, bottom row first as BMP stores it.
The clouds are pure white, so the tool's white transparency shows through
them. Standard library only; the output is the same on every run.

Usage: scripts/make_sample.py [OUTPUT]   (default: examples/sample.bmp)
"""
import math
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT = 160, 120

SUN = (118.0, 34.0, 13.0)  # centre x, centre y, radius
# Each cloud is a few overlapping puffs: (x, y, radius).
CLOUDS = [
    [(22, 24, 8), (32, 20, 10), (43, 24, 8), (32, 27, 7)],
    [(70, 46, 6), (79, 42, 8), (89, 46, 6)],
    [(138, 62, 5), (146, 58, 7), (154, 62, 5)],
]


def mix(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def sky(y):
    return mix((40, 90, 170), (200, 225, 245), y / 85.0)


def far_hill_top(x):
    return 74 + 7 * math.sin(x / 17.0 + 1.2) + 4 * math.sin(x / 7.0)


def near_hill_top(x):
    return 90 + 9 * math.sin(x / 23.0 - 0.7) + 3 * math.sin(x / 9.0 + 2.0)


def cover(distance):
    """How much of a pixel an edge at this signed distance covers (0..1)."""
    return min(max(0.5 - distance, 0.0), 1.0)


def pixel(x, y):
    px, py = x + 0.5, y + 0.5
    colour = sky(py)
    sx, sy, sr = SUN
    d = math.hypot(px - sx, py - sy)
    colour = mix(colour, (255, 236, 170), 0.35 * math.exp(-((d - sr) / 9.0) ** 2) if d > sr else 0.0)
    colour = mix(colour, (255, 214, 90), cover(d - sr))
    for cloud in CLOUDS:
        inside = min(math.hypot(px - cx, py - cy) - r for cx, cy, r in cloud)
        colour = mix(colour, (255, 255, 255), cover(inside))
    far = far_hill_top(px)
    colour = mix(colour, mix((96, 140, 120), (70, 112, 92), (py - far) / 30.0), cover(far - py))
    near = near_hill_top(px)
    shade = 0.5 + 0.5 * math.sin(px / 11.0 + py / 5.0)
    ground = mix((88, 160, 60), (56, 120, 40), (py - near) / 30.0 + 0.15 * shade)
    colour = mix(colour, ground, cover(near - py))
    return tuple(int(round(c)) for c in colour)


def bmp_bytes():
    stride = (WIDTH * 3 + 3) & ~3
    rows = []
    for y in reversed(range(HEIGHT)):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + pixels


def main():
    default = Path(__file__).resolve().parent.parent / "examples" / "sample.bmp"
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    target.write_bytes(bmp_bytes())


if __name__ == "__main__":
    main()
