#!/usr/bin/env python3
"""Draws the program's icon, a crosspoint matrix (the switcher's routing grid
with a few routes lit), as a Windows .ico with 16, 32, 48 and 256 pixel
images, or as one PNG of a given size (for the desktop's icon theme).
    make_icon.py OUT.ico
    make_icon.py --png SIZE OUT.png
    make_icon.py --wizard OUT.bmp   (the setup's 164x314 side panel: the icon on navy)
"""
import struct
import sys
import zlib

NAVY, GRID, LIT = (0x1d, 0x35, 0x57), (0xa8, 0xda, 0xdc), (0xe6, 0x39, 0x46)
ROUTES = [(0, 1), (1, 3), (2, 0), (3, 2)]


def pixel(x, y):
    """The colour at (x, y) on a 64-unit canvas, or None for transparent."""
    inset, radius = 2, 10
    if not (inset <= x < 64 - inset and inset <= y < 64 - inset):
        return None
    cx = min(max(x, inset + radius), 64 - inset - radius)
    cy = min(max(y, inset + radius), 64 - inset - radius)
    if (x - cx) ** 2 + (y - cy) ** 2 > radius ** 2:
        return None
    for gx, gy in ROUTES:
        if (x - (14 + 12 * gx)) ** 2 + (y - (14 + 12 * gy)) ** 2 <= 25:
            return LIT
    for i in range(4):
        line = 14 + 12 * i
        if (abs(y - line) <= 1.5 and 12 <= x <= 52) or (abs(x - line) <= 1.5 and 12 <= y <= 52):
            return GRID
    return NAVY


def image(size):
    """One icon image: a BITMAPINFOHEADER, BGRA rows bottom-up, an AND mask."""
    samples = 4  # per side, averaged for smooth edges
    rows = []
    for y in range(size - 1, -1, -1):
        row = bytearray()
        for x in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = pixel((x + (sx + 0.5) / samples) * 64 / size, (y + (sy + 0.5) / samples) * 64 / size)
                    if c is not None:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = samples * samples
            row += bytes((b // a, g // a, r // a, 255 * a // n)) if a else bytes(4)
        rows.append(bytes(row))
    mask_row = bytes(((size + 31) // 32) * 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * size


def png(size):
    """One PNG image, RGBA, top-down."""
    bmp = image(size)[40:40 + size * size * 4]
    rows = []
    for y in range(size - 1, -1, -1):
        row = bytearray(bmp[y * size * 4:(y + 1) * size * 4])
        row[0::4], row[2::4] = row[2::4], row[0::4]  # BGRA to RGBA
        rows.append(b"\0" + bytes(row))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def wizard():
    """The setup's welcome and finish panel: a 24-bit bottom-up BMP, the icon
    drawn 128 pixels wide near the top of a navy panel."""
    width, height, size, left, top = 164, 314, 128, 18, 40
    icon = image(size)[40:40 + size * size * 4]  # BGRA, bottom-up
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            b, g, r = NAVY[2], NAVY[1], NAVY[0]
            ix, iy = x - left, y - top
            if 0 <= ix < size and 0 <= iy < size:
                at = ((size - 1 - iy) * size + ix) * 4
                ib, ig, ir, ia = icon[at:at + 4]
                b, g, r = ((c * ia + n * (255 - ia)) // 255 for c, n in ((ib, b), (ig, g), (ir, r)))
            row += bytes((b, g, r))
        rows.append(bytes(row) + bytes(stride - len(row)))
    pixels = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def main():
    if sys.argv[1] == "--wizard":
        with open(sys.argv[2], "wb") as f:
            f.write(wizard())
        return
    if sys.argv[1] == "--png":
        with open(sys.argv[3], "wb") as f:
            f.write(png(int(sys.argv[2])))
        return
    sizes = [16, 32, 48, 256]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
