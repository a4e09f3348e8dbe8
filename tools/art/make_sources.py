#!/usr/bin/env python3
"""Writes the vector sources of the validator's artwork.

Icons go straight to qml/images/Icons/*.svg (the scene loads them as they are
and tints them, so they are plain white shapes in a 24 x 24 box and use only
what the Qt SVG renderer understands: paths, circles, rects, strokes, fills).

Everything that ships as a bitmap (background, flags, the two tap/scan
animations, the menu button and the screen-saver logo) is written to
qml/images/src/*.svg; tools/art/render.sh turns those into the PNGs.

Run from anywhere:  python3 tools/art/make_sources.py
"""

import math
import os
import random

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
IMAGES = os.path.join(ROOT, "qml", "images")
SRC = os.path.join(IMAGES, "src")
ICONS = os.path.join(IMAGES, "Icons")

ACCENT = "#00ADD7"
WHITE = "#FFFFFF"
NAVY_TOP = "#0B1D3A"
NAVY_MID = "#071429"
NAVY_BOTTOM = "#030A17"
INK = "#0A1A33"          # dark print on the paper ticket and the card


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.strip() + "\n")


def f(v):
    """Short, stable number formatting for path data."""
    s = "%.2f" % v
    s = s.rstrip("0").rstrip(".")
    return "0" if s in ("-0", "") else s


# --------------------------------------------------------------------------
# Icons: 24 x 24, white strokes of 2 units, round ends.

ICON_HEAD = ('<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" '
             'viewBox="0 0 24 24">')
STROKE = ('fill="none" stroke="#FFFFFF" stroke-width="2" '
          'stroke-linecap="round" stroke-linejoin="round"')


def icon(body, filled=""):
    out = [ICON_HEAD, '<g %s>' % STROKE, body, '</g>']
    if filled:
        out += ['<g fill="#FFFFFF" stroke="none">', filled, '</g>']
    out.append('</svg>')
    return "\n".join(out)


def arc_path(cx, cy, r, a0, a1):
    """Circular arc from angle a0 to a1 (degrees, y down, clockwise positive)."""
    x0 = cx + r * math.cos(math.radians(a0))
    y0 = cy + r * math.sin(math.radians(a0))
    x1 = cx + r * math.cos(math.radians(a1))
    y1 = cy + r * math.sin(math.radians(a1))
    large = 1 if abs(a1 - a0) > 180 else 0
    sweep = 1 if a1 > a0 else 0
    return "M%s %s A%s %s 0 %d %d %s %s" % (f(x0), f(y0), f(r), f(r), large, sweep, f(x1), f(y1))


def arrow_head(cx, cy, r, a, size):
    """A solid triangle at angle a of a circle travelled clockwise, pointing along the travel."""
    ex = cx + r * math.cos(math.radians(a))
    ey = cy + r * math.sin(math.radians(a))
    t = math.radians(a + 90)                 # tangent of a clockwise (y down) turn
    n = math.radians(a)                      # outward normal
    tip = (ex + size * 0.75 * math.cos(t), ey + size * 0.75 * math.sin(t))
    b0 = (ex - size * 0.25 * math.cos(t) + size * 0.62 * math.cos(n),
          ey - size * 0.25 * math.sin(t) + size * 0.62 * math.sin(n))
    b1 = (ex - size * 0.25 * math.cos(t) - size * 0.62 * math.cos(n),
          ey - size * 0.25 * math.sin(t) - size * 0.62 * math.sin(n))
    return "M%s %s L%s %s L%s %s Z" % (f(tip[0]), f(tip[1]), f(b0[0]), f(b0[1]), f(b1[0]), f(b1[1]))


def contactless_arcs(cx, cy, radii, half_angle):
    """The contactless mark: arcs opening to the right around (cx, cy)."""
    return " ".join(arc_path(cx, cy, r, -half_angle, half_angle) for r in radii)


