"""Writes the placeholder banner (756 x 540): a grey backdrop, a white panel and a blue mark in
the top-right corner where the maker's logo goes. Run once; the PNG is kept in resources/."""
import struct
import sys
import zlib

WIDTH, HEIGHT = 756, 540
GREY, WHITE, BLUE = (0x70, 0x74, 0x78), (0xFF, 0xFF, 0xFF), (0x1F, 0x4E, 0x8C)


def pixel(x, y):
    if 640 <= x < 732 and 18 <= y < 58:
        return BLUE
    if 24 <= x < WIDTH - 24 and 80 <= y < HEIGHT - 24:
        return WHITE
    return GREY


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b"".join(b"\x00" + bytes(c for x in range(WIDTH) for c in pixel(x, y)) for y in range(HEIGHT))
png = (b"\x89PNG\r\n\x1a\n"
       + chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9))
       + chunk(b"IEND", b""))
open(sys.argv[1], "wb").write(png)
