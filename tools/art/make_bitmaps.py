#!/usr/bin/python3
"""Draws the configuration dialog's pictures and writes them as 24-bit BMPs
into src/settings/, where the resource script picks them up.

Needs Debian's python3-pil and fonts-dejavu-core (run with /usr/bin/python3,
which is where python3-pil installs). The BMPs are committed, so building the
plug-in does not need this script; run it again after changing the artwork:

    /usr/bin/python3 tools/art/make_bitmaps.py

Every picture is drawn at eight times its size and scaled down, which gives
smooth edges at 100 % without blurring the shapes.
"""

import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

SS = 8  # supersampling factor
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
OUT_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "settings")

# Palette.
FACE = (240, 240, 240)  # the dialog face around rounded corners
TILE = (255, 255, 255)
TILE_EDGE = (160, 168, 178)
RED = (200, 40, 40)
BLUE = (30, 90, 190)
DARK = (40, 48, 58)
PLATE = (248, 248, 246)
PLATE_EDGE = (150, 156, 164)
KNOB_DARK = (52, 56, 62)
KNOB_LIGHT = (112, 118, 126)
TICK = (120, 126, 134)
CAPTION = (96, 102, 110)


class Canvas:
    """An image drawn in final-pixel coordinates at SS times the resolution."""

    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.image = Image.new("RGB", (width * SS, height * SS), background)
        self.draw = ImageDraw.Draw(self.image)

    @staticmethod
    def s(v):
        return round(v * SS)

    def rounded_rect(self, box, radius, fill, outline=None, width=1.0):
        x0, y0, x1, y1 = box
        self.draw.rounded_rectangle(
            [self.s(x0), self.s(y0), self.s(x1) - 1, self.s(y1) - 1],
            radius=self.s(radius), fill=fill, outline=outline,
            width=self.s(width) if outline else 0)

    def circle(self, cx, cy, r, fill=None, outline=None, width=1.0):
        self.draw.ellipse([self.s(cx - r), self.s(cy - r), self.s(cx + r), self.s(cy + r)],
                          fill=fill, outline=outline, width=self.s(width) if outline else 0)

    def line(self, points, fill, width):
        pts = [(self.s(x), self.s(y)) for x, y in points]
        self.draw.line(pts, fill=fill, width=self.s(width), joint="curve")
        # Round caps.
        r = width / 2
        for x, y in (points[0], points[-1]):
            self.circle(x, y, r, fill=fill)

    def text(self, cx, cy, text, size, fill):
        font = ImageFont.truetype(FONT_BOLD, self.s(size))
        self.draw.text((self.s(cx), self.s(cy)), text, font=font, fill=fill, anchor="mm")

    @staticmethod
    def text_width(text, size):
        font = ImageFont.truetype(FONT_BOLD, round(size * SS))
        x0, _, x1, _ = font.getbbox(text)
        return (x1 - x0) / SS

    def result(self):
        return self.image.resize((self.width, self.height), Image.LANCZOS)


# Function-selector symbols, drawn around (cx, cy) at a given scale, so that
# the small row pictures and the selector picture show the same marks.

def wavy_line(c, cx, y, half, amp, color, width):
    pts = []
    steps = 48
    for i in range(steps + 1):
        t = i / steps
        pts.append((cx - half + 2 * half * t, y + amp * math.sin(t * 3 * math.pi)))
    c.line(pts, color, width)


def dashed_line(c, cx, y, half, color, width):
    dashes = 3
    gap = half * 2 / (dashes * 2 - 1)
    for i in range(dashes):
        x0 = cx - half + i * 2 * gap
        c.line([(x0 + width / 2, y), (x0 + gap - width / 2, y)], color, width)


