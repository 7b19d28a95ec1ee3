#!/usr/bin/env python3
"""Draws the window's button icons as 48x48 PNG files (Python standard library only).

The action buttons are coloured, so their glyphs are white on a transparent ground. The
".." row of the file list sits on white, so its glyph is blue. Edges are smoothed by 4x4
supersampling.

Usage: make_icons.py [output directory]   (default: the directory of this script)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 48
SUBSAMPLES = 4
WHITE = (255, 255, 255)
BLUE = (0, 122, 255)


# Shapes: each is a function (x, y) -> bool in a 48x48 coordinate space.

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def segment(ax, ay, bx, by, width):
    """A line from a to b with round caps."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    half = width / 2.0

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def arc(cx, cy, radius, width, start_deg, end_deg):
    """A ring segment; angles in degrees, counter-clockwise from the positive x axis."""
    inner, outer = radius - width / 2.0, radius + width / 2.0

    def inside(x, y):
        dx, dy = x - cx, cy - y
        r = math.hypot(dx, dy)
        if not inner <= r <= outer:
            return False
        angle = math.degrees(math.atan2(dy, dx)) % 360
        return (angle - start_deg) % 360 <= (end_deg - start_deg) % 360
    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def difference(shape, *holes):
    return lambda x, y: shape(x, y) and not any(hole(x, y) for hole in holes)


# Glyphs.

def upload():
    return union(
        polygon([(24, 6), (37, 20), (11, 20)]),
        rect(19.5, 19, 28.5, 32),
        segment(8, 33, 8, 40, 4), segment(40, 33, 40, 40, 4), segment(8, 40, 40, 40, 4))


def download():
    return union(
        polygon([(24, 33), (37, 19), (11, 19)]),
        rect(19.5, 6, 28.5, 20),
        segment(8, 33, 8, 40, 4), segment(40, 33, 40, 40, 4), segment(8, 40, 40, 40, 4))


def delete():
    body = polygon([(12, 15), (36, 15), (33.5, 42), (14.5, 42)])
    slots = [rect(x - 1.2, 20, x + 1.2, 37) for x in (19, 24, 29)]
    return union(
        segment(9, 11, 39, 11, 3.5),
        rect(19, 6, 29, 11),
        difference(body, *slots))


def refresh():
    # A ring open at the upper right; the arrowhead sits on its lower end of the gap and
    # points along the ring, counter-clockwise.
    cx, cy, radius, angle = 24.0, 25.0, 13.0, math.radians(30)
    end_x, end_y = cx + radius * math.cos(angle), cy - radius * math.sin(angle)
    along = (-math.sin(angle), -math.cos(angle))  # screen coordinates, y down
    outward = (math.cos(angle), -math.sin(angle))
    tip = (end_x + 9 * along[0], end_y + 9 * along[1])
    left = (end_x + 7 * outward[0], end_y + 7 * outward[1])
    right = (end_x - 7 * outward[0], end_y - 7 * outward[1])
    return union(arc(cx, cy, radius, 5, 90, 30), polygon([tip, left, right]))


def go_up():
    # An arrow that leaves the bottom right, turns and points up at the top left.
    return union(
        polygon([(14, 5), (25, 17), (3, 17)]),
        rect(11.5, 16, 16.5, 37),
        segment(14, 37, 40, 37, 5))


def render(shape, colour):
    rows = []
    step = 1.0 / SUBSAMPLES
    for py in range(SIZE):
        row = bytearray([0])  # PNG filter type: none
        for px in range(SIZE):
            hits = 0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    if shape(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                        hits += 1
            alpha = round(255 * hits / (SUBSAMPLES * SUBSAMPLES))
            row += bytes(colour) + bytes([alpha])
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


ICONS = {
    "上传文件.png": (upload, WHITE),
    "下载文件.png": (download, WHITE),
    "删除文件.png": (delete, WHITE),
    "刷新文件夹.png": (refresh, WHITE),
    "返回上一层.png": (go_up, BLUE),
}


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, (glyph, colour) in ICONS.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(png(render(glyph(), colour)))


if __name__ == "__main__":
    main()
