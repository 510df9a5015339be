#!/usr/bin/env python3
"""Writes varnelo.ico: a card held over a reader, drawn once at 32 x 32 in 16 colours and kept so,
and the same drawing scaled to 16, 24, 32, 48 and 256 pixels in true colour (256 as PNG, as Windows
stores it). Run once; the .ico is committed."""
import struct
import sys
import zlib

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GRAY, LIME, YELLOW, BLUE, AQUA, WHITE = 0, 4, 7, 8, 10, 11, 12, 14, 15
SIZE = 32
CLEAR = None


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour, border=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                px[y][x] = border if (edge and border is not None) else colour

    # Reader: a slab with a light top face and a green lamp.
    rect(3, 20, 28, 29, GRAY, BLACK)
    for x in range(4, 28):
        px[21][x] = SILVER
    rect(22, 24, 25, 26, LIME)
    # Card: blue, a gold chip and a white stripe; its corners are cut off.
    rect(6, 2, 25, 15, BLUE, NAVY)
    for x, y in ((6, 2), (25, 2), (6, 15), (25, 15)):
        px[y][x] = CLEAR
    rect(9, 5, 13, 9, YELLOW, BLACK)
    for x in range(9, 23):
        px[12][x] = WHITE
    # Radio waves between card and reader.
    for x, y in ((13, 17), (14, 18), (15, 18), (16, 18), (17, 18), (18, 17),
                 (11, 17), (12, 18), (19, 18), (20, 17)):
        px[y][x] = AQUA
    return px


def bmp_16_colours(px):
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = px[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += bits.to_bytes(4, "big")
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return SIZE, 16, 4, header + palette + bytes(xor) + bytes(mask)


def rgba(px, size):
    """The drawing scaled to size x size (each output pixel takes the source pixel under its
    centre), as rows of (R, G, B, A) from the top."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            p = px[(2 * y + 1) * SIZE // (2 * size)][(2 * x + 1) * SIZE // (2 * size)]
            row.append((0, 0, 0, 0) if p is None else PALETTE[p] + (255,))
        rows.append(row)
    return rows


def bmp_true_colour(px, size):
    rows = rgba(px, size)
    xor = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for r, g, b, a in row:
            bits = bits << 1 | (1 if a == 0 else 0)
        mask += (bits << (stride * 8 - size)).to_bytes(stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return size, 0, 32, header + xor + bytes(mask)


def png(px, size):
    rows = rgba(px, size)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    image = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
             chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    return size, 0, 32, image


def ico(px):
    images = [bmp_16_colours(px)] + [bmp_true_colour(px, n) for n in (16, 24, 32, 48)] + [png(px, 256)]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, colours, bits, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, _, _, data in images)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "varnelo.ico"
    with open(out, "wb") as f:
        f.write(ico(draw()))
