#!/usr/bin/env python3
"""Draws the window program's icon (app/resources/tamblewick.svg's shapes: a
database drum in a zipped folder) into a Windows icon file with a 16 x 16 and
a 32 x 32 image of 256 colours. Usage: make_icon.py OUTPUT.ico"""
import struct
import sys


def hexc(s):
    return tuple(int(s[i:i + 2], 16) for i in (1, 3, 5))


BODY, BODY_EDGE = hexc("#d9a521"), hexc("#7a5a0e")
TAB = hexc("#e8bb3c")
DRUM_TOP, DRUM, DRUM_EDGE = hexc("#5b8fd6"), hexc("#3f74c2"), hexc("#1f3f73")
ZIP = hexc("#333333")


def in_rect(x, y, l, t, w, h, grow=0.0):
    return l - grow <= x <= l + w + grow and t - grow <= y <= t + h + grow


def ell(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2


def colour_at(x, y):
    """The colour at a point of the 32-unit design, or None where it is clear."""
    c = None
    for (l, t, w, h, fill) in ((2, 6, 28, 22, BODY), (2, 4, 12, 5, TAB)):
        if in_rect(x, y, l, t, w, h, 0.5):
            c = fill if in_rect(x, y, l, t, w, h, -0.5) else BODY_EDGE
    # The drum: sides from y 12 to 22 and a rounded bottom, then its top.
    drum = (9 <= x <= 23 and 12 <= y <= 22) or (y > 22 and ell(x, y, 16, 22, 7, 2.6) <= 1)
    drum_edge = (9 - 0.5 <= x <= 23 + 0.5 and 12 <= y <= 22) or \
                (y > 22 and ell(x, y, 16, 22, 7.5, 3.1) <= 1)
    if drum_edge:
        c = DRUM if drum and abs(x - 9) > 0.5 and abs(x - 23) > 0.5 and \
            ell(x, y, 16, 22, 6.5, 2.1) <= 1 or (drum and y <= 22 and 9.5 < x < 22.5) else DRUM_EDGE
        if y > 16 and abs(ell(x, y, 16, 16, 7, 2.6) - 1) < 0.25 and 9 < x < 23:
            c = DRUM_EDGE
    if ell(x, y, 16, 12, 7.5, 3.1) <= 1:
        c = DRUM_TOP if ell(x, y, 16, 12, 6.5, 2.1) <= 1 else DRUM_EDGE
    if 26 <= x <= 28 and 7 <= y <= 27 and int((y - 7) / 1.5) % 2 == 0:
        c = ZIP
    return c


def image(size):
    """Rows of (r, g, b) or None, top row first, 4 x 4 samples a pixel."""
    rows = []
    scale = 32 / size
    for py in range(size):
        row = []
        for px in range(size):
            samples = [colour_at((px + (i + 0.5) / 4) * scale, (py + (j + 0.5) / 4) * scale)
                       for i in range(4) for j in range(4)]
            hit = [s for s in samples if s is not None]
            if len(hit) * 2 < len(samples):
                row.append(None)
            else:
                row.append(tuple(round(sum(s[k] for s in hit) / len(hit)) for k in range(3)))
        rows.append(row)
    return rows


def bmp_entry(rows):
    size = len(rows)
    palette = sorted({c for row in rows for c in row if c is not None})
    # Too many shades for 256 entries: coarser ones until they fit.
    step = 1
    while len(palette) > 255:
        step *= 2
        rows = [[None if c is None else tuple(v // step * step for v in c) for c in row]
                for row in rows]
        palette = sorted({c for row in rows for c in row if c is not None})
    palette = [(0, 0, 0)] + palette
    index = {c: i for i, c in enumerate(palette)}
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0" * (4 * (256 - len(palette)))
    xor = b""
    mask = b""
    for row in reversed(rows):  # bottom row first
        xor += bytes(index[c] if c is not None else 0 for c in row) + b"\0" * ((-size) % 4)
        bits = 0
        out = b""
        for i, c in enumerate(row):
            bits = bits << 1 | (1 if c is None else 0)
            if i % 8 == 7:
                out += bytes([bits])
                bits = 0
        mask_row = out + b"\0" * ((-len(out)) % 4)
        mask += mask_row
    return header + pal + xor + mask


def main():
    entries = [(n, bmp_entry(image(n))) for n in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for n, data in entries:
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in entries)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
