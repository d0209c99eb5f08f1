#!/usr/bin/python3
"""Draws the product icon: 32 x 32 pixels, 256 colours (an 8-bit palette
icon). A blue tile with a rising bar chart and an upward arrow: a charting
product being brought up to date.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

W = H = 32

PALETTE = [
    (0, 0, 0),        # 0 outline
    (24, 64, 160),    # 1 tile, dark blue
    (48, 112, 208),   # 2 tile, light blue
    (255, 255, 255),  # 3 white
    (250, 200, 40),   # 4 gold bars
    (60, 190, 90),    # 5 green arrow
    (20, 110, 50),    # 6 dark green edge
]


def draw():
    px = [[None] * W for _ in range(H)]  # None = transparent

    def put(x, y, c):
        if 0 <= x < W and 0 <= y < H:
            px[y][x] = c

    # Rounded tile with a vertical gradient.
    for y in range(1, 31):
        for x in range(1, 31):
            corner = min(x - 1, 30 - x) + min(y - 1, 30 - y)
            if corner < 2 and min(x - 1, 30 - x) < 2 and min(y - 1, 30 - y) < 2 and corner < 1:
                continue
            put(x, y, 2 if y < 16 else 1)
    for x in range(2, 30):
        put(x, 1, 0)
        put(x, 30, 0)
    for y in range(2, 30):
        put(1, y, 0)
        put(30, y, 0)
    # Base line and three rising bars.
    for x in range(5, 27):
        put(x, 26, 3)
    for i, (x0, top) in enumerate(((6, 20), (12, 15), (18, 10))):
        for x in range(x0, x0 + 4):
            for y in range(top, 26):
                put(x, y, 4)
    # Upward arrow on the right.
    for y in range(9, 25):
        put(24, y, 5)
        put(25, y, 5)
        put(23, y, 6)
    for k in range(5):
        for x in range(24 - k, 26 + k):
            put(x, 5 + k, 5)
    return px


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    px = draw()
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    palette += b"\0" * (256 * 4 - len(palette))
    xor = b"".join(bytes((px[y][x] or 0) for x in range(W)) for y in reversed(range(H)))
    and_rows = []
    for y in reversed(range(H)):
        bits = 0
        for x in range(W):
            if px[y][x] is None:
                bits |= 1 << (31 - x)
        and_rows.append(struct.pack(">I", bits))
    and_mask = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 8, 0, len(xor) + len(and_mask), 0, 0, 256, 0)
    image = header + palette + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 8, len(image), 6 + 16)
    with open(sys.argv[1], "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main()
