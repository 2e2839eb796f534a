#!/usr/bin/python3
"""Draws the SheetDrain program icon and writes it in the forms the build uses.

The artwork: a green spreadsheet page, tilted, pouring a stream of cells into
a white text page that lies below it. Each size is drawn on its own (at four
times the size, then reduced) so that the small sizes keep fewer, bolder
details instead of a blurred copy of the big one.

Output, relative to the repository root:
  app/images/ktz.ico                         four images, 128, 48, 32, 16 px,
                                             8 bits per pixel (256-colour
                                             palette) with a 1-bit AND mask
  app/icons/hicolor/<n>x<n>/apps/sheetdrain.png   the same four images

Needs python3 and PIL (python3-pil). The build does not: the files are
committed. Run it again only when the artwork changes:
  /usr/bin/python3 tools/make_icon.py
"""

import os
import struct
import sys

from PIL import Image, ImageDraw

SIZES = (128, 48, 32, 16)
SUPERSAMPLE = 4
ALPHA_CUTOFF = 128  # pixels at least this opaque are drawn, others masked out

# Colours (RGBA)
SHEET_GREEN = (33, 115, 70, 255)
SHEET_GREEN_DARK = (20, 82, 48, 255)
SHEET_HEADER = (76, 166, 110, 255)
GRID_LINE = (205, 232, 214, 255)
CELL_WHITE = (250, 252, 250, 255)
PAGE_WHITE = (255, 255, 255, 255)
PAGE_EDGE = (96, 108, 122, 255)
PAGE_FOLD = (214, 220, 228, 255)
TEXT_LINE = (70, 84, 104, 255)
COMMA = (33, 115, 70, 255)
STREAM = (46, 150, 90, 255)
STREAM_LIGHT = (120, 205, 150, 255)


