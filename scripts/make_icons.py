#!/usr/bin/env python3
"""Draws the two icons of qtxClear and writes them as multi-size .ico files.

  app.ico   icon 128: a blue shield with a broom sweeping across it
  logo.ico  icon 139: the maker's badge shown in the main dialog

Standard library only. Each image is drawn from resolution-independent shapes in the unit
square, anti-aliased by supersampling, and stored as 32-bit BGRA bitmaps with an AND mask
(16, 32 and 48 px). There is no 256 px image: Windows XP cannot read the PNG form such an
image takes, and it would cost the shipped program a sixth of its size budget. The output is deterministic, so re-running
the script reproduces the committed files byte for byte.

Usage: scripts/make_icons.py [output folder]   (default: resources/ beside this script)
"""
import math
import os
import struct
import sys

BMP_SIZES = (16, 32, 48)


# ---- geometry ---------------------------------------------------------------------------

def quad_bezier(p0, p1, p2, steps=24):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        a, b, c = (1 - t) ** 2, 2 * (1 - t) * t, t * t
        pts.append((a * p0[0] + b * p1[0] + c * p2[0], a * p0[1] + b * p1[1] + c * p2[1]))
    return pts


def inside_polygon(x, y, poly):
    hit = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def segment_distance(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def scaled(poly, factor, centre):
    cx, cy = centre
    return [(cx + (px - cx) * factor, cy + (py - cy) * factor) for px, py in poly]


def shield_outline():
    # Flat top with slightly rounded corners, straight flanks, curved sides meeting in a point.
    pts = [(0.14, 0.16)]
    pts += quad_bezier((0.14, 0.16), (0.14, 0.07), (0.24, 0.07), 6)[1:]
    pts += quad_bezier((0.76, 0.07), (0.86, 0.07), (0.86, 0.16), 6)
    pts += [(0.86, 0.46)]
    pts += quad_bezier((0.86, 0.46), (0.84, 0.80), (0.50, 0.96))[1:]
    pts += quad_bezier((0.50, 0.96), (0.16, 0.80), (0.14, 0.46))[1:]
    return pts


def rounded_square_distance(x, y, half, radius):
    # Signed distance from the square centred at (0.5, 0.5) with rounded corners.
    qx = abs(x - 0.5) - (half - radius)
    qy = abs(y - 0.5) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def lerp(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


# ---- the two pictures -------------------------------------------------------------------
# Each returns (r, g, b, a) with components 0..1 for one point of the unit square.

SHIELD = shield_outline()
SHIELD_INNER = scaled(SHIELD, 0.84, (0.5, 0.48))
RIM = (0.05, 0.16, 0.38)
BLUE_TOP = (0.30, 0.62, 0.95)
BLUE_BOTTOM = (0.06, 0.30, 0.70)
HANDLE = ((0.80, 0.12), (0.47, 0.57))
BRISTLES = [(0.52, 0.53), (0.39, 0.46), (0.17, 0.76), (0.30, 0.87), (0.44, 0.82)]
BRISTLE_TIE = ((0.53, 0.52), (0.38, 0.45))
STRAW = (0.98, 0.78, 0.22)
STRAW_DARK = (0.78, 0.50, 0.08)
WOOD = (0.97, 0.96, 0.92)


def app_pixel(x, y):
    colour, alpha = None, 0.0
    if inside_polygon(x, y, SHIELD):
        colour, alpha = RIM, 1.0
        if inside_polygon(x, y, SHIELD_INNER):
            colour = lerp(BLUE_TOP, BLUE_BOTTOM, (y - 0.1) / 0.8)
    # The broom lies across the shield and sticks out over its edge.
    if segment_distance(x, y, *HANDLE) < 0.055:
        colour, alpha = RIM, 1.0
    if segment_distance(x, y, *HANDLE) < 0.032:
        colour, alpha = WOOD, 1.0
    if inside_polygon(x, y, BRISTLES):
        colour, alpha = STRAW, 1.0
        # Two darker grooves along the bristles.
        for start, end in (((0.45, 0.52), (0.25, 0.82)), ((0.49, 0.55), (0.37, 0.85))):
            if segment_distance(x, y, start, end) < 0.014:
                colour = STRAW_DARK
    if segment_distance(x, y, *BRISTLE_TIE) < 0.035:
        colour, alpha = RIM, 1.0
    if colour is None:
        return (0.0, 0.0, 0.0, 0.0)
    return colour + (alpha,)


BADGE_LIGHT = (0.16, 0.70, 0.66)
BADGE_DARK = (0.03, 0.36, 0.42)
BADGE_EDGE = (0.02, 0.22, 0.26)
CHEVRON = [(0.22, 0.26), (0.36, 0.26), (0.50, 0.60), (0.64, 0.26), (0.78, 0.26), (0.57, 0.78),
           (0.43, 0.78)]


def logo_pixel(x, y):
    d = rounded_square_distance(x, y, 0.46, 0.16)
    if d > 0:
        return (0.0, 0.0, 0.0, 0.0)
    if d > -0.045:
        colour = BADGE_EDGE
    else:
        colour = lerp(BADGE_LIGHT, BADGE_DARK, (x + y - 0.2) / 1.6)
    if inside_polygon(x, y, CHEVRON):
        colour = (1.0, 1.0, 1.0)
    elif inside_polygon(x + 0.025, y - 0.035, CHEVRON):
        colour = lerp(colour, (0.0, 0.0, 0.0), 0.35)  # drop shadow below right
    return colour + (1.0,)


# ---- rasterising and encoding -----------------------------------------------------------

def render(pixel, size):
    """Returns rows top to bottom of (r, g, b, a) bytes, not premultiplied."""
    grid = 4 if size <= 64 else 3
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            sr = sg = sb = sa = 0.0
            for sy in range(grid):
                for sx in range(grid):
                    r, g, b, a = pixel((px + (sx + 0.5) / grid) / size,
                                       (py + (sy + 0.5) / grid) / size)
                    sr += r * a
                    sg += g * a
                    sb += b * a
                    sa += a
            if sa == 0:
                row.append((0, 0, 0, 0))
            else:
                n = grid * grid
                row.append((round(sr / sa * 255), round(sg / sa * 255), round(sb / sa * 255),
                            round(sa / n * 255)))
        rows.append(row)
    return rows


def bmp_entry(rows):
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up, as bitmaps are stored
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def write_ico(path, pixel):
    images = [(s, bmp_entry(render(pixel, s))) for s in BMP_SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources')
    write_ico(os.path.join(folder, 'app.ico'), app_pixel)
    write_ico(os.path.join(folder, 'logo.ico'), logo_pixel)


if __name__ == '__main__':
    main()
