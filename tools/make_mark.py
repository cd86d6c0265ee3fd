#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws the PELORIX brand mark and the application icons as PNG files.

The mark is a teal tag with a punched hole and a small waveform: an ISRC label for a recording.
Shapes are signed-distance functions sampled several times per pixel, so the edges come out
anti-aliased without any imaging library. Usage: make_mark.py [resources-dir]
"""

import math
import os
import struct
import sys
import zlib

LIGHT_TEAL = (0x5E, 0xCA, 0xD7)
DARK_TEAL = (0x06, 0x8E, 0x9A)

# Design grid: the mark lives in a 34 x 31 box.
W, H = 34.0, 31.0
# Tag outline: a rectangle whose left end is a point, corners rounded by R.
R = 3.0
TAG = [(1.5 + R * 0.6, 15.5), (11.0, 3.0 + R), (32.5 - R, 3.0 + R), (32.5 - R, 28.0 - R),
       (11.0, 28.0 - R)]
HOLE = (10.0, 15.5, 2.3)
# Waveform bars: x centre, half height.
BARS = [(16.0, 3.2), (19.5, 6.8), (23.0, 9.0), (26.5, 5.4), (30.0, 2.6)]
BAR_HALF_WIDTH = 1.05


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def polygon_sd(px, py, pts):
    d = min(seg_dist(px, py, *pts[i], *pts[(i + 1) % len(pts)]) for i in range(len(pts)))
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return -d if inside else d


def mark_sample(x, y):
    """Colour (r, g, b, a) of the mark at design coordinates (x, y)."""
    tag = polygon_sd(x, y, TAG) - R
    if tag > 0:
        return None
    hx, hy, hr = HOLE
    if math.hypot(x - hx, y - hy) < hr:
        return None
    for bx, half in BARS:
        if abs(x - bx) < BAR_HALF_WIDTH and abs(y - 15.5) < half:
            return (255, 255, 255, 255)
    # Diagonal gradient from the light teal (top left) to the dark teal (bottom right).
    t = max(0.0, min(1.0, (x / W * 0.6 + y / H * 0.4)))
    return tuple(round(a + (b - a) * t) for a, b in zip(LIGHT_TEAL, DARK_TEAL)) + (255,)


def render(width, height, ss=4):
    """Renders the mark centred and scaled to fit in width x height pixels."""
    scale = min(width / W, height / H)
    ox = (width - W * scale) / 2
    oy = (height - H * scale) / 2
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss - ox) / scale
                    y = (py + (sy + 0.5) / ss - oy) / scale
                    c = mark_sample(x, y)
                    if c:
                        a = c[3] / 255.0
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            n = ss * ss
            alpha = acc[3] / n
            if alpha > 0:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                              round(acc[2] / acc[3]), round(alpha * 255)])
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def write_png(path, width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    for name, w, h, ss in [("PELORIX-mark.png", 34, 31, 6), ("PELORIX-mark@2x.png", 68, 62, 5)]:
        write_png(os.path.join(out, name), w, h, render(w, h, ss))
    for size in (48, 128, 256):
        inner = round(size * 0.86)
        rows = render(inner, inner, 3 if size > 64 else 4)
        pad = (size - inner) // 2
        blank = b"\0" * 4
        full = [blank * size] * pad
        full += [blank * pad + r + blank * (size - inner - pad) for r in rows]
        full += [blank * size] * (size - inner - pad)
        write_png(os.path.join(out, "icons", f"{size}x{size}", "pelorix.png"), size, size, full)


if __name__ == "__main__":
    main()
