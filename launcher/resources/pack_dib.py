#!/usr/bin/env python3
"""Packs raw 8-bit RGB pixels (top row first) into the exact DIB layouts the
launcher's resources need: a 24-bit BMP, or a one-image 24-bit icon."""
import struct
import sys


def rows_bottom_up(rgb, width, height):
    stride = (width * 3 + 3) & ~3
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = rgb[y * width * 3:(y + 1) * width * 3]
        bgr = bytearray(len(row))
        bgr[0::3] = row[2::3]
        bgr[1::3] = row[1::3]
        bgr[2::3] = row[0::3]
        out += bgr + bytes(stride - len(bgr))
    return bytes(out)


def info_header(width, height, image_size, pels_per_metre):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, image_size,
                       pels_per_metre, pels_per_metre, 0, 0)


def write_bmp(path, rgb, width, height):
    pixels = rows_bottom_up(rgb, width, height)
    header = info_header(width, height, len(pixels), 11811)
    offset = 14 + len(header)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        f.write(header + pixels)


def write_ico(path, rgb, size):
    colour = rows_bottom_up(rgb, size, size)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # every pixel opaque
    image = info_header(size, size * 2, len(colour) + len(mask), 0) + colour + mask
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), 22))
        f.write(image)


def main():
    kind, raw, width, height, out = sys.argv[1:6]
    width, height = int(width), int(height)
    with open(raw, "rb") as f:
        rgb = f.read()
    if len(rgb) != width * height * 3:
        sys.exit("%s: expected %d bytes of RGB, got %d" % (raw, width * height * 3, len(rgb)))
    if kind == "bmp":
        write_bmp(out, rgb, width, height)
    elif kind == "ico":
        if width != height:
            sys.exit("an icon must be square")
        write_ico(out, rgb, width)
    else:
        sys.exit("kind must be bmp or ico")


if __name__ == "__main__":
    main()