def make_icons():
    icons = {}
    icons["valid"] = icon('<circle cx="12" cy="12" r="10"/>'
                          '<path d="M7.2 12.4 L10.4 15.6 L16.8 8.8"/>')
    icons["invalid"] = icon('<circle cx="12" cy="12" r="10"/>'
                            '<path d="M8.3 8.3 L15.7 15.7 M15.7 8.3 L8.3 15.7"/>')
    icons["warning"] = icon('<path d="M10.3 3.9 L2.2 18.2 A2 2 0 0 0 3.9 21 H20.1 '
                            'A2 2 0 0 0 21.8 18.2 L13.7 3.9 A2 2 0 0 0 10.3 3.9 Z"/>'
                            '<path d="M12 9 V13.6"/>',
                            '<circle cx="12" cy="17.2" r="1.25"/>')
    # A clockwise arrow that almost closes its circle, head at the top right.
    icons["retry"] = icon('<path d="%s"/>' % arc_path(12, 12, 8.5, 30, 285),
                          '<path d="%s"/>' % arrow_head(12, 12, 8.5, 285, 5.2))
    # Three finder squares and a few modules in the free corner.
    qr_fill = []
    for (x, y) in ((3, 3), (14, 3), (3, 14)):
        qr_fill.append('<rect x="%s" y="%s" width="3" height="3" rx="0.4"/>' % (x + 2, y + 2))
    for (x, y) in ((14, 14), (18.5, 14), (16.25, 16.25), (14, 18.5), (18.5, 18.5)):
        qr_fill.append('<rect x="%s" y="%s" width="2.5" height="2.5" rx="0.4"/>' % (f(x), f(y)))
    icons["qr-code"] = icon('<rect x="3" y="3" width="7" height="7" rx="1.2"/>'
                            '<rect x="14" y="3" width="7" height="7" rx="1.2"/>'
                            '<rect x="3" y="14" width="7" height="7" rx="1.2"/>',
                            "".join(qr_fill))
    icons["nfc"] = icon('<path d="%s"/>' % contactless_arcs(3.5, 12, (4.5, 8.5, 12.5, 16.5), 38))
    icons["lock"] = icon('<rect x="4.5" y="10.5" width="15" height="11" rx="2.2"/>'
                         '<path d="M8 10.5 V7.5 A4 4 0 0 1 16 7.5 V10.5"/>'
                         '<path d="M12 15.6 V17.4"/>',
                         '<circle cx="12" cy="15.3" r="1.4"/>')
    icons["chevron-left"] = icon('<path d="M15 4.5 L7.5 12 L15 19.5"/>')
    icons["arrow-right"] = icon('<path d="M4 12 H19.5 M13 5.5 L19.5 12 L13 18.5"/>')
    icons["ticket"] = icon('<path d="M4.5 5.5 H19.5 A1.5 1.5 0 0 1 21 7 V9.8 A2.2 2.2 0 0 0 21 14.2 '
                           'V17 A1.5 1.5 0 0 1 19.5 18.5 H4.5 A1.5 1.5 0 0 1 3 17 V14.2 '
                           'A2.2 2.2 0 0 0 3 9.8 V7 A1.5 1.5 0 0 1 4.5 5.5 Z"/>'
                           '<path d="M15 8.3 V9.3 M15 11.5 V12.5 M15 14.7 V15.7"/>')
    icons["diagnostic"] = icon('<path d="M2 12.5 H6 L8.8 6 L13.2 19 L16.2 10.5 L17.8 12.5 H22"/>')
    icons["region"] = icon('<circle cx="12" cy="12" r="10"/>'
                           '<path d="M12 2 C8.6 5.2 8.6 18.8 12 22 C15.4 18.8 15.4 5.2 12 2 Z"/>'
                           '<path d="M2.6 9 H21.4 M2.6 15 H21.4"/>')
    icons["audio"] = icon('<path d="M3.5 9.2 H7.2 L12 5 V19 L7.2 14.8 H3.5 Z"/>'
                          '<path d="%s"/>' % (arc_path(12, 12, 4, -48, 48) + " "
                                              + arc_path(12, 12, 8, -50, 50)))
    rays = []
    for i in range(8):
        a = math.radians(i * 45)
        rays.append("M%s %s L%s %s" % (f(12 + 7 * math.cos(a)), f(12 + 7 * math.sin(a)),
                                       f(12 + 9.6 * math.cos(a)), f(12 + 9.6 * math.sin(a))))
    icons["brightness-2"] = icon('<circle cx="12" cy="12" r="4.3"/><path d="%s"/>' % " ".join(rays),
                                 '<path d="M12 7.7 A4.3 4.3 0 0 1 12 16.3 Z"/>')
    icons["network"] = icon('<rect x="8.5" y="2.5" width="7" height="5.5" rx="1.2"/>'
                            '<rect x="2.5" y="16" width="7" height="5.5" rx="1.2"/>'
                            '<rect x="14.5" y="16" width="7" height="5.5" rx="1.2"/>'
                            '<path d="M12 8 V12 M6 16 V12 H18 V16"/>')
    icons["update"] = icon('<path d="M12 3 V14.5 M7 9.8 L12 14.8 L17 9.8"/>'
                           '<path d="M4 15.5 V19 A1.5 1.5 0 0 0 5.5 20.5 H18.5 A1.5 1.5 0 0 0 20 19 V15.5"/>')
    icons["log"] = icon('<path d="M14 2.5 H7 A2 2 0 0 0 5 4.5 V19.5 A2 2 0 0 0 7 21.5 H17 '
                        'A2 2 0 0 0 19 19.5 V7.5 Z"/>'
                        '<path d="M14 2.5 V7.5 H19"/>'
                        '<path d="M8.5 12 H15.5 M8.5 15.5 H15.5 M8.5 8.5 H11"/>')
    for name, text in icons.items():
        write(os.path.join(ICONS, name + ".svg"), text)


