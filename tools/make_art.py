#!/usr/bin/env python3
"""Draws Parvelo's pictures: the application icon (group 128, sixteen
images), the recording icon (group 132) and the dialog's background
bitmap (136). Shapes are described as distance fields and rendered with
4x4 supersampling, so every size gets clean edges; the 4- and 8-bit
images are matched to the standard palettes with a transparency mask.

    make_art.py <output folder>
"""

import math
import os
import struct
import sys

SUPERSAMPLE = 4

# -- shapes -----------------------------------------------------------------
# A shape is a function (x, y) -> RGBA (0..1 floats) or None, in a unit
# square (0..1 both ways, y down).


def rounded_box(x, y, cx, cy, hw, hh, r):
    qx = abs(x - cx) - hw + r
    qy = abs(y - cy) - hh + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


SCREEN_TOP = (0.22, 0.40, 0.62)
SCREEN_BOTTOM = (0.10, 0.20, 0.36)
FRAME = (0.90, 0.93, 0.97)
STAND = (0.62, 0.68, 0.76)
RECORD_RED = (0.89, 0.16, 0.20)
RECORD_RING = (1.0, 1.0, 1.0)


def app_icon(x, y):
    """A monitor with a red record dot: the screen is being recorded."""
    layers = []
    # stand and foot
    if rounded_box(x, y, 0.5, 0.86, 0.06, 0.08, 0.01) < 0:
        layers.append((STAND, 1.0))
    if rounded_box(x, y, 0.5, 0.92, 0.22, 0.04, 0.03) < 0:
        layers.append((STAND, 1.0))
    frame = rounded_box(x, y, 0.5, 0.44, 0.47, 0.36, 0.07)
    if frame < 0:
        layers.append((FRAME, 1.0))
    screen = rounded_box(x, y, 0.5, 0.44, 0.40, 0.29, 0.03)
    if screen < 0:
        layers.append((mix(SCREEN_TOP, SCREEN_BOTTOM, (y - 0.15) / 0.58), 1.0))
    ring = circle(x, y, 0.5, 0.44, 0.19)
    if ring < 0:
        layers.append((RECORD_RING, 1.0))
    dot = circle(x, y, 0.5, 0.44, 0.145)
    if dot < 0:
        layers.append((RECORD_RED, 1.0))
    return layers[-1] if layers else None


def recording_icon(x, y):
    """A bright red dot in a white ring on a dark disc: recording now."""
    if circle(x, y, 0.5, 0.5, 0.22) < 0:
        return (RECORD_RED, 1.0)
    if circle(x, y, 0.5, 0.5, 0.32) < 0:
        return (RECORD_RING, 1.0)
    if circle(x, y, 0.5, 0.5, 0.47) < 0:
        return ((0.12, 0.14, 0.18), 1.0)
    return None


def render(shape, size):
    """RGBA rows (top first), each pixel a tuple of 0..255 ints, premultiplied
    over nothing (straight alpha)."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            alpha = 0.0
            for sy in range(n):
                for sx in range(n):
                    hit = shape((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if hit:
                        colour, a = hit
                        alpha += a
                        for i in range(3):
                            acc[i] += colour[i] * a
            coverage = alpha / (n * n)
            if alpha > 0:
                rgb = [int(round(255 * c / alpha)) for c in acc]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], int(round(255 * coverage))))
        rows.append(row)
    return rows


# -- palettes -----------------------------------------------------------------

VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    colours = list(VGA16)
    for r in range(6):
        for g in range(6):
            for b in range(6):
                colours.append((r * 51, g * 51, b * 51))
    while len(colours) < 256:
        level = int(255 * (len(colours) - 232) / 23)
        colours.append((level, level, level))
    return colours[:256]


def nearest(palette, rgb):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - rgb[0]) ** 2 * 3 + (p[1] - rgb[1]) ** 2 * 4 + (p[2] - rgb[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


# -- ICO ----------------------------------------------------------------------

def row_bytes(bits):
    return ((bits + 31) // 32) * 4


def and_mask(rows, size, threshold):
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(row_bytes(size))
        for x, px in enumerate(row):
            if px[3] < threshold:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def ico_image(rows, size, bpp):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, 0, 0)
    if bpp == 32:
        pixels = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                pixels += bytes((b, g, r, a))
        return header + bytes(pixels) + and_mask(rows, size, 1)
    palette = VGA16 if bpp == 4 else palette256()
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(row_bytes(size * bpp))
        for x, (r, g, b, a) in enumerate(row):
            index = nearest(palette, (r, g, b)) if a >= 128 else 0
            if bpp == 8:
                line[x] = index
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        pixels += line
    return header + table + bytes(pixels) + and_mask(rows, size, 128)


def write_ico(path, shape, images):
    blobs = []
    cache = {}
    for size, bpp in images:
        if size not in cache:
            cache[size] = render(shape, size)
        blobs.append((size, bpp, ico_image(cache[size], size, bpp)))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, bpp, blob in blobs:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    out += b"".join(blob for _, _, blob in blobs)
    with open(path, "wb") as f:
        f.write(out)


# -- background bitmap ----------------------------------------------------------

BACKGROUND_WIDTH, BACKGROUND_HEIGHT = 300, 124


def background_pixel(x, y):
    """A light, calm gradient with two soft lens rings at the right."""
    t = y / (BACKGROUND_HEIGHT - 1)
    base = mix((0.94, 0.96, 0.99), (0.83, 0.88, 0.94), t)
    for cx, cy, r, strength in ((262, 96, 70, 0.07), (262, 96, 44, 0.05)):
        d = abs(math.hypot(x - cx, y - cy) - r)
        if d < 3:
            base = mix(base, (0.55, 0.65, 0.78), strength * (1 - d / 3))
    return tuple(int(round(255 * c)) for c in base)


def write_background(path):
    stride = row_bytes(BACKGROUND_WIDTH * 24)
    pixels = bytearray()
    for y in reversed(range(BACKGROUND_HEIGHT)):
        line = bytearray(stride)
        for x in range(BACKGROUND_WIDTH):
            r, g, b = background_pixel(x, y)
            line[x * 3:x * 3 + 3] = bytes((b, g, r))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, BACKGROUND_WIDTH, BACKGROUND_HEIGHT, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + bytes(pixels))


APP_ICON_IMAGES = [(s, bpp) for bpp in (4, 8) for s in (16, 24, 32, 48)] + \
    [(s, 32) for s in (16, 24, 32, 48, 64, 72, 96, 128)]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "parvelo.ico"), app_icon, APP_ICON_IMAGES)
    write_ico(os.path.join(out, "recording.ico"), recording_icon, [(32, 32)])
    write_background(os.path.join(out, "background.bmp"))


if __name__ == "__main__":
    main()
