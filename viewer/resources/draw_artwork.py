#!/usr/bin/python3
"""Draws the viewer's artwork: the eleven button faces, the HD badge, the
logo of the idle picture and the program icon.

    /usr/bin/python3 viewer/resources/draw_artwork.py [OUTPUT_DIR]

Everything is drawn at four times its size and scaled down, then written with
the colour depth the program's resources use: button faces as 256-colour
bitmaps, badge and logo as 16-colour bitmaps, the icon as a 48 x 48 image
with 24 bits per pixel. The output is the same on every run.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

SCALE = 4
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT_BOOK = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

GROUND = (255, 255, 255)          # merges with the control bar
LOGO_GROUND = (85, 153, 186)
NAVY = (24, 50, 70)
PALE = (222, 238, 246)

# tile gradient top, bottom; symbol colour; symbol offset; shadow
STATES = {
    "normal": ((70, 82, 98), (30, 36, 46), (242, 246, 250), 0, True),
    "pressed": ((24, 29, 37), (44, 53, 66), (128, 204, 238), 1, False),
    "disabled": ((204, 209, 215), (186, 192, 200), (240, 242, 245), 0, False),
}


# ---------------------------------------------------------------- writers

def bmp_bytes(image, bits):
    """A bottom-up BMP with a palette of 2**bits entries (4 or 8 bits)."""
    width, height = image.size
    colours = 1 << bits
    palette = (image.getpalette() or [])[: colours * 3]
    palette += [0] * (colours * 3 - len(palette))
    stride = ((width * bits + 31) // 32) * 4
    pixels = image.load()
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x in range(width):
            index = pixels[x, y]
            if bits == 8:
                row[x] = index
            else:
                row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        rows.append(bytes(row))
    table = b"".join(struct.pack("<BBBB", palette[i * 3 + 2], palette[i * 3 + 1],
                                 palette[i * 3], 0) for i in range(colours))
    data = b"".join(rows)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data),
                       2835, 2835, colours, colours)
    return header + info + table + data


def ico_bytes(image):
    """An icon file with one 24-bit image; transparent corners in its mask."""
    width, height = image.size
    rgba = image.load()
    xor_stride = ((width * 24 + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x in range(width):
            r, g, b, a = rgba[x, y]
            row[x * 3: x * 3 + 3] = bytes((b, g, r)) if a >= 128 else b"\0\0\0"
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 24, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    body = info + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 24, len(body), 6 + 16)
    return directory + entry + body


def fixed_palette(image_rgb, colours):
    """Maps an RGB image onto exactly the given colours, without dithering."""
    palette = Image.new("P", (1, 1))
    flat = [c for colour in colours for c in colour]
    flat += flat[:3] * (256 - len(colours))
    palette.putpalette(flat)
    return image_rgb.quantize(palette=palette, dither=Image.Dither.NONE)


def blend(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


# ---------------------------------------------------------------- drawing

def s(v):
    return round(v * SCALE)


def gradient_tile(size, box, radius, top, bottom):
    """A rounded rectangle filled with a vertical gradient, as an RGBA layer."""
    layer = Image.new("RGBA", size, (0, 0, 0, 0))
    x0, y0, x1, y1 = box
    fill = Image.new("RGBA", size)
    draw = ImageDraw.Draw(fill)
    for y in range(y0, y1 + 1):
        t = (y - y0) / max(1, y1 - y0)
        draw.line([(x0, y), (x1, y)], fill=blend(top, bottom, t) + (255,))
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius, fill=255)
    layer.paste(fill, (0, 0), mask)
    return layer


def arrow_arc(draw, centre, radius, start, end, width, colour):
    """A clockwise arc from start to end degrees with an arrowhead at its end."""
    cx, cy = centre
    box = [cx - radius, cy - radius, cx + radius, cy + radius]
    draw.arc(box, start, end - 8, fill=colour, width=width)
    a = math.radians(end - 10)
    px, py = cx + radius * math.cos(a), cy + radius * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)        # clockwise tangent on screen
    nx, ny = math.cos(a), math.sin(a)         # outward normal
    head, half = width * 2.1, width * 1.55
    tip = (px + tx * head, py + ty * head)
    base_out = (px + nx * half - tx * head * 0.25, py + ny * half - ty * head * 0.25)
    base_in = (px - nx * half - tx * head * 0.25, py - ny * half - ty * head * 0.25)
    draw.polygon([tip, base_out, base_in], fill=colour)


def draw_symbol(draw, name, colour, dy):
    c = (s(30), s(30) + s(dy))
    if name == "play":
        draw.polygon([(s(24), s(18 + dy)), (s(24), s(42 + dy)), (s(44), s(30 + dy))], fill=colour)
        draw.line([(s(24), s(18 + dy)), (s(24), s(42 + dy)), (s(44), s(30 + dy)),
                   (s(24), s(18 + dy))], fill=colour, width=s(2.5), joint="curve")
    elif name == "stop":
        draw.rounded_rectangle([s(20), s(20 + dy), s(40), s(40 + dy)], s(3), fill=colour)
    elif name == "exit":
        w = s(5)
        for (x0, y0, x1, y1) in ((21, 21, 39, 39), (39, 21, 21, 39)):
            draw.line([(s(x0), s(y0 + dy)), (s(x1), s(y1 + dy))], fill=colour, width=w)
            for (x, y) in ((x0, y0), (x1, y1)):
                r = w / 2
                draw.ellipse([s(x) - r, s(y + dy) - r, s(x) + r, s(y + dy) + r], fill=colour)
    elif name == "next":
        w = s(3.6)
        arrow_arc(draw, c, s(11.5), 200, 345, w, colour)
        arrow_arc(draw, c, s(11.5), 20, 165, w, colour)


def button_face(symbol, state):
    top, bottom, colour, dy, shadow = STATES[state]
    size = (s(60), s(60))
    image = Image.new("RGBA", size, GROUND + (255,))
    box = [s(4), s(4) + s(dy), s(56), s(56) + s(dy)]
    if shadow:
        shade = Image.new("RGBA", size, (0, 0, 0, 0))
        ImageDraw.Draw(shade).rounded_rectangle([box[0], box[1] + s(2), box[2], box[3] + s(2)],
                                                s(13), fill=(150, 158, 170, 110))
        image.alpha_composite(shade)
    image.alpha_composite(gradient_tile(size, box, s(13), top, bottom))
    draw = ImageDraw.Draw(image)
    if state == "normal":
        # a thin light edge along the top of the tile
        draw.arc([box[0] + s(1), box[1] + s(1), box[0] + s(27), box[1] + s(27)], 190, 270,
                 fill=(110, 124, 142), width=s(1))
        draw.arc([box[2] - s(27), box[1] + s(1), box[2] - s(1), box[1] + s(27)], 270, 350,
                 fill=(110, 124, 142), width=s(1))
        draw.line([(box[0] + s(13), box[1] + s(1.5)), (box[2] - s(13), box[1] + s(1.5))],
                  fill=(110, 124, 142), width=s(1))
    draw_symbol(draw, symbol, colour + (255,), dy)
    small = image.convert("RGB").resize((60, 60), Image.Resampling.LANCZOS)
    return small.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)


def hd_badge():
    size = (s(110), s(48))
    image = Image.new("RGB", size, (255, 255, 255))
    draw = ImageDraw.Draw(image)
    draw.rounded_rectangle([s(20), s(5), s(90), s(43)], s(8), outline=(0, 0, 0), width=s(3.5))
    font = ImageFont.truetype(FONT_BOLD, s(27))
    draw.text((s(55), s(24.5)), "HD", font=font, fill=(0, 0, 0), anchor="mm")
    small = image.resize((110, 48), Image.Resampling.LANCZOS)
    greys = [(v, v, v) for v in range(0, 256, 17)]  # 16 steps, black to white
    return fixed_palette(small, greys)


def oval_mark(draw, centre, rx, ry, ring, ring_colour, lens_colour, glint):
    cx, cy = centre
    draw.ellipse([cx - rx, cy - ry, cx + rx, cy + ry], outline=ring_colour, width=ring)
    lens = ry * 0.52
    draw.ellipse([cx - lens, cy - lens, cx + lens, cy + lens], fill=ring_colour)
    inner = lens * 0.66
    draw.ellipse([cx - inner, cy - inner, cx + inner, cy + inner], fill=lens_colour)
    g = inner * 0.36
    gx, gy = cx - inner * 0.35, cy - inner * 0.35
    draw.ellipse([gx - g, gy - g, gx + g, gy + g], fill=glint)


def logo():
    size = (s(469), s(144))
    image = Image.new("RGB", size, LOGO_GROUND)
    draw = ImageDraw.Draw(image)
    oval_mark(draw, (s(82), s(72)), s(58), s(40), s(9), (255, 255, 255), NAVY, PALE)
    # the picture leaving the lens, towards the name
    for i, r in enumerate((52, 64, 76)):
        draw.arc([s(82) - s(r), s(72) - s(r), s(82) + s(r), s(72) + s(r)], -24, 24,
                 fill=blend(LOGO_GROUND, (255, 255, 255), 0.75 - i * 0.22), width=s(4))
    font = ImageFont.truetype(FONT_BOLD, s(68))
    draw.text((s(176), s(66)), "Ovalix", font=font, fill=(255, 255, 255), anchor="ls")
    tag = ImageFont.truetype(FONT_BOOK, s(19))
    draw.text((s(179), s(100)), "your phone is the camera", font=tag, fill=PALE, anchor="ls")
    draw.line([(s(179), s(80)), (s(440), s(80))], fill=blend(LOGO_GROUND, PALE, 0.55),
              width=s(2))
    small = image.resize((469, 144), Image.Resampling.LANCZOS)
    colours = [LOGO_GROUND, (255, 255, 255), NAVY, PALE]
    colours += [blend(LOGO_GROUND, (255, 255, 255), t) for t in (0.17, 0.33, 0.5, 0.67, 0.83)]
    colours += [blend(LOGO_GROUND, NAVY, t) for t in (0.33, 0.67)]
    colours += [blend(NAVY, (255, 255, 255), t) for t in (0.33, 0.67)]
    colours += [blend(LOGO_GROUND, PALE, t) for t in (0.33, 0.55, 0.8)]
    return fixed_palette(small, colours[:16])


def icon():
    size = (s(48), s(48))
    image = Image.new("RGBA", size, (0, 0, 0, 0))
    image.alpha_composite(gradient_tile(size, [s(1), s(1), s(47), s(47)], s(10),
                                        (70, 82, 98), (30, 36, 46)))
    draw = ImageDraw.Draw(image)
    oval_mark(draw, (s(24), s(24)), s(18), s(12.5), s(3.2), (255, 255, 255, 255),
              LOGO_GROUND + (255,), PALE + (255,))
    return image.resize((48, 48), Image.Resampling.LANCZOS)


FACES = {
    "play": {"normal": 135, "pressed": 136, "disabled": 149},
    "stop": {"normal": 141, "pressed": 142, "disabled": 148},
    "exit": {"normal": 139, "pressed": 140},
    "next": {"normal": 143, "pressed": 144, "disabled": 147},
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    for symbol, states in FACES.items():
        for state, ident in states.items():
            write(f"button_{symbol}_{state}.bmp", bmp_bytes(button_face(symbol, state), 8))
    write("hd_badge.bmp", bmp_bytes(hd_badge(), 4))
    write("logo.bmp", bmp_bytes(logo(), 4))
    ico = ico_bytes(icon())
    write("viewer.ico", ico)


if __name__ == "__main__":
    main()