# --------------------------------------------------------------------------
# Bitmap sources.

def svg(w, h, body, defs=""):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            '<defs>%s</defs>\n%s\n</svg>' % (w, h, w, h, defs, body))


def make_background():
    w, h = 480, 800
    defs = ('<linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="%s"/><stop offset="0.55" stop-color="%s"/>'
            '<stop offset="1" stop-color="%s"/></linearGradient>' % (NAVY_TOP, NAVY_MID, NAVY_BOTTOM)
            + '<radialGradient id="glow" cx="0.5" cy="0.5" r="0.5">'
            '<stop offset="0" stop-color="%s" stop-opacity="0.10"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0"/></radialGradient>' % (ACCENT, ACCENT)
            + '<linearGradient id="fade" x1="0" y1="0" x2="1" y2="0">'
            '<stop offset="0" stop-color="%s" stop-opacity="0"/>'
            '<stop offset="0.25" stop-color="%s" stop-opacity="1"/>'
            '<stop offset="0.75" stop-color="%s" stop-opacity="1"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0"/></linearGradient>'
            % (ACCENT, ACCENT, ACCENT, ACCENT)
            # a faint grain: the gradients are only a few 8-bit levels deep and
            # would show rings and bands on the panel without it
            + '<filter id="grain" x="0" y="0" width="1" height="1">'
            '<feTurbulence type="fractalNoise" baseFrequency="0.85" numOctaves="1" seed="3"/>'
            '<feColorMatrix type="matrix" values="0 0 0 0 1  0 0 0 0 1  0 0 0 0 1  0 0 0 1.2 -0.6"/>'
            '</filter>')
    body = ['<rect width="%d" height="%d" fill="url(#sky)"/>' % (w, h),
            '<ellipse cx="240" cy="420" rx="330" ry="330" fill="url(#glow)"/>']
    # A faint route map low on the screen: two lines with stops, in the way a
    # network map on a tram wall draws them.
    route_a = "M-20 745 H130 Q160 745 181 724 L245 660 Q266 639 296 639 H500"
    route_b = "M-20 785 H220 Q250 785 271 764 L320 715 Q341 694 371 694 H500"
    body.append('<g fill="none" stroke-linecap="round" stroke-linejoin="round">')
    body.append('<path d="%s" stroke="%s" stroke-opacity="0.11" stroke-width="8"/>' % (route_a, ACCENT))
    body.append('<path d="%s" stroke="%s" stroke-opacity="0.06" stroke-width="8"/>' % (route_b, WHITE))
    body.append('</g>')
    for (x, y, op) in ((60, 745, 0.14), (213, 692, 0.14), (350, 639, 0.14), (435, 639, 0.14)):
        body.append('<circle cx="%d" cy="%d" r="8" fill="%s" fill-opacity="%.2f" '
                    'stroke="%s" stroke-opacity="%.2f" stroke-width="4"/>' % (x, y, NAVY_MID, 1.0, ACCENT, op))
    for (x, y) in ((150, 785), (295, 740), (430, 694)):
        body.append('<circle cx="%d" cy="%d" r="8" fill="%s" stroke="%s" stroke-opacity="0.08" '
                    'stroke-width="4"/>' % (x, y, NAVY_BOTTOM, WHITE))
    # A hairline under the header band keeps the flag and clock on their own strip.
    body.append('<rect x="0" y="119" width="%d" height="1" fill="url(#fade)" fill-opacity="0.18"/>' % w)
    body.append('<rect width="%d" height="%d" filter="url(#grain)" opacity="0.035"/>' % (w, h))
    write(os.path.join(SRC, "background.svg"), svg(w, h, "\n".join(body), defs))


