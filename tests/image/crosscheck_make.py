#!/usr/bin/python3
"""Writes the cross-check pictures into a folder: BMP files written by PIL and by ImageMagick's
convert in every depth and encoding the reader supports (both header lengths, bottom-up and
top-down, odd widths), plus the good and questionable public conformance pictures from
BMPSUITE_DIR, each with PIL's decoding as raw RGB bytes. A manifest lists, per picture, its size
and the widths of its red, green and blue channels as stored (8 for palette and 24-bit
pictures).

Usage: crosscheck_make.py OUT_DIR BMPSUITE_DIR"""
import os
import shutil
import struct
import subprocess
import sys

from PIL import Image

WIDTH, HEIGHT = 37, 23  # odd width: every depth has row padding


def source_picture(width, height):
    picture = Image.new("RGB", (width, height))
    pixels = picture.load()
    for y in range(height):
        for x in range(width):
            pixels[x, y] = ((x * 7 + y) % 256, (y * 11) % 256, (x * y * 3) % 256)
    return picture


def channel_widths(path):
    """Stored widths of red, green, blue: from the masks for 16/32-bit pictures."""
    data = open(path, "rb").read()
    info_size, = struct.unpack("<I", data[14:18])
    bits, compression = struct.unpack("<HI", data[28:34])
    if bits == 16 and compression == 0:
        return (5, 5, 5)
    if bits in (16, 32) and compression == 3:
        masks = struct.unpack("<III", data[54:66])
        return tuple(bin(m).count("1") for m in masks)
    return (8, 8, 8)


def make_top_down(bottom_up, out):
    """Rewrites an uncompressed bottom-up file with its rows in top-down order."""
    data = bytearray(open(bottom_up, "rb").read())
    offset, = struct.unpack("<I", data[10:14])
    width, height = struct.unpack("<ii", data[18:26])
    bits, = struct.unpack("<H", data[28:30])
    stride = (width * bits + 31) // 32 * 4
    rows = [data[offset + i * stride: offset + (i + 1) * stride] for i in range(height)]
    data[offset: offset + height * stride] = b"".join(reversed(rows))
    data[22:26] = struct.pack("<i", -height)
    open(out, "wb").write(bytes(data))


def write_pictures(out_dir):
    src = source_picture(WIDTH, HEIGHT)
    src_png = os.path.join(out_dir, "source.png")
    src.save(src_png)
    made = []

    def pil(name, picture):
        path = os.path.join(out_dir, name)
        picture.save(path, "BMP")
        made.append(path)
        return path

    pil("pil_pal1.bmp", src.convert("1"))
    pil("pil_grey8.bmp", src.convert("L"))
    pal8 = pil("pil_pal8.bmp", src.quantize(256))
    rgb24 = pil("pil_rgb24.bmp", src)
    pil("pil_rgb24_w1.bmp", src.crop((0, 0, 1, HEIGHT)))
    pil("pil_rgb24_w2.bmp", src.crop((0, 0, 2, 5)))
    pil("pil_rgb32.bmp", src.convert("RGBA"))
    for name, bottom_up in (("pil_pal8_topdown.bmp", pal8), ("pil_rgb24_topdown.bmp", rgb24)):
        path = os.path.join(out_dir, name)
        make_top_down(bottom_up, path)
        made.append(path)

    # ImageMagick: BMP3 writes the 40-byte header, BMP its 124-byte one.
    convert_cases = [
        ("im_pal1", ["-colors", "2"], ["BMP3", "BMP"]),
        ("im_pal4", ["-colors", "16"], ["BMP3", "BMP"]),
        ("im_pal8", ["-colors", "200"], ["BMP3", "BMP"]),
        ("im_rle8", ["-colors", "200", "-compress", "RLE"], ["BMP3", "BMP"]),
        ("im_rgb16_565", ["-define", "bmp:subtype=RGB565"], ["BMP"]),
        ("im_rgb16_555", ["-define", "bmp:subtype=RGB555"], ["BMP"]),
        ("im_rgb24", ["-type", "TrueColor"], ["BMP3", "BMP"]),
        ("im_rgb32", ["-alpha", "set"], ["BMP"]),
    ]
    for width in (WIDTH, 5):
        source = src_png
        if width != WIDTH:
            source = os.path.join(out_dir, "source_w%d.png" % width)
            src.crop((0, 0, width, 7)).save(source)
        for stem, options, formats in convert_cases:
            for fmt in formats:
                name = "%s_%s_w%d.bmp" % (stem, "v5" if fmt == "BMP" else "v3", width)
                path = os.path.join(out_dir, name)
                subprocess.run(["convert", source] + options + ["%s:%s" % (fmt, path)],
                               check=True)
                made.append(path)
    return made


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: crosscheck_make.py OUT_DIR BMPSUITE_DIR")
    out_dir, suite = sys.argv[1], sys.argv[2]
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    pictures = write_pictures(out_dir)
    for folder in ("g", "q"):
        # A missing folder fails the run: the comparison must not quietly lose pictures.
        path = os.path.join(suite, folder)
        for name in sorted(os.listdir(path)):
            pictures.append(os.path.join(path, name))
    lines = []
    for path in pictures:
        try:
            with Image.open(path) as picture:
                decoded = picture.convert("RGB")
        except Exception as error:  # PIL refuses some conformance pictures: not compared
            print("PIL cannot decode %s: %s" % (path, error))
            continue
        name = os.path.basename(path)
        if not path.startswith(out_dir):
            name = "suite_" + os.path.basename(os.path.dirname(path)) + "_" + name
            shutil.copyfile(path, os.path.join(out_dir, name))
        with open(os.path.join(out_dir, name + ".rgb"), "wb") as raw:
            raw.write(decoded.tobytes())
        widths = channel_widths(os.path.join(out_dir, name))
        lines.append("%s %d %d %d %d %d" % ((name,) + decoded.size + widths))
    with open(os.path.join(out_dir, "manifest.txt"), "w") as manifest:
        manifest.write("\n".join(lines) + "\n")
    print("%d pictures written to %s" % (len(lines), out_dir))


if __name__ == "__main__":
    main()
