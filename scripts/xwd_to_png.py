#!/usr/bin/env python3
"""Turns an X window dump (xwd, 24/32-bit TrueColor) into a PNG, cropped to
what differs from the background; exits 1 when the picture is blank.
Standard library only: xwd_to_png.py IN.xwd OUT.png"""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _, _, _, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask, ncolors = fields[14], fields[15], fields[16], fields[19]
    if bits_per_pixel not in (24, 32):
        raise SystemExit("xwd_to_png: %d bits per pixel is not handled" % bits_per_pixel)
    start = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [(m, shift(m)) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line: start + y * bytes_per_line + width * step]
        row = []
        for x in range(width):
            chunk = line[x * step: x * step + step]
            value = int.from_bytes(chunk, "little" if order == "<" else "big")
            row.append(tuple((value & m) >> s for m, s in shifts))
        rows.append(row)
    return rows


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


def main():
    rows = read_xwd(sys.argv[1])
    background = rows[0][0]
    points = [(x, y) for y, row in enumerate(rows) for x, px in enumerate(row) if px != background]
    if not points:
        return 1
    margin = 12
    left = max(min(x for x, _ in points) - margin, 0)
    right = min(max(x for x, _ in points) + margin, len(rows[0]) - 1)
    top = max(min(y for _, y in points) - margin, 0)
    bottom = min(max(y for _, y in points) + margin, len(rows) - 1)
    write_png(sys.argv[2], [row[left:right + 1] for row in rows[top:bottom + 1]])
    return 0


if __name__ == "__main__":
    sys.exit(main())