def make_flags():
    s = 100
    r = 48
    c = s / 2
    clip = '<clipPath id="disc"><circle cx="%s" cy="%s" r="%s"/></clipPath>' % (f(c), f(c), f(r))
    rim = ('<circle cx="%s" cy="%s" r="%s" fill="none" stroke="#FFFFFF" stroke-opacity="0.85" '
           'stroke-width="2.5"/>' % (f(c), f(c), f(r - 0.75)))

    # Greece: nine stripes, blue first; a white cross on a blue canton five stripes high.
    blue = "#0D5EAF"
    stripe = 2 * r / 9.0
    top = c - r
    g = ['<rect x="0" y="0" width="%d" height="%d" fill="#FFFFFF"/>' % (s, s)]
    for i in range(0, 9, 2):
        g.append('<rect x="0" y="%s" width="%d" height="%s" fill="%s"/>'
                 % (f(top + i * stripe), s, f(stripe), blue))
    canton = 5 * stripe
    left = c - r
    g.append('<rect x="0" y="0" width="%s" height="%s" fill="%s"/>' % (f(left + canton), f(top + canton), blue))
    g.append('<rect x="0" y="%s" width="%s" height="%s" fill="#FFFFFF"/>'
             % (f(top + 2 * stripe), f(left + canton), f(stripe)))
    g.append('<rect x="%s" y="0" width="%s" height="%s" fill="#FFFFFF"/>'
             % (f(left + 2 * stripe), f(stripe), f(top + canton)))
    gr = svg(s, s, '<g clip-path="url(#disc)">%s</g>%s' % ("".join(g), rim), clip)
    write(os.path.join(SRC, "flag-gr.svg"), gr)

    # United Kingdom, square: saltires counterchanged, St George's cross on top.
    red = "#C8102E"
    navy = "#012169"
    quarters = ('<clipPath id="q"><path d="M50 50 H100 V100 Z V100 H0 Z H0 V0 Z V0 H100 Z"/></clipPath>')
    u = ['<rect width="%d" height="%d" fill="%s"/>' % (s, s, navy),
         '<path d="M0 0 L100 100 M100 0 L0 100" stroke="#FFFFFF" stroke-width="17"/>',
         '<path d="M0 0 L100 100 M100 0 L0 100" stroke="%s" stroke-width="11" clip-path="url(#q)"/>' % red,
         '<path d="M50 0 V100 M0 50 H100" stroke="#FFFFFF" stroke-width="27"/>',
         '<path d="M50 0 V100 M0 50 H100" stroke="%s" stroke-width="16"/>' % red]
    uk = svg(s, s, '<g clip-path="url(#disc)">%s</g>%s' % ("".join(u), rim), clip + quarters)
    write(os.path.join(SRC, "flag-uk.svg"), uk)


