#!/usr/bin/env python3
"""Draws the window's background picture and the program's icon.

Writes into app/assets/: background.bmp (403 x 250, 24 bits per pixel),
velmora.ico (16, 32 and 48 pixels at 4, 8 and 32 bits per pixel, 72
pixels at 32 bits per pixel, and 256 pixels stored as PNG, as Windows Vista
and later read it) and icon-N.png for each size and for 128 pixels. Uses the standard
library only; run it again after changing the artwork and commit the output.
"""
import math
import os
import struct
import sys
import zlib

STRIP_BLUE = (0, 51, 153)

# A 5 x 7 block font for the few letters the artwork needs.
FONT = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    "M": ["X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"],
    "O": [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "A": [".XXX.", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"],
    "C": [".XXXX", "X....", "X....", "X....", "X....", "X....", ".XXXX"],
    "N": ["X...X", "XX..X", "X.X.X", "X..XX", "X...X", "X...X", "X...X"],
    "F": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "X...."],
    "I": ["XXX", ".X.", ".X.", ".X.", ".X.", ".X.", "XXX"],
    "G": [".XXXX", "X....", "X....", "X..XX", "X...X", "X...X", ".XXX."],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    " ": ["...", "...", "...", "...", "...", "...", "..."],
}


class Canvas:
    def __init__(self, width, height, colour):
        self.width, self.height = width, height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.pixels[y][x] = colour

    def disc(self, cx, cy, radius, colour):
        r = int(math.ceil(radius))
        for y in range(int(cy) - r, int(cy) + r + 1):
            for x in range(int(cx) - r, int(cx) + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                    self.put(x, y, colour)

    def text(self, x, y, text, scale, colour):
        for letter in text:
            rows = FONT[letter]
            for j, row in enumerate(rows):
                for i, cell in enumerate(row):
                    if cell == "X":
                        self.rect(x + i * scale, y + j * scale, x + (i + 1) * scale, y + (j + 1) * scale, colour)
            x += (len(rows[0]) + 1) * scale


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def circuit_points(cx, cy, rx, ry, steps=720):
    """A closed, circuit-like outline: an oval with a hairpin and a chicane."""
    points = []
    for k in range(steps):
        t = 2 * math.pi * k / steps
        r = 1 + 0.18 * math.cos(2 * t) + 0.12 * math.sin(3 * t) - 0.10 * math.cos(5 * t)
        points.append((cx + rx * r * math.cos(t), cy + ry * r * math.sin(t)))
    return points


def background():
    width, height = 403, 250
    sky_top, sky_bottom = (8, 20, 58), (30, 70, 120)
    canvas = Canvas(width, height, sky_top)
    for y in range(height):
        colour = mix(sky_top, sky_bottom, y / (height - 1))
        for x in range(width):
            canvas.pixels[y][x] = colour
    # Grass and asphalt under the circuit.
    canvas.rect(0, 150, width, 200, (24, 96, 48))
    for y in range(150, 200):
        for x in range(0, width, 7):
            if (x + y) % 3 == 0:
                canvas.put(x, y, (30, 110, 56))
    # The circuit: a dark track with red and white kerbs.
    points = circuit_points(145, 112, 105, 52)
    for (x, y) in points:
        canvas.disc(x, y, 7.5, (60, 60, 66))
    for k, (x, y) in enumerate(points):
        kerb = (220, 30, 30) if (k // 12) % 2 == 0 else (245, 245, 245)
        canvas.disc(x, y, 2.2, kerb)
    # Start and finish line across the track.
    sx, sy = points[0]
    for i in range(-8, 9):
        for j in range(-3, 3):
            canvas.put(int(sx) + j, int(sy) + i, (0, 0, 0) if (i // 2 + j // 2) % 2 else (255, 255, 255))
    # The chequered band along the bottom.
    for y in range(205, 229):
        for x in range(width):
            canvas.pixels[y][x] = (0, 0, 0) if ((x // 12) + ((y - 205) // 12)) % 2 else (250, 250, 250)
    canvas.rect(0, 203, width, 205, (200, 160, 20))
    canvas.rect(0, 229, width, 231, (200, 160, 20))
    # The add-on's name, with a shadow.
    canvas.text(14, 14, "VELMORA", 4, (10, 10, 30))
    canvas.text(12, 12, "VELMORA", 4, (255, 204, 0))
    canvas.text(13, 236, "SEASON CONFIG", 1, (230, 230, 230))
    # The plain strip the buttons stand on.
    canvas.rect(286, 0, width, 166, STRIP_BLUE)
    return canvas


def icon(size=72):
    canvas = Canvas(size, size, None)
    radius = size * 0.18
    for y in range(size):
        for x in range(size):
            dx = max(radius - x, 0, x - (size - 1 - radius))
            dy = max(radius - y, 0, y - (size - 1 - radius))
            if dx * dx + dy * dy <= radius * radius:
                canvas.pixels[y][x] = mix(STRIP_BLUE, (20, 90, 200), y / size)
    cell = size // 8
    for y in range(size - 2 * cell, size - cell // 2):
        for x in range(cell // 2, size - cell // 2):
            if canvas.pixels[y][x] is not None:
                canvas.pixels[y][x] = (0, 0, 0) if ((x // cell) + (y // cell)) % 2 else (255, 255, 255)
    scale = max(1, size // 9)
    left = (size - 5 * scale) // 2
    canvas.text(left, cell // 2 + scale // 2, "V", scale, (255, 204, 0))
    return canvas


def shrink(canvas, size):
    """Box filter down to size x size, keeping coverage as alpha."""
    out = []
    factor = canvas.width / size
    for y in range(size):
        row = []
        for x in range(size):
            total, count, covered = [0, 0, 0], 0, 0
            for sy in range(int(y * factor), int((y + 1) * factor)):
                for sx in range(int(x * factor), int((x + 1) * factor)):
                    count += 1
                    pixel = canvas.pixels[sy][sx]
                    if pixel is not None:
                        covered += 1
                        for i in range(3):
                            total[i] += pixel[i]
            alpha = round(255 * covered / count)
            colour = tuple(round(t / covered) for t in total) if covered else (0, 0, 0)
            row.append(colour + (alpha,))
        out.append(row)
    return out


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE256 = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)] + \
          [(v, v, v) for v in range(8, 248, 6)]


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def ico_image(rgba, bits):
    size = len(rgba)
    palette = {4: VGA16, 8: CUBE256}.get(bits, [])
    xor_rows, and_rows = [], []
    for row in reversed(rgba):  # bottom-up
        mask_bits = "".join("1" if a < 128 else "0" for (_, _, _, a) in row)
        and_rows.append(padded(int(mask_bits, 2).to_bytes(size // 8, "big")))
        if bits == 32:
            xor_rows.append(padded(b"".join(bytes((b, g, r, a)) for (r, g, b, a) in row)))
        else:
            indices = [nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in row]
            if bits == 8:
                xor_rows.append(padded(bytes(indices)))
            else:
                xor_rows.append(padded(bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))))
    pixels = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(pixels), 0, 0, len(palette), 0)
    colours = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + colours + pixels


def write_ico(path, images):
    """images: list of (rgba rows, bits per pixel); a 256-pixel image is stored as PNG."""
    blobs = [png_bytes(rgba) if len(rgba) == 256 else ico_image(rgba, bits) for rgba, bits in images]
    offset = 6 + 16 * len(images)
    directory = b""
    for (rgba, bits), blob in zip(images, blobs):
        size = len(rgba) % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + directory + b"".join(blobs))


def png_bytes(rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    size = len(rgba)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rgba)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_png(path, rgba):
    with open(path, "wb") as f:
        f.write(png_bytes(rgba))


def write_bmp(path, canvas):
    rows = b"".join(padded(b"".join(bytes((b, g, r)) for (r, g, b) in row)) for row in reversed(canvas.pixels))
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(rows), 3780, 3780, 0, 0)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info)) + info + rows)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "assets")
    if len(sys.argv) > 1:
        out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "background.bmp"), background())
    big = icon(768)  # drawn large, then filtered down to each size
    sized = {size: shrink(big, size) for size in (16, 32, 48, 72, 128, 256)}
    images = [(sized[size], bits) for size in (16, 32, 48) for bits in (4, 8, 32)] + \
             [(sized[72], 32), (sized[256], 32)]
    write_ico(os.path.join(out, "velmora.ico"), images)
    for size, rgba in sized.items():
        write_png(os.path.join(out, "icon-%d.png" % size), rgba)


if __name__ == "__main__":
    main()
