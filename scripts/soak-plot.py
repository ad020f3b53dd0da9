#!/usr/bin/env python3
"""Draws the once-a-minute lines of a veze6_soak run as an SVG: resident
memory (MiB, left axis) and item values delivered per minute (millions,
right axis) over the elapsed minutes.

    scripts/soak-plot.py docs/soak/soak-DATE.txt docs/soak/soak.svg
"""
import re
import sys

W, H = 900, 460
LEFT, RIGHT, TOP, BOTTOM = 80, 90, 50, 60


def read(path):
    rows = []
    line_re = re.compile(r"^minute=([\d.]+) rss=(\d+)KiB .* updates=(\d+)")
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = line_re.match(line)
            if m:
                rows.append((float(m[1]), int(m[2]) / 1024.0, int(m[3]) / 1e6))
    return rows


def nice_top(value):
    """A round axis maximum at or above value."""
    if value <= 0:
        return 1.0
    step = 10 ** len(str(int(value))) / 10
    for f in (1, 2, 2.5, 5, 10):
        if f * step >= value:
            return f * step
    return 10 * step


def polyline(points, colour):
    text = " ".join(f"{x:.1f},{y:.1f}" for x, y in points)
    dots = "".join(f'<circle cx="{x:.1f}" cy="{y:.1f}" r="2.5" fill="{colour}"/>' for x, y in points)
    return f'<polyline fill="none" stroke="{colour}" stroke-width="2" points="{text}"/>{dots}'


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rows = read(sys.argv[1])
    if not rows:
        sys.exit(f"no minute lines in {sys.argv[1]}")
    xmax = max(r[0] for r in rows)
    rss_top = nice_top(max(r[1] for r in rows) * 1.2)
    upd_top = nice_top(max(r[2] for r in rows) * 1.2)
    pw, ph = W - LEFT - RIGHT, H - TOP - BOTTOM

    def x(v):
        return LEFT + pw * v / xmax

    def y(v, top):
        return TOP + ph * (1 - v / top)

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
           'font-family="sans-serif" font-size="12">',
           f'<rect width="{W}" height="{H}" fill="white"/>',
           f'<text x="{W / 2}" y="24" text-anchor="middle" font-size="15">'
           'veze6 soak: resident memory and item values delivered per minute</text>']
    for i in range(6):
        gy = TOP + ph * i / 5
        out.append(f'<line x1="{LEFT}" y1="{gy}" x2="{LEFT + pw}" y2="{gy}" stroke="#ddd"/>')
        out.append(f'<text x="{LEFT - 6}" y="{gy + 4}" text-anchor="end" fill="#1f5fbf">'
                   f'{rss_top * (5 - i) / 5:g}</text>')
        out.append(f'<text x="{LEFT + pw + 6}" y="{gy + 4}" fill="#c0501f">'
                   f'{upd_top * (5 - i) / 5:g}</text>')
    step = 10 if xmax > 20 else 1
    m = 0
    while m <= xmax + 1e-9:
        out.append(f'<text x="{x(m)}" y="{TOP + ph + 18}" text-anchor="middle">{m:g}</text>')
        out.append(f'<line x1="{x(m)}" y1="{TOP + ph}" x2="{x(m)}" y2="{TOP + ph + 4}" stroke="black"/>')
        m += step
    out.append(f'<rect x="{LEFT}" y="{TOP}" width="{pw}" height="{ph}" fill="none" stroke="black"/>')
    out.append(f'<text x="{LEFT + pw / 2}" y="{H - 18}" text-anchor="middle">minutes</text>')
    out.append(f'<text transform="translate(22,{TOP + ph / 2}) rotate(-90)" text-anchor="middle" '
               'fill="#1f5fbf">RSS (MiB)</text>')
    out.append(f'<text transform="translate({W - 24},{TOP + ph / 2}) rotate(90)" '
               'text-anchor="middle" fill="#c0501f">updates per minute (millions)</text>')
    out.append(polyline([(x(r[0]), y(r[1], rss_top)) for r in rows], "#1f5fbf"))
    out.append(polyline([(x(r[0]), y(r[2], upd_top)) for r in rows], "#c0501f"))
    out.append("</svg>")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