def draw_icon_16():
    """The 16-pixel image, drawn pixel by pixel: reduced from a larger
    drawing, the grid and the text lines would blur into grey."""
    img = Image.new("RGBA", (16, 16), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    # text page, lower right, with a folded corner
    d.polygon([(6, 5), (12, 5), (15, 8), (15, 15), (6, 15)], fill=PAGE_WHITE, outline=PAGE_EDGE)
    d.polygon([(12, 5), (12, 8), (15, 8)], fill=PAGE_FOLD, outline=PAGE_EDGE)
    for y, x_end in ((10, 13), (12, 12), (14, 13)):
        d.line([(8, y), (x_end, y)], fill=TEXT_LINE)
        d.point((10, y), fill=COMMA)
    # spreadsheet page, upper left, over the corner of the text page
    d.rectangle([0, 0, 8, 8], fill=CELL_WHITE, outline=SHEET_GREEN_DARK)
    d.rectangle([1, 1, 7, 2], fill=SHEET_HEADER)
    d.line([(4, 1), (4, 7)], fill=SHEET_GREEN)
    d.line([(1, 5), (7, 5)], fill=SHEET_GREEN)
    # a cell dropping from the sheet into the page
    d.rectangle([8, 8, 9, 9], fill=STREAM)
    return img


def draw_icon(size):
    """Returns an RGBA image of the icon at `size` pixels."""
    if size <= 16:
        return draw_icon_16()
    s = size * SUPERSAMPLE
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    u = s / 32.0  # drawing unit: the artwork is laid out on a 32 x 32 grid
    small = size <= 16
    medium = size <= 32

    def box(x0, y0, x1, y1):
        return [round(x0 * u), round(y0 * u), round(x1 * u), round(y1 * u)]

    # Text page, lower right, with a folded corner.
    px0, py0, px1, py1 = 12.5, 13.0, 30.5, 31.0
    fold = 5.0
    outline = max(1, round(0.9 * u)) if not small else max(1, round(1.1 * u))
    page = [
        (px0 * u, py0 * u),
        ((px1 - fold) * u, py0 * u),
        (px1 * u, (py0 + fold) * u),
        (px1 * u, py1 * u),
        (px0 * u, py1 * u),
    ]
    d.polygon(page, fill=PAGE_WHITE, outline=PAGE_EDGE)
    d.line(page + [page[0]], fill=PAGE_EDGE, width=outline, joint="curve")
    d.polygon(
        [((px1 - fold) * u, py0 * u), ((px1 - fold) * u, (py0 + fold) * u), (px1 * u, (py0 + fold) * u)],
        fill=PAGE_FOLD,
        outline=PAGE_EDGE,
    )

    # Lines of comma-separated text on the page.
    if small:
        rows = [(18.5, 27.5), (23.0, 26.0), (27.0, 28.0)]
    elif medium:
        rows = [(19.0, 26.5), (22.5, 28.0), (26.0, 27.0), (29.0, 24.0)]
    else:
        rows = [(19.0, 26.0), (21.5, 28.0), (24.0, 27.0), (26.5, 28.0), (29.0, 23.0)]
    lw = 1.6 if small else 1.1
    for y, x_end in rows:
        x = px0 + 2.5
        seg = (x_end - x) / 3.0
        for k in range(3):
            xa = x + k * seg
            xb = xa + seg - (1.3 if not small else 1.0)
            d.rectangle(box(xa, y - lw / 2, xb, y + lw / 2), fill=TEXT_LINE)
            if k < 2 and not small:
                # the comma between two fields
                cx = xb + 0.55
                d.ellipse(box(cx - 0.45, y - 0.1, cx + 0.45, y + 0.8), fill=COMMA)

    # The stream of cells pouring from the sheet into the page.
    if small:
        stream = [(12.0, 13.5, 2.6)]
    elif medium:
        stream = [(12.5, 12.5, 2.4), (16.0, 16.0, 2.0)]
    else:
        stream = [(12.5, 12.0, 2.4), (15.2, 14.6, 2.0), (17.6, 17.4, 1.6), (19.6, 20.2, 1.2)]
    for i, (cx, cy, r) in enumerate(stream):
        fill = STREAM if i % 2 == 0 else STREAM_LIGHT
        d.rounded_rectangle(box(cx - r, cy - r, cx + r, cy + r), radius=round(0.5 * u),
                            fill=fill, outline=SHEET_GREEN_DARK, width=max(1, round(0.5 * u)))

    # Spreadsheet page, upper left, drawn on its own layer and tilted so that
    # it pours towards the text page.
    layer = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    ld = ImageDraw.Draw(layer)
    sx0, sy0, sx1, sy1 = 2.0, 2.0, 17.5, 17.5
    ld.rounded_rectangle(box(sx0, sy0, sx1, sy1), radius=round(1.6 * u), fill=SHEET_GREEN,
                         outline=SHEET_GREEN_DARK, width=max(1, round(0.8 * u)))
    inner = (sx0 + 1.6, sy0 + 1.6, sx1 - 1.6, sy1 - 1.6)
    ld.rectangle(box(*inner), fill=CELL_WHITE)
    cols = 2 if small else 3
    rows_n = 2 if small else (3 if medium else 4)
    cw = (inner[2] - inner[0]) / cols
    rh = (inner[3] - inner[1]) / rows_n
    # header row and column tinted
    ld.rectangle(box(inner[0], inner[1], inner[2], inner[1] + rh), fill=SHEET_HEADER)
    if not small:
        ld.rectangle(box(inner[0], inner[1], inner[0] + cw * 0.55, inner[3]), fill=SHEET_HEADER)
    gw = max(1, round((0.7 if small else 0.45) * u))
    for c in range(1, cols):
        x = inner[0] + c * cw
        ld.line([(x * u, inner[1] * u), (x * u, inner[3] * u)], fill=SHEET_GREEN, width=gw)
    for r in range(1, rows_n):
        y = inner[1] + r * rh
        ld.line([(inner[0] * u, y * u), (inner[2] * u, y * u)], fill=SHEET_GREEN, width=gw)
    if not small:
        for r in range(1, rows_n):
            for c in range(1, cols):
                x = inner[0] + c * cw + cw * 0.22
                y = inner[1] + r * rh + rh * 0.5
                ld.line([(x * u, y * u), ((x + cw * 0.5) * u, y * u)], fill=GRID_LINE,
                        width=max(1, round(0.5 * u)))
    if not medium:
        layer = layer.rotate(-18, resample=Image.BICUBIC, center=(9.5 * u, 9.5 * u))
    img = Image.alpha_composite(img, layer)

    return img.resize((size, size), Image.LANCZOS)


def to_palette(rgba):
    """Returns (palette image, mask rows) for an RGBA image.

    Colours are reduced to at most 255 entries; entry 0 stays black for the
    transparent pixels, so the icon looks right also where the mask is
    ignored."""
    size = rgba.width
    opaque = [a >= ALPHA_CUTOFF for a in rgba.getchannel("A").getdata()]
    rgb = Image.new("RGB", rgba.size, (0, 0, 0))
    rgb.paste(rgba, mask=rgba.getchannel("A").point(lambda a: 255 if a >= ALPHA_CUTOFF else 0))
    quant = rgb.quantize(colors=255, method=Image.MEDIANCUT, dither=Image.NONE)
    pal = quant.getpalette()[: 255 * 3]
    pal += [0] * (255 * 3 - len(pal))
    indices = [i + 1 for i in quant.getdata()]
    indices = [idx if op else 0 for idx, op in zip(indices, opaque)]
    palette = [0, 0, 0] + pal
    return size, palette, indices, opaque


def bmp_entry(size, palette, indices, opaque):
    """One icon image: BITMAPINFOHEADER, 256-entry palette, 8-bit pixels
    bottom-up, then the 1-bit AND mask (1 = transparent), rows padded to 4
    bytes."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = bytearray()
    for i in range(256):
        r, g, b = palette[3 * i : 3 * i + 3]
        pal += bytes((b, g, r, 0))
    row_bytes = (size + 3) & ~3
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytes(indices[y * size : (y + 1) * size])
        pixels += row + b"\0" * (row_bytes - size)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_row_bytes)
        for x in range(size):
            if not opaque[y * size + x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pal) + bytes(pixels) + bytes(mask)


def palette_to_rgba(size, palette, indices, opaque):
    img = Image.new("RGBA", (size, size))
    img.putdata([
        (palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], 255 if op else 0)
        for i, op in zip(indices, opaque)
    ])
    return img


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    entries = []
    for size in SIZES:
        size_, palette, indices, opaque = to_palette(draw_icon(size))
        entries.append((size, bmp_entry(size_, palette, indices, opaque)))
        png_dir = os.path.join(root, "app", "icons", "hicolor", f"{size}x{size}", "apps")
        os.makedirs(png_dir, exist_ok=True)
        palette_to_rgba(size_, palette, indices, opaque).save(
            os.path.join(png_dir, "sheetdrain.png"), optimize=True)

    # ICONDIR, then one ICONDIRENTRY per image, then the images.
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        dim = size if size < 256 else 0
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    for _, data in entries:
        out += data
    ico = os.path.join(root, "app", "images", "ktz.ico")
    os.makedirs(os.path.dirname(ico), exist_ok=True)
    with open(ico, "wb") as f:
        f.write(out)
    print(f"{ico}: {len(out)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