def symbol(c, kind, cx, cy, k):
    """kind: step, speed, fixed, jograte, feed, spindle; k: scale (1 = 31 px tile)."""
    letter = 17 * k
    rule_y = cy + 8.5 * k
    glyph_y = cy - 2.5 * k
    half = 8.5 * k
    width = 2.0 * k
    if kind == "speed":
        c.text(cx, glyph_y, "V", letter, RED)
        wavy_line(c, cx, rule_y, half, 1.6 * k, RED, width)
    elif kind == "step":
        c.text(cx, glyph_y, "S", letter, BLUE)
        dashed_line(c, cx, rule_y, half, BLUE, width)
    elif kind == "fixed":
        c.text(cx, glyph_y, "C", letter, DARK)
        c.line([(cx - half, rule_y), (cx + half, rule_y)], DARK, width)
    else:
        first = {"jograte": "C", "feed": "F", "spindle": "S"}[kind]
        c.text(cx, cy, first + "%", 13.5 * k, DARK)


def tile(kind):
    c = Canvas(31, 31, FACE)
    c.rounded_rect((0, 0, 31, 31), 4, TILE, TILE_EDGE, 1)
    symbol(c, kind, 15.5, 15.5, 1.0)
    return c.result()


def knob(c, cx, cy, r, pointer_angle):
    """A rotary knob: a dark disc with a lighter rim and a white pointer."""
    c.circle(cx, cy + 1.2, r + 0.5, fill=(200, 202, 206))  # soft shadow
    c.circle(cx, cy, r, fill=KNOB_LIGHT)
    c.circle(cx, cy, r - 2.5, fill=KNOB_DARK)
    a = math.radians(pointer_angle)
    dx, dy = math.sin(a), -math.cos(a)
    c.line([(cx + dx * (r * 0.25), cy + dy * (r * 0.25)),
            (cx + dx * (r - 5), cy + dy * (r - 5))], (250, 250, 250), 2.6)


SYMBOL_SCALE = 0.8  # function symbols on the selector picture


def selector(c, cx, cy, labels, caption):
    """A selector with six positions spread over the upper arc."""
    r_knob = 22
    r_label = 39  # to the label's inner edge when it sits straight above
    angles = [-75 + 30 * i for i in range(6)]
    for angle in angles:
        a = math.radians(angle)
        dx, dy = math.sin(a), -math.cos(a)
        c.line([(cx + dx * 26.5, cy + dy * 26.5), (cx + dx * 31, cy + dy * 31)], TICK, 1.4)
    knob(c, cx, cy, r_knob, angles[0])
    for angle, label in zip(angles, labels):
        a = math.radians(angle)
        if isinstance(label, tuple):
            width, height = 17 * SYMBOL_SCALE, 22 * SYMBOL_SCALE
        else:
            size = 12 if len(label) == 1 else 10
            width, height = Canvas.text_width(label, size), 9
        # Keep the same gap between the tick and the nearest side of the
        # label, whatever its width: wide labels move out at the sides.
        r = r_label + abs(math.sin(a)) * width / 2 + abs(math.cos(a)) * height / 2
        lx, ly = cx + math.sin(a) * r, cy - math.cos(a) * r
        if isinstance(label, tuple):
            symbol(c, label[0], lx, ly, SYMBOL_SCALE)
        else:
            c.text(lx, ly, label, size, DARK)
    c.text(cx, cy + 37, caption, 8.5, CAPTION)


def selectors():
    c = Canvas(257, 126, FACE)
    c.rounded_rect((0, 0, 257, 126), 8, PLATE, PLATE_EDGE, 1)
    c.line([(128.5, 14), (128.5, 112)], (222, 224, 226), 1)
    selector(c, 64.5, 74, ["X", "Y", "Z", "A", "B", "OFF"], "AXIS")
    selector(c, 192.5, 74,
             [("step",), ("speed",), ("fixed",), ("jograte",), ("feed",), ("spindle",)],
             "FUNCTION")
    return c.result()


PICTURES = {
    "speed_following.bmp": lambda: tile("speed"),   # 4015
    "selectors.bmp": selectors,                     # 4016
    "step_jog.bmp": lambda: tile("step"),           # 4017
    "fixed_rate.bmp": lambda: tile("fixed"),        # 4019
    "jog_rate.bmp": lambda: tile("jograte"),        # 4020
}


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else OUT_DIR
    for name, make in PICTURES.items():
        path = os.path.normpath(os.path.join(out_dir, name))
        make().save(path, format="BMP")
        print(path)


if __name__ == "__main__":
    main()
