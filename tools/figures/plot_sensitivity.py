#!/usr/bin/python3
"""Draws docs/images/sensitivity.png from the CSV that sensitivity_curve prints.

usage: build/native/sensitivity_curve | tools/figures/plot_sensitivity.py OUT.png
Needs Debian's python3-pil and fonts-dejavu-core.
"""
import csv
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
W, H, SCALE = 760, 440, 3
LEFT, RIGHT, TOP, BOTTOM = 70, 150, 30, 60
MAX_SPEED = 200
COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
           "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"]


def main():
    rows = list(csv.DictReader(sys.stdin))
    out = sys.argv[1]
    img = Image.new("RGB", (W * SCALE, H * SCALE), "white")
    d = ImageDraw.Draw(img)
    font = ImageFont.truetype(FONT, 13 * SCALE)
    small = ImageFont.truetype(FONT, 11 * SCALE)

    def xy(speed, share):
        x = LEFT + (W - LEFT - RIGHT) * speed / MAX_SPEED
        y = H - BOTTOM - (H - TOP - BOTTOM) * share
        return x * SCALE, y * SCALE

    for pct in range(0, 101, 20):
        x0, y = xy(0, pct / 100)
        x1, _ = xy(MAX_SPEED, 0)
        d.line([(x0, y), (x1, y)], fill="#dddddd", width=SCALE)
        d.text((x0 - 8 * SCALE, y), f"{pct} %", font=small, fill="black", anchor="rm")
    for speed in range(0, MAX_SPEED + 1, 25):
        x, y0 = xy(speed, 0)
        _, y1 = xy(0, 1)
        d.line([(x, y0), (x, y1)], fill="#dddddd", width=SCALE)
        d.text((x, y0 + 8 * SCALE), str(speed), font=small, fill="black", anchor="mt")
    d.rectangle([xy(0, 1), xy(MAX_SPEED, 0)], outline="black", width=SCALE)
    d.text(((LEFT + (W - RIGHT)) / 2 * SCALE, (H - 18) * SCALE),
           "wheel speed (the pendant's speed value, steady)", font=font, fill="black", anchor="mm")
    d.text((LEFT * SCALE, 12 * SCALE), "jog speed, share of the axis's full jog rate",
           font=font, fill="black", anchor="lm")

    for vel in range(10):
        pts = [xy(int(r["speed"]), float(r[f"vel{vel}"])) for r in rows
               if int(r["speed"]) <= MAX_SPEED]
        d.line(pts, fill=COLOURS[vel], width=2 * SCALE, joint="curve")
        lx, ly = (W - RIGHT + 20) * SCALE, (TOP + 14 + vel * 24) * SCALE
        d.line([(lx, ly), (lx + 24 * SCALE, ly)], fill=COLOURS[vel], width=3 * SCALE)
        d.text((lx + 32 * SCALE, ly), f"sensitivity {vel + 1}", font=small, fill="black",
               anchor="lm")

    img.resize((W, H), Image.LANCZOS).save(out)


if __name__ == "__main__":
    main()
