#!/usr/bin/env python3
"""Draws the program's icon (fspd.ico, 32x32) and logo (vrellogo.bmp,
360x100), both in the 16 standard VGA colours, into this directory.

Standard library only; run it again after changing a drawing:
    python3 ui/res/make_images.py
"""
import math
import os
import struct

# The 16-colour palette every Windows display has, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# A 5x7 pixel font, just the characters the pictures need.
FONT = {
    " ": ["00000"] * 7,
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "d": ["00001", "00001", "01101", "10011", "10001", "10011", "01101"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
}


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills x0..x1-1, y0..y1-1."""
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def ring(self, cx, cy, r, colour, width=1.0):
        for y in range(cy - r - 2, cy + r + 3):
            for x in range(cx - r - 2, cx + r + 3):
                if abs(math.hypot(x - cx, y - cy) - r) <= width / 2:
                    self.put(x, y, colour)

    def text(self, x, y, s, colour, scale=1):
        """Draws s with its top left at (x, y); returns the x after it."""
        for ch in s:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x + gx * scale, y + gy * scale,
                                  x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
            x += 6 * scale
        return x

    @staticmethod
    def text_width(s, scale=1):
        return len(s) * 6 * scale - scale

    def rows_4bpp(self, bottom_up=True):
        """The pixel rows packed two to a byte, each padded to 4 bytes."""
        order = range(self.height - 1, -1, -1) if bottom_up else range(self.height)
        out = bytearray()
        for y in order:
            row = self.pixels[y]
            packed = bytearray()
            for x in range(0, self.width, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < self.width else 0
                packed.append((hi << 4) | lo)
            while len(packed) % 4:
                packed.append(0)
            out += packed
        return bytes(out)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER, 4 bits per pixel, uncompressed, all 16 colours used.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 16)


def write_bmp(path, canvas):
    bits = canvas.rows_4bpp()
    header_size = 14 + 40 + 64
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", header_size + len(bits), 0, 0, header_size))
        f.write(info_header(canvas.width, canvas.height, len(bits)))
        f.write(palette_bytes())
        f.write(bits)


def write_ico(path, canvas, transparent):
    """One 16-colour image; pixels equal to `transparent` are masked out."""
    mask = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray((canvas.width + 31) // 32 * 4)
        for x in range(canvas.width):
            if canvas.pixels[y][x] == transparent:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    # The AND-masked pixels must be black so they leave the screen as is.
    for y in range(canvas.height):
        for x in range(canvas.width):
            if canvas.pixels[y][x] == transparent:
                canvas.pixels[y][x] = BLACK
    xor = canvas.rows_4bpp()
    # The header's height counts the colour image and the mask together.
    image = (info_header(canvas.width, canvas.height * 2, len(xor) + len(mask))
             + palette_bytes() + xor + bytes(mask))
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", canvas.width, canvas.height, 16, 0, 1, 4, len(image), 6 + 16))
        f.write(image)


def draw_icon():
    """A folder with a datagram flying out of it."""
    c = Canvas(32, 32, FUCHSIA)  # fuchsia stands for transparent here
    # Folder tab and body, outlined in black.
    c.rect(2, 7, 13, 11, BLACK)
    c.rect(3, 8, 12, 11, OLIVE)
    c.rect(2, 10, 30, 29, BLACK)
    c.rect(3, 11, 29, 28, YELLOW)
    c.rect(3, 11, 29, 13, OLIVE)
    c.rect(3, 27, 29, 28, OLIVE)
    # "FSP" on the front, in a 3x5 face of its own.
    small = {
        "F": ["111", "100", "110", "100", "100"],
        "S": ["111", "100", "111", "001", "111"],
        "P": ["111", "101", "111", "100", "100"],
    }
    x = 6
    for ch in "FSP":
        for gy, row in enumerate(small[ch]):
            for gx, bit in enumerate(row):
                if bit == "1":
                    c.rect(x + gx * 2, 16 + gy * 2, x + gx * 2 + 2, 16 + gy * 2 + 2, NAVY)
        x += 8
    # A datagram leaving the top right corner, with its trail.
    c.rect(21, 0, 32, 9, BLACK)
    c.rect(22, 1, 31, 8, WHITE)
    for i in range(5):  # the envelope's fold
        c.put(22 + i, 2 + i, NAVY)
        c.put(30 - i, 2 + i, NAVY)
    c.put(20, 6, RED)
    c.put(18, 7, RED)
    c.put(16, 8, RED)
    return c


def draw_logo():
    c = Canvas(360, 100, NAVY)
    # A band of colour down the bottom, and a thin rule above it.
    c.rect(0, 84, 360, 100, TEAL)
    c.rect(0, 82, 360, 83, AQUA)
    # Dithered sky: lighter towards the top left.
    for y in range(0, 82):
        for x in range(0, 360):
            if (x + y) % 2 == 0 and x + 2 * y < 120:
                c.put(x, y, BLUE)
    # A globe on the left: the server's reach.
    cx, cy, r = 46, 46, 32
    c.disc(cx, cy, r, BLUE)
    for dy in range(-r, r + 1, 10):
        half = int(math.sqrt(max(r * r - dy * dy, 0)))
        c.rect(cx - half, cy + dy, cx + half + 1, cy + dy + 1, AQUA)
    for k in (0.35, 0.75):
        rx = int(r * k)
        for y in range(cy - r, cy + r + 1):
            t = (y - cy) / r
            if abs(t) <= 1:
                w = int(rx * math.sqrt(1 - t * t))
                c.put(cx - w, y, AQUA)
                c.put(cx + w, y, AQUA)
    c.rect(cx, cy - r, cx + 1, cy + r + 1, AQUA)
    c.ring(cx, cy, r, WHITE, 1.6)
    # Datagrams leaving the globe: three arcs.
    for i, rr in enumerate((40, 47, 54)):
        for a in range(-35, 36):
            ang = math.radians(a)
            c.put(int(cx + rr * math.cos(ang)), int(cy - rr * math.sin(ang)), YELLOW if i == 0 else SILVER)
    # The name, with a shadow, and what it is.
    title = "VrelFSPd"
    scale = 5
    tx = 112 + (240 - Canvas.text_width(title, scale)) // 2
    c.text(tx + 3, 11, title, BLACK, scale)
    c.text(tx, 8, title, YELLOW, scale)
    sub = "FSP FILE SERVER"
    c.text(112 + (240 - Canvas.text_width(sub, 2)) // 2, 56, sub, WHITE, 2)
    foot = "FOR WINDOWS 95"
    c.text(360 - 8 - Canvas.text_width(foot), 89, foot, WHITE)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "fspd.ico"), draw_icon(), FUCHSIA)
    write_bmp(os.path.join(here, "vrellogo.bmp"), draw_logo())


if __name__ == "__main__":
    main()
