#!/usr/bin/python3
"""Writes the fuzz target's seed corpus: small BMP files of every depth and encoding the reader
knows, built byte by byte. Run it again after changing it: python3 fuzz/make_corpus.py"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def bmp(width, height, bits, data, table=(), masks=(), compression=0, info_size=40):
    head_extra = b""
    masks_bytes = b"".join(struct.pack("<I", m) for m in masks)
    if info_size > 40:
        head_extra = (masks_bytes + bytes(info_size - 40))[: info_size - 40]
        masks_bytes = b""
    table_bytes = masks_bytes + b"".join(struct.pack("<I", e) for e in table)
    offset = 14 + info_size + len(table_bytes)
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bits, compression,
                       len(data), 2835, 2835, 0, 0) + head_extra
    head = b"BM" + struct.pack("<III", offset + len(data), 0, offset)
    return head + info + table_bytes + data


def rows(row_list, stride):
    """Rows given top row first, padded and stored bottom row first."""
    return b"".join(r.ljust(stride, b"\0") for r in reversed(row_list))


GREYS = [g * 0x010101 for g in range(0, 256, 17)]
SEEDS = {
    "pal1_9x2.bmp": bmp(9, 2, 1, rows([b"\xa5\x80", b"\x5a\x00"], 4), table=[0, 0xFFFFFF]),
    "pal4_5x3.bmp": bmp(5, 3, 4, rows([b"\x01\x23\x40", b"\x56\x78\x90", b"\xab\xcd\xe0"], 4),
                        table=GREYS),
    "pal8_3x2.bmp": bmp(3, 2, 8, rows([b"\x00\x05\x0f", b"\x0f\x05\x00"], 4), table=GREYS),
    "pal8_v4_2x2.bmp": bmp(2, 2, 8, rows([b"\x01\x02", b"\x03\x04"], 4), table=GREYS[:5],
                           info_size=108),
    "pal8_rle_5x3.bmp": bmp(5, 3, 8, bytes([
        5, 1, 0, 0,                 # a full row, end of line
        0, 3, 2, 3, 4, 0, 0, 0,     # absolute run of three with its padding byte
        0, 2, 1, 0, 2, 7,           # delta right by one, then a run
        0, 1]), table=GREYS, compression=1),
    "rgb16_3x2.bmp": bmp(3, 2, 16, rows([b"\xff\x7f\x00\x7c\xe0\x03", b"\x1f\x00" * 3], 8)),
    "rgb16_565_2x1.bmp": bmp(2, 1, 16, b"\xff\xff\x00\xf8", masks=[0xF800, 0x7E0, 0x1F],
                             compression=3),
    "rgb24_3x2.bmp": bmp(3, 2, 24, rows([b"\x00\x00\xff\x00\xff\x00\xff\x00\x00",
                                         b"\x10\x20\x30" * 3], 12)),
    "rgb24_topdown_2x2.bmp": bmp(2, -2, 24, b"\x00\x00\xff\xff\xff\xff\0\0"
                                 b"\xff\x00\x00\x00\xff\x00\0\0"),
    "rgb32_2x1.bmp": bmp(2, 1, 32, b"\x33\x22\x11\xaa\x01\x02\x03\x04"),
    "rgb32_v5_bitfields_1x2.bmp": bmp(1, 2, 32, b"\x01\x00\xf8\x3f\xff\xff\xff\xff",
                                      masks=[0x3FF00000, 0xFFC00, 0x3FF], compression=3,
                                      info_size=124),
    "rgb24_short_4x4.bmp": bmp(4, 4, 24, b"\x01\x02\x03" * 5),
}

if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    for name, content in SEEDS.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(content)
