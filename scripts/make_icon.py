#!/usr/bin/env python3
"""Draws the application icon: a carton with a blue arrow pointing into it.

Writes an .ico holding two 8-bit, 256-colour images, 16 x 16 then 32 x 32, each a bitmap with its
AND mask for the transparent background. Only the standard library is used and nothing depends on
the clock or the machine, so the same file comes out every time.

    make_icon.py OUTPUT          write the icon
    make_icon.py --check FILE    exit 1 unless FILE is exactly what this script writes
"""
import struct
import sys

SIZES = (16, 32)

# Colours as (red, green, blue).
BOX = (0xD8, 0xA0, 0x50)
BOX_SHADE = (0xB0, 0x78, 0x30)
BOX_EDGE = (0x70, 0x48, 0x10)
ARROW = (0x20, 0x70, 0xD0)
ARROW_EDGE = (0x10, 0x30, 0x80)


def palette():
    """The 6 x 6 x 6 colour cube, then a grey ramp, then our own colours; 256 in all."""
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(v * 255 // 31,) * 3 for v in range(32)]
    colours += [BOX, BOX_SHADE, BOX_EDGE, ARROW, ARROW_EDGE]
    colours += [(0, 0, 0)] * (256 - len(colours))
    return colours


PALETTE = palette()
INDEX = {colour: PALETTE.index(colour) for colour in (BOX, BOX_SHADE, BOX_EDGE, ARROW, ARROW_EDGE)}


# Shapes in a unit square, y growing downwards; a pixel belongs to a shape when its centre does.
def in_box(x, y):
    return 0.10 <= x <= 0.90 and 0.46 <= y <= 0.94


def in_box_front(x, y):
    # The lower half of the carton is a shade darker, as a front panel under the open flaps.
    return in_box(x, y) and y >= 0.62


def in_arrow(x, y):
    shaft = 0.38 <= x <= 0.62 and 0.04 <= y <= 0.44
    head = 0.40 <= y <= 0.76 and abs(x - 0.5) <= 0.34 * (0.76 - y) / 0.36
    return shaft or head


def shape_colour(inside, fill, edge, px, py, size):
    """fill inside the shape, edge on its border pixels, None outside it."""
    def hit(ix, iy):
        return 0 <= ix < size and 0 <= iy < size and inside((ix + 0.5) / size, (iy + 0.5) / size)

    if not hit(px, py):
        return None
    neighbours = ((px - 1, py), (px + 1, py), (px, py - 1), (px, py + 1))
    return edge if not all(hit(nx, ny) for nx, ny in neighbours) else fill


def pixel(px, py, size):
    """Palette index of one pixel, or None where the background shows through."""
    arrow = shape_colour(in_arrow, ARROW, ARROW_EDGE, px, py, size)
    if arrow is not None:
        return INDEX[arrow]
    box_fill = BOX_SHADE if in_box_front((px + 0.5) / size, (py + 0.5) / size) else BOX
    box = shape_colour(in_box, box_fill, BOX_EDGE, px, py, size)
    return None if box is None else INDEX[box]


def image(size):
    """One icon image: BITMAPINFOHEADER, palette, colour rows and mask rows, both bottom-up."""
    colour_stride = (size + 3) // 4 * 4
    mask_stride = (size + 31) // 32 * 4
    colour_rows = bytearray()
    mask_rows = bytearray()
    for py in reversed(range(size)):
        row = [pixel(px, py, size) for px in range(size)]
        colour_rows += bytes(0 if p is None else p for p in row).ljust(colour_stride, b"\0")
        mask = bytearray(mask_stride)
        for px, p in enumerate(row):
            if p is None:
                mask[px // 8] |= 0x80 >> (px % 8)
        mask_rows += mask
    pixels = bytes(colour_rows + mask_rows)
    # The height counts the colour and mask halves together, as icon bitmaps do.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0, len(pixels), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + colours + pixels


def icon_file():
    images = [image(size) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip(SIZES, images):
        # Width, height, colour count (0: 256 or more), reserved, planes, bits, bytes, offset.
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main(argv):
    if len(argv) == 2:
        with open(argv[1], "wb") as out:
            out.write(icon_file())
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as existing:
            if existing.read() == icon_file():
                return 0
        print(f"{argv[2]} differs from what {argv[0]} draws; run it again to regenerate", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