def card_group(x, y, angle, opacity):
    """A contactless card, 150 x 95, its centre at (x, y)."""
    w, h = 150, 95
    parts = ['<g transform="translate(%s %s) rotate(%s) translate(%s %s)" opacity="%s">'
             % (f(x), f(y), f(angle), f(-w / 2), f(-h / 2), f(opacity)),
             '<rect x="0" y="0" width="%d" height="%d" rx="11" fill="#F4FAFD"/>' % (w, h),
             '<rect x="0" y="58" width="%d" height="14" fill="%s" fill-opacity="0.9"/>' % (w, ACCENT),
             '<rect x="16" y="20" width="28" height="22" rx="4" fill="%s"/>' % "#C9D6E0",
             '<path d="M16 31 H44 M30 20 V42" stroke="#F4FAFD" stroke-width="1.6"/>',
             '<path d="%s" fill="none" stroke="%s" stroke-width="3" stroke-linecap="round"/>'
             % (contactless_arcs(112, 31, (6, 11.5, 17), 40), INK),
             '<rect x="16" y="80" width="58" height="5" rx="2.5" fill="%s" fill-opacity="0.35"/>' % INK,
             '</g>']
    return "".join(parts)


def make_nfc():
    """Seven frames: the card comes down onto the reader mark, then it answers."""
    w = h = 300
    cx, cy = 150, 185                         # the reader mark
    defs = ('<radialGradient id="halo" cx="0.5" cy="0.5" r="0.5">'
            '<stop offset="0" stop-color="%s" stop-opacity="0.45"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0"/></radialGradient>' % (ACCENT, ACCENT))
    # card centre, angle, opacity per frame; the top right stays clear for the caption beside it
    path = [(92, 80, -24, 0.35), (110, 113, -18, 0.65), (128, 145, -12, 0.9), (145, 176, -7, 1.0),
            (148, 182, -5, 1.0), (148, 182, -5, 1.0), (148, 182, -5, 1.0)]
    waves = [0, 0, 0, 0, 1, 2, 3]
    for n in range(7):
        body = []
        lit = waves[n] > 0
        if lit:
            body.append('<circle cx="%d" cy="%d" r="125" fill="url(#halo)"/>' % (cx, cy))
        # reader: a rounded pad with the contactless mark
        body.append('<rect x="%d" y="%d" width="170" height="170" rx="34" fill="%s" fill-opacity="%s" '
                    'stroke="%s" stroke-width="6"/>' % (cx - 85, cy - 85, ACCENT, "0.22" if lit else "0.10", ACCENT))
        if path[n][3] < 1.0:                  # an opaque card on the pad hides the mark
            body.append('<path d="%s" fill="none" stroke="#FFFFFF" stroke-width="8" stroke-linecap="round"/>'
                        % contactless_arcs(cx - 34, cy, (14, 31, 48, 65), 36))
        # answer waves spreading from the pad's edges
        for i in range(waves[n]):
            r = 108 + 16 * i
            op = 0.95 - 0.25 * i
            for (a0, a1) in ((-30, 30), (150, 210)):
                body.append('<path d="%s" fill="none" stroke="%s" stroke-opacity="%s" stroke-width="7" '
                            'stroke-linecap="round"/>' % (arc_path(cx, cy, r, a0, a1), ACCENT, f(op)))
        x, y, a, op = path[n]
        body.append(card_group(x, y, a, op))
        write(os.path.join(SRC, "nfc-%d.svg" % n), svg(w, h, "\n".join(body), defs))


def qr_modules(seed=7, n=21):
    """A QR-looking grid: three finder patterns, timing lines, random data."""
    rnd = random.Random(seed)
    grid = [[False] * n for _ in range(n)]
    reserved = [[False] * n for _ in range(n)]

    def finder(ox, oy):
        for y in range(-1, 8):
            for x in range(-1, 8):
                X, Y = ox + x, oy + y
                if 0 <= X < n and 0 <= Y < n:
                    reserved[Y][X] = True
                    ring = max(abs(x - 3), abs(y - 3))
                    grid[Y][X] = ring in (0, 1, 3)
    finder(0, 0)
    finder(n - 7, 0)
    finder(0, n - 7)
    for i in range(8, n - 8):
        grid[6][i] = grid[i][6] = (i % 2 == 0)
        reserved[6][i] = reserved[i][6] = True
    for y in range(n):
        for x in range(n):
            if not reserved[y][x]:
                grid[y][x] = rnd.random() < 0.5
    return grid


