#!/usr/bin/env python3
"""Writes the worst pictures we can make into a folder, for the show to pass.

    hostile_pictures.py FOLDER

Names start with a number, so that a forward show meets them in this order;
the good pictures between them ("NN_good_*") are what each show stops on.
Prints one line per file: its name and what it is.
"""
import os
import struct
import subprocess
import sys
import zlib


def convert(*args):
    subprocess.run(["convert", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def grey_png(path, width, height):
    """A flat grey picture of any size, written row by row so that making it
    takes no memory (ImageMagick's policy refuses more than 16K a side)."""
    row = b"\0" + b"\x80" * width  # filter byte, then grey samples
    packer = zlib.compressobj(9)
    parts = []
    for _ in range(height):
        parts.append(packer.compress(row))
    parts.append(packer.flush())
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        f.write(png_chunk(b"IDAT", b"".join(parts)))
        f.write(png_chunk(b"IEND", b""))


def exif_segment(tiff):
    body = b"Exif\0\0" + tiff
    return b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body


def with_exif(jpeg, tiff):
    assert jpeg[:2] == b"\xff\xd8"
    return jpeg[:2] + exif_segment(tiff) + jpeg[2:]


def ifd(entries, next_offset):
    out = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        out += struct.pack("<HHII", tag, kind, count, value)
    return out + struct.pack("<I", next_offset)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)

    def path(name):
        return os.path.join(folder, name)

    def say(name, what):
        print(f"{name}: {what}")

    colours = ["rgb(0,200,0)", "rgb(0,160,220)", "rgb(220,180,0)", "rgb(200,0,160)", "rgb(230,90,0)"]
    good = 0

    def good_picture():
        nonlocal good
        name = f"{len(os.listdir(folder)) + 10:02d}_good_{good}.jpg"
        convert("-size", "640x480", f"xc:{colours[good % len(colours)]}", path(name))
        say(name, "a good picture")
        good += 1
        return name

    good_picture()

    # Every format, cut at several points, and empty.
    sources = {}
    for ext in ["jpg", "png", "gif", "tif", "bmp"]:
        src = path(f"source.{ext}")
        convert("-size", "800x600", "plasma:fractal", "-seed", "7", src)
        with open(src, "rb") as f:
            sources[ext] = f.read()
        os.remove(src)
    for ext, data in sources.items():
        for cut in (10, 100, len(data) // 2):
            name = f"{len(os.listdir(folder)) + 10:02d}_cut_{cut}.{ext}"
            with open(path(name), "wb") as f:
                f.write(data[:cut])
            say(name, f"{ext} cut after {cut} of {len(data)} bytes")
        name = f"{len(os.listdir(folder)) + 10:02d}_empty.{ext}"
        open(path(name), "wb").close()
        say(name, "zero bytes")
    good_picture()

    name = f"{len(os.listdir(folder)) + 10:02d}_folder.jpg"
    os.mkdir(path(name))
    say(name, "a folder named like a picture")

    # Sizes no one should try to hold in memory, and extreme shapes.
    name = f"{len(os.listdir(folder)) + 10:02d}_huge_20000x20000.png"
    grey_png(path(name), 20000, 20000)
    say(name, f"20000 x 20000 pixels in {os.path.getsize(path(name))} bytes")
    good_picture()
    name = f"{len(os.listdir(folder)) + 10:02d}_wide_65535x1.png"
    grey_png(path(name), 65535, 1)
    say(name, "65535 x 1")
    name = f"{len(os.listdir(folder)) + 10:02d}_tall_1x65535.png"
    grey_png(path(name), 1, 65535)
    say(name, "1 x 65535")
    good_picture()

    # Unusual but valid encodings.
    name = f"{len(os.listdir(folder)) + 10:02d}_cmyk.jpg"
    convert("-size", "640x480", "plasma:fractal", "-colorspace", "CMYK", path(name))
    say(name, "CMYK JPEG")
    name = f"{len(os.listdir(folder)) + 10:02d}_16bit.png"
    convert("-size", "640x480", "gradient:blue-orange", "-depth", "16", path(name))
    say(name, "16-bit PNG")
    name = f"{len(os.listdir(folder)) + 10:02d}_progressive.jpg"
    convert("-size", "640x480", "plasma:fractal", "-interlace", "JPEG", path(name))
    say(name, "progressive JPEG")
    name = f"{len(os.listdir(folder)) + 10:02d}_animated.gif"
    convert("-delay", "20", "-size", "320x240", "xc:red", "xc:lime", "xc:blue", "-loop", "0", path(name))
    say(name, "animated GIF, three frames")
    name = f"{len(os.listdir(folder)) + 10:02d}_png_named.jpg"
    convert("-size", "640x480", "xc:rgb(120,0,220)", "png:" + path(name))
    say(name, "a PNG named .jpg")
    good_picture()

    # EXIF blocks that lie.
    plain = path("plain.jpg")
    convert("-size", "640x480", "xc:rgb(0,120,200)", plain)
    with open(plain, "rb") as f:
        jpeg = f.read()
    os.remove(plain)
    header = b"II*\0" + struct.pack("<I", 8)
    loops = header + ifd([(0x0112, 3, 1, 6), (0x8769, 4, 1, 8)], 8)  # sub-IFD and next IFD point back
    beyond = header[:4] + struct.pack("<I", 0xFFFFFF00)  # first IFD far past the end
    beyond_entry = header + ifd([(0x8769, 4, 1, 0x7FFFFFF0), (0x0112, 3, 0x40000000, 0xFFFFFFF0)], 0)
    many = header + struct.pack("<H", 0xFFFF) + struct.pack("<HHII", 0x0112, 3, 1, 6)  # 65535 entries claimed
    for label, tiff in [("ifd_loop", loops), ("offset_past_end", beyond), ("entry_past_end", beyond_entry),
                        ("count_ffff", many)]:
        name = f"{len(os.listdir(folder)) + 10:02d}_exif_{label}.jpg"
        with open(path(name), "wb") as f:
            f.write(with_exif(jpeg, tiff))
        say(name, f"JPEG with a hostile EXIF block ({label})")
    good_picture()

    # Held open by another program, and deleted after the scan (the test
    # does both to these files while the show runs).
    name = f"{len(os.listdir(folder)) + 10:02d}_held.jpg"
    convert("-size", "640x480", "xc:rgb(200,200,0)", path(name))
    say(name, "held open without sharing while the show runs")
    good_picture()
    name = f"{len(os.listdir(folder)) + 10:02d}_deleted.jpg"
    convert("-size", "640x480", "xc:rgb(0,200,200)", path(name))
    say(name, "deleted after the scan")
    good_picture()


if __name__ == "__main__":
    main()
