#!/usr/bin/env python3
"""Draws the control's artwork: the designer bitmap shown inside the raised
edge (24 x 22, the control's fixed 28 x 26 less the edge) and the about-box
icon (48 x 48). A hub that hails: a blue node sending orange waves towards two
small peers. Run it to regenerate the PNG files beside it."""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = 4  # per axis, for smooth edges


def write_png(path, width, height, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def blend(under, over, alpha):
    return tuple(u * (1 - alpha) + o * alpha for u, o in zip(under, over))


def render(width, height, shade):
    """shade(x, y) gives the RGBA colour of a point; supersampled per pixel."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = shade(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                colour = [acc[i] / acc[3] for i in range(3)]
            else:
                colour = [0, 0, 0]
            row.append(tuple(int(round(c)) for c in colour) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


BLUE = (32, 92, 176)
LIGHT_BLUE = (120, 170, 230)
ORANGE = (236, 128, 24)
GREEN = (40, 150, 90)
WHITE = (255, 255, 255)


def scene(scale, ox, oy, background):
    """The motif in a 24 x 22 design space, scaled and moved."""
    def shade(x, y):
        u = (x - ox) / scale
        v = (y - oy) / scale
        colour, alpha = background(x, y)
        # Waves: two arcs around the hub, opening to the right.
        hx, hy = 7.0, 11.0
        d = math.hypot(u - hx, v - hy)
        angle = math.atan2(v - hy, u - hx)
        if abs(angle) < 0.95:
            for radius in (6.0, 9.5):
                if abs(d - radius) < 0.85:
                    colour, alpha = blend(colour, ORANGE, 1.0), 1.0
        # Two peers at the right.
        for px, py in ((20.0, 5.0), (20.0, 17.0)):
            pd = math.hypot(u - px, v - py)
            if pd < 2.6:
                colour = GREEN if pd < 2.0 else blend(GREEN, WHITE, 0.4)
                alpha = 1.0
        # The hub, with a light rim and a highlight.
        if d < 4.2:
            colour = BLUE if d < 3.4 else LIGHT_BLUE
            if math.hypot(u - hx + 1.2, v - hy + 1.2) < 1.1:
                colour = blend(BLUE, WHITE, 0.7)
            alpha = 1.0
        return colour + (alpha,)
    return shade


def bitmap():
    # Opaque, on the face colour the edge around it is drawn for.
    face = (236, 236, 232)
    return render(24, 22, scene(1.0, 0.0, 0.0, lambda x, y: (face, 1.0)))


def icon():
    size = 48

    def tile(x, y):
        # A rounded square with a soft vertical gradient.
        m, r = 2.0, 9.0
        cx = min(max(x, m + r), size - m - r)
        cy = min(max(y, m + r), size - m - r)
        inside = math.hypot(x - cx, y - cy) <= r
        top, bottom = (250, 250, 246), (214, 222, 232)
        t = y / size
        colour = blend(top, bottom, t)
        if not inside:
            return (0, 0, 0), 0.0
        if math.hypot(x - cx, y - cy) > r - 1.2 or x < m + 1.2 or x > size - m - 1.2 \
                or y < m + 1.2 or y > size - m - 1.2:
            colour = (120, 132, 150)
        return colour, 1.0

    return render(size, size, scene(1.75, 3.0, 4.75, tile))


if __name__ == "__main__":
    write_png(os.path.join(HERE, "control-bitmap.png"), 24, 22, bitmap())
    write_png(os.path.join(HERE, "about-icon.png"), 48, 48, icon())