def qr_path(ox, oy, size, grid):
    n = len(grid)
    m = size / n
    cells = []
    for y in range(n):
        x = 0
        while x < n:
            if grid[y][x]:
                x0 = x
                while x < n and grid[y][x]:
                    x += 1
                cells.append("M%s %sh%sv%sh-%sz" % (f(ox + x0 * m), f(oy + y * m), f((x - x0) * m),
                                                  f(m), f((x - x0) * m)))
            else:
                x += 1
    return "".join(cells)


def ticket_group(x, y, opacity, grid):
    """A paper ticket 130 x 170 with its top-left at (x, y)."""
    w, h = 130, 170
    notch = ('M0 10 A10 10 0 0 1 10 0 H%d A10 10 0 0 1 %d 10 V%d A9 9 0 0 0 %d %d V%d '
             'A10 10 0 0 1 %d %d H10 A10 10 0 0 1 0 %d V%d A9 9 0 0 0 0 %d Z'
             % (w - 10, w, 116, w, 134, h - 10, w - 10, h, h - 10, 134, 116))
    parts = ['<g transform="translate(%s %s)" opacity="%s">' % (f(x), f(y), f(opacity)),
             '<path d="%s" fill="#F4FAFD"/>' % notch,
             '<path d="%s" fill="%s"/>' % (qr_path(17, 14, 96, grid), INK),
             '<path d="M14 125 H116" stroke="%s" stroke-opacity="0.35" stroke-width="2" '
             'stroke-dasharray="4 5"/>' % INK,
             '<rect x="17" y="138" width="62" height="7" rx="3.5" fill="%s" fill-opacity="0.55"/>' % INK,
             '<rect x="17" y="151" width="40" height="7" rx="3.5" fill="%s"/>' % ACCENT,
             '</g>']
    return "".join(parts)


def make_barcode():
    """Nine frames: the ticket rises into the scanner window, the beam reads it."""
    w = h = 300
    grid = qr_modules()
    vx0, vy0, vx1, vy1 = 62, 48, 238, 262      # the scanner window
    tx, ty = 85, 60                            # ticket at rest
    defs = ('<linearGradient id="beam" x1="0" y1="0" x2="0" y2="1">'
            '<stop offset="0" stop-color="%s" stop-opacity="0"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0.45"/></linearGradient>' % (ACCENT, ACCENT)
            + '<radialGradient id="halo" cx="0.5" cy="0.5" r="0.5">'
            '<stop offset="0" stop-color="%s" stop-opacity="0.40"/>'
            '<stop offset="1" stop-color="%s" stop-opacity="0"/></radialGradient>' % (ACCENT, ACCENT))
    rise = [(70, 0.35), (40, 0.7), (12, 0.95), (0, 1), (0, 1), (0, 1), (0, 1), (0, 1), (0, 1)]
    beam = [None, None, None, 18, 42, 66, 90, 114, None]   # down the code, then off its foot
    for n in range(9):
        body = []
        done = n == 8
        if done:
            body.append('<circle cx="150" cy="145" r="140" fill="url(#halo)"/>')
        off, op = rise[n]
        body.append(ticket_group(tx, ty + off, op, grid))
        # window corners
        L = 34
        corner_col = ACCENT if done else WHITE
        corners = ("M%d %d V%d Q%d %d %d %d H%d " % (vx0, vy0 + L, vy0 + 10, vx0, vy0, vx0 + 10, vy0, vx0 + L)
                   + "M%d %d H%d Q%d %d %d %d V%d " % (vx1 - L, vy0, vx1 - 10, vx1, vy0, vx1, vy0 + 10, vy0 + L)
                   + "M%d %d V%d Q%d %d %d %d H%d " % (vx1, vy1 - L, vy1 - 10, vx1, vy1, vx1 - 10, vy1, vx1 - L)
                   + "M%d %d H%d Q%d %d %d %d V%d" % (vx0 + L, vy1, vx0 + 10, vx0, vy1, vx0, vy1 - 10, vy1 - L))
        body.append('<path d="%s" fill="none" stroke="%s" stroke-width="8" stroke-linecap="round" '
                    'stroke-linejoin="round"/>' % (corners, corner_col))
        if beam[n] is not None:
            by = ty + beam[n]
            trail = min(34, by - ty)           # the glow stays on the paper
            body.append('<rect x="%d" y="%d" width="%d" height="%d" fill="url(#beam)"/>'
                        % (vx0 + 6, by - trail, vx1 - vx0 - 12, trail))
            body.append('<rect x="%d" y="%d" width="%d" height="5" rx="2.5" fill="%s"/>'
                        % (vx0 - 4, by - 2, vx1 - vx0 + 8, ACCENT))
        write(os.path.join(SRC, "barcode-%d.svg" % n), svg(w, h, "\n".join(body), defs))


def make_menu():
    body = "".join('<circle cx="32" cy="%d" r="5.5" fill="#FFFFFF"/>' % y for y in (15, 32, 49))
    write(os.path.join(SRC, "menu.svg"), svg(64, 64, body))


def make_logo():
    """The screen-saver mark: an emblem and the lower-case word drawn from circles and strokes."""
    wdt, hgt = 300, 120
    sw = 10                      # letter stroke
    base, xh = 82, 44            # baseline and x-height of the word
    mid = base - xh / 2
    r = xh / 2 - sw / 2          # radius of the o's centre line
    parts = ['<g fill="none" stroke="#FFFFFF" stroke-width="%d" stroke-linecap="round" '
             'stroke-linejoin="round">' % sw]
    # emblem: a ring with a reader's arcs leaving it, like a card being read
    ecx, ecy = 34, mid
    parts.append('<circle cx="%s" cy="%s" r="22" stroke-width="7"/>' % (f(ecx), f(ecy)))
    parts.append('<circle cx="%s" cy="%s" r="7" fill="#FFFFFF" stroke="none"/>' % (f(ecx), f(ecy)))
    parts.append('<path d="%s" stroke-width="5"/>' % contactless_arcs(ecx, ecy, (32, 42), 32))
    x = 96                       # left edge of the word
    gap = 9
    # o
    parts.append('<circle cx="%s" cy="%s" r="%s"/>' % (f(x + sw / 2 + r), f(mid), f(r)))
    x += 2 * r + sw + gap
    # r: stem and a shoulder
    sx = x + sw / 2
    top = base - xh + sw / 2
    parts.append('<path d="M%s %s V%s"/>' % (f(sx), f(base - sw / 2), f(top)))
    parts.append('<path d="M%s %s C%s %s %s %s %s %s"/>' % (f(sx), f(mid + 4), f(sx), f(top + 4),
                                                         f(sx + 8), f(top), f(sx + 24), f(top)))
    x += 24 + sw + gap - 4
    # v
    parts.append('<path d="M%s %s L%s %s L%s %s"/>' % (f(x + sw / 2), f(top), f(x + sw / 2 + 19), f(base - sw / 2),
                                                      f(x + sw / 2 + 38), f(top)))
    x += 38 + sw + gap
    # o
    parts.append('<circle cx="%s" cy="%s" r="%s"/>' % (f(x + sw / 2 + r), f(mid), f(r)))
    x += 2 * r + sw
    parts.append('</g>')
    # centre the whole mark in the box
    left, right = ecx - 25.5, x
    shift = (wdt - (right - left)) / 2 - left
    body = '<g transform="translate(%s 0)">%s</g>' % (f(shift), "".join(parts))
    write(os.path.join(SRC, "orvo.svg"), svg(wdt, hgt, body))


if __name__ == "__main__":
    make_icons()
    make_background()
    make_flags()
    make_nfc()
    make_barcode()
    make_menu()
    make_logo()
