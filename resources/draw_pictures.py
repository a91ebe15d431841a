#!/usr/bin/python3
"""Draws every picture of Kestrave: both window backgrounds, the help page,
the button and close-button plates, the check glyphs and the program icon.

Run from anywhere (Debian's Pillow is needed, the pyenv python has none):

    apt-get install -y python3-pil fonts-wqy-zenhei
    /usr/bin/python3 resources/draw_pictures.py

The outputs land next to this script and are committed, so building the
program never needs Python.  The script is deterministic: running it again
rewrites the same bytes.

Every bitmap is written as a 24-bit bottom-up BI_RGB .bmp because the windows
blit them with plain GDI; there is no alpha, so anything that sits on top of
another picture (button plates, close plates, check glyphs) is drawn on the
exact colour it will cover.

The program does not carry the .bmp files themselves: the gradients and
antialiased art have thousands of colours, so no palette form fits, and the
raw bitmaps would be most of the program's size.  Each one is also written
as a .dib.deflate file next to it, which is what kestrave.rc embeds (the form
is described at save_deflated; the program unpacks it with its own decoder,
src/shared/inflate.cpp).  The .bmp files stay as the viewable originals.
"""

import io
import math
import os
import struct
import zlib

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

# Shapes are drawn this many times larger and scaled down, which is the
# cheapest way to get smooth rounded corners and diagonals out of Pillow.
SS = 4

# Every coordinate below is a pixel of the 100 % design.  The pictures are
# drawn again at the display scales the program carries (see SCALES): K is the
# scale being drawn, and S/SB turn design pixels into pixels at that scale.  A
# design pixel covers the cells [x, x + 1), so a box keeps its edges where
# they fall at the scale and neighbouring shapes never drift apart.  At K = 1
# every helper reduces to what it scales, so the 100 % pictures stay byte for
# byte what they were.
K = 1
# (suffix, scale): the 200 % set.  Every scale above 100 % is the 200 % set
# reduced by the program (area averaging), never an enlargement, which would
# blur.  A 150 % set as well would be sharper still at exactly 150 %, but
# both sets do not fit the program's size budget (see save_deflated).
SCALES = (("200", 2),)


def S(v):
    """A design pixel edge at the scale being drawn, halves rounded up."""
    return int(math.floor(v * K + 0.5))


def SB(box):
    """An inclusive design pixel box at the scale being drawn."""
    x0, y0, x1, y1 = box
    return (S(x0), S(y0), S(x1 + 1) - 1, S(y1 + 1) - 1)


def SZ(size):
    return (S(size[0]), S(size[1]))


def fill_box(img, box, colour):
    """Fills an inclusive design box (a one-pixel line is a box one pixel
    thick), clipped to the picture."""
    x0, y0, x1, y1 = SB(box)
    if x1 >= x0 and y1 >= y0:
        ImageDraw.Draw(img).rectangle((x0, y0, x1, y1), fill=colour)


def outline_box(img, box, colour):
    x0, y0, x1, y1 = box
    for edge in ((x0, y0, x1, y0), (x0, y1, x1, y1), (x0, y0, x0, y1), (x1, y0, x1, y1)):
        fill_box(img, edge, colour)

# ---------------------------------------------------------------- palette
# Window body.  The command buttons sit on it in both windows, and the plates'
# corner pixels are painted in it, so it has to stay one flat colour.
BODY = (211, 228, 248)
# Inside of the frames: light, because the program writes blue text on it
# with a transparent background.
PANE = (241, 247, 255)
PANE_EDGE = (116, 158, 214)
PANE_SHADE = (186, 207, 235)
OUTLINE = (12, 34, 86)          # one-pixel window edge (the windows have no frame)
ACCENT = (96, 178, 246)         # the thin glowing line under the title strip
TEXT_DARK = (22, 62, 140)       # painted captions
TEXT_BLUE = (0, 0, 255)         # what the program uses for its own labels

STRIP_H = 31                    # the drag handle covers rows 0..30


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def strip_colour(y):
    """Glossy title strip: a brighter upper half, a hard break, and a darker
    lower half that lifts again towards the bottom edge.  Kept fairly dark so
    the program's light blue caption reads on it."""
    if y < 14:
        return lerp((66, 118, 196), (38, 84, 160), y / 13)
    return lerp((14, 44, 108), (30, 76, 150), (y - 14) / (STRIP_H - 1 - 14))


# ---------------------------------------------------------------- helpers
def rrect_mask(size, box, r):
    """Antialiased mask of a rounded rectangle; box holds inclusive pixel
    indices, r the corner radius in pixels."""
    w, h = size
    m = Image.new("L", (w * SS, h * SS), 0)
    x0, y0, x1, y1 = box
    u = K * SS
    ImageDraw.Draw(m).rounded_rectangle(
        (S(x0) * SS, S(y0) * SS, S(x1 + 1) * SS - 1, S(y1 + 1) * SS - 1), radius=r * u, fill=255)
    return m.resize(size, Image.LANCZOS)


def vgrad(size, stops):
    """Vertical gradient through (position 0..1, colour) stops."""
    w, h = size
    g = Image.new("RGB", (1, h))
    px = g.load()
    for y in range(h):
        t = y / max(1, h - 1)
        for i in range(len(stops) - 1):
            p0, c0 = stops[i]
            p1, c1 = stops[i + 1]
            if p0 <= t <= p1:
                px[0, y] = lerp(c0, c1, 0 if p1 == p0 else (t - p0) / (p1 - p0))
                break
    return g.resize((w, h))


def fill(img, mask, colour_or_image):
    src = colour_or_image
    if isinstance(src, tuple):
        src = Image.new("RGB", img.size, src)
    img.paste(src, (0, 0), mask)


def fill_rrect(img, box, r, colour_or_image):
    fill(img, rrect_mask(img.size, box, r), colour_or_image)


def grad_in_box(img, box, stops):
    """A full-size image carrying a gradient exactly across box's rows."""
    x0, y0, x1, y1 = SB(box)
    full = Image.new("RGB", img.size, (0, 0, 0))
    full.paste(vgrad((x1 - x0 + 1, y1 - y0 + 1), stops), (x0, y0))
    return full


def font(path, size, index=0):
    """The face at its design size scaled: text is drawn afresh at every
    scale, never enlarged."""
    return ImageFont.truetype(path, S(size), index=index)


def design_font(path, size, index=0):
    """The face at the 100 % size, for laying text out in design pixels."""
    return ImageFont.truetype(path, size, index=index)


def text(img, xy, s, fnt, colour, shadow=None, anchor="la"):
    d = ImageDraw.Draw(img)
    x, y = xy[0] * K, xy[1] * K
    if shadow:
        d.text((x + K, y + K), s, font=fnt, fill=shadow, anchor=anchor)
    d.text((x, y), s, font=fnt, fill=colour, anchor=anchor)


# Where the pictures of the scale being drawn go, and the suffix their
# resource names carry; the 100 % ones lie next to this script.
OUT = HERE
SUFFIX = ""


def save_bmp(img, name, size):
    assert img.size == SZ(size), (name, img.size, SZ(size))
    stem = os.path.splitext(name)[0] + SUFFIX
    if K != 1:
        # The larger originals are kept viewable as PNG: a .bmp of each would
        # weigh megabytes in the repository for nothing.
        img.convert("RGB").save(os.path.join(OUT, stem + ".png"), "PNG", optimize=True)
    else:
        img.convert("RGB").save(os.path.join(OUT, stem + ".bmp"), "BMP")
    save_deflated(img, os.path.join(OUT, stem + ".dib.deflate"))


def save_deflated(img, path):
    """Every picture is carried as a DEFLATE_DIB resource: the system's own
    LZNT1 packs the gradients and antialiased text to about twice the size
    (the 200 % set: 476 KB against 178 KB; the 100 % one: 144 KB against
    73 KB), which the program cannot afford.  The form:
    width, height and the CRC-32 of the pixels (32-bit little-endian each),
    then a raw deflate stream of the rows from the top, each a PNG filter
    byte (0 none, 1 sub, 2 up, 4 Paeth; the one with the smallest sum, as PNG
    encoders choose) and the filtered B, G, R bytes of its pixels."""
    w, h = img.size
    r, g, b = img.convert("RGB").split()
    raw = Image.merge("RGB", (b, g, r)).tobytes()
    stride = w * 3

    def paeth(a, up, c):
        p = a + up - c
        pa, pb, pc = abs(p - a), abs(p - up), abs(p - c)
        return a if pa <= pb and pa <= pc else (up if pb <= pc else c)

    rows = bytearray()
    prev = bytes(stride)
    for y in range(h):
        row = raw[y * stride:(y + 1) * stride]
        left = lambda i: row[i - 3] if i >= 3 else 0
        corner = lambda i: prev[i - 3] if i >= 3 else 0
        choices = [
            (0, row),
            (1, bytes((row[i] - left(i)) & 255 for i in range(stride))),
            (2, bytes((row[i] - prev[i]) & 255 for i in range(stride))),
            (4, bytes((row[i] - paeth(left(i), prev[i], corner(i))) & 255 for i in range(stride))),
        ]
        kind, data = min(choices, key=lambda c: (sum(min(v, 256 - v) for v in c[1]), c[0]))
        rows.append(kind)
        rows += data
        prev = row
    packer = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    body = packer.compress(bytes(rows)) + packer.flush()
    assert zlib.decompress(body, -15) == bytes(rows), path
    with open(path, "wb") as f:
        f.write(struct.pack("<III", w, h, zlib.crc32(raw)) + body)


# ---------------------------------------------------------------- window parts
def window_base(w, h, visible_w, visible_h):
    """Body, title strip and window edge shared by both windows.  visible_*
    is the part the window shows; the bitmap may be one pixel larger."""
    img = Image.new("RGB", SZ((w, h)), BODY)
    # A faint wash so the body is not dead flat, kept away from the rows the
    # buttons use so their plates still meet it seamlessly.
    for y in range(STRIP_H, STRIP_H + 14):
        fill_box(img, (0, y, w, y), lerp((186, 211, 242), BODY, (y - STRIP_H) / 13))
    for y in range(STRIP_H):
        fill_box(img, (0, y, w, y), strip_colour(y))
    # The gloss fades out at both ends of the strip.
    hi = Image.new("L", (w, 1), 0)
    for x in range(w):
        t = min(1.0, x / 60, (visible_w - 1 - x) / 60 if x < visible_w else 0)
        hi.putpixel((x, 0), int(70 * max(0.0, t)))
    fill_box(img, (0, 1, w, 1), (120, 170, 230))
    hi = hi.resize((S(w), S(2) - S(1)), Image.BILINEAR) if K != 1 else hi
    glow = Image.new("RGB", hi.size, (150, 200, 250))
    img.paste(glow, (0, S(1)), hi)
    fill_box(img, (0, STRIP_H, w, STRIP_H), ACCENT)
    fill_box(img, (0, STRIP_H + 1, w, STRIP_H + 1), (150, 192, 238))
    # Window edge on the visible rectangle; the extra column and row outside
    # it just repeat the edge colour.
    outline_box(img, (0, 0, visible_w - 1, visible_h - 1), OUTLINE)
    fill_box(img, (visible_w, 0, visible_w, h), OUTLINE)
    fill_box(img, (0, visible_h, w, visible_h), OUTLINE)
    # Softly rounded outer corners: the window itself is a rectangle, so the
    # corners are only suggested by darkening a couple of pixels.
    for (cx, cy) in ((1, 1), (visible_w - 2, 1), (1, visible_h - 2), (visible_w - 2, visible_h - 2)):
        x0, y0, _, _ = SB((cx, cy, cx, cy))
        fill_box(img, (cx, cy, cx, cy), lerp(img.getpixel((x0, y0)), OUTLINE, 0.6))
    return img


def pane(img, box, r=6, header=None, header_h=0, flat=False):
    """A rounded light frame with a soft drop shadow and an optional header
    band carrying a painted title."""
    x0, y0, x1, y1 = box
    shadow = rrect_mask(img.size, (x0 + 1, y0 + 2, x1 + 1, y1 + 2), r)
    shadow = shadow.filter(ImageFilter.GaussianBlur(1.2 * K))
    fill(img, shadow.point(lambda v: v * 45 // 255), (40, 70, 130))
    fill_rrect(img, box, r, PANE_EDGE)
    inner = (x0 + 1, y0 + 1, x1 - 1, y1 - 1)
    if flat:
        fill_rrect(img, inner, r - 1, PANE)
    else:
        fill_rrect(img, inner, r - 1, grad_in_box(img, inner, [(0, (252, 254, 255)), (0.35, PANE), (1, (232, 241, 253))]))
    if header:
        hb = (x0 + 1, y0 + 1, x1 - 1, y0 + header_h)
        m = rrect_mask(img.size, (x0 + 1, y0 + 1, x1 - 1, y0 + header_h + r), r - 1)
        cut = Image.new("L", img.size, 0)
        ImageDraw.Draw(cut).rectangle(SB(hb), fill=255)
        m = ImageChops.multiply(m, cut)
        fill(img, m, grad_in_box(img, hb, [(0, (232, 242, 255)), (0.5, (214, 231, 252)), (0.51, (200, 221, 249)), (1, (212, 229, 251))]))
        fill_box(img, (x0 + 1, y0 + header_h + 1, x1 - 1, y0 + header_h + 1), PANE_SHADE)
        header(img, hb)


def inset_field(img, box):
    """A sunken white well for a label the program fills in."""
    x0, y0, x1, y1 = box
    fill_rrect(img, box, 3, (150, 180, 222))
    fill_rrect(img, (x0 + 1, y0 + 1, x1 - 1, y1 - 1), 2, (255, 255, 255))
    fill_box(img, (x0 + 3, y0 + 1, x1 - 3, y0 + 1), (226, 234, 246))


def separator_bar(img, x0, x1, y):
    """A short engraved bar with rounded ends between button groups."""
    fill_rrect(img, (x0, y, x1, y + 4), 2, grad_in_box(img, (x0, y, x1, y + 4),
               [(0, (120, 160, 214)), (0.5, (88, 138, 204)), (1, (150, 186, 230))]))
    fill_box(img, (x0 + 2, y + 5, x1 - 2, y + 5), (238, 246, 255))


def bullet(img, cx, cy, colour=(60, 130, 230)):
    fill_rrect(img, (cx - 2, cy - 2, cx + 2, cy + 2), 2, colour)


# ---------------------------------------------------------------- artwork
def emblem(size):
    """The program's emblem, drawn large: a stack of three component tiles
    with a green tick badge.  Returns RGBA."""
    S = size * SS
    im = Image.new("RGBA", (S, S), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    u = S / 64.0

    def R(x0, y0, x1, y1):
        return (x0 * u, y0 * u, x1 * u, y1 * u)

    # Three tiles, back to front, each a slightly lighter blue.
    tiles = [(20, 4, 60, 40, (42, 96, 178)), (12, 12, 52, 48, (54, 120, 206)), (4, 20, 44, 56, (70, 146, 232))]
    for (x0, y0, x1, y1, c) in tiles:
        d.rounded_rectangle(R(x0, y0, x1, y1), radius=6 * u, fill=(10, 34, 90, 255))
        d.rounded_rectangle(R(x0 + 1.5, y0 + 1.5, x1 - 1.5, y1 - 1.5), radius=5 * u, fill=c + (255,))
        # Gloss on the upper half.
        d.rounded_rectangle(R(x0 + 3, y0 + 3, x1 - 3, (y0 + y1) / 2), radius=4 * u,
                            fill=tuple(min(255, v + 45) for v in c) + (255,))
    # Connector pins on the front tile: it is a "control", a piece that plugs in.
    fx0, fy1 = tiles[-1][0], tiles[-1][3]
    for i in range(4):
        px = fx0 + 8 + i * 8
        d.rectangle(R(px, fy1 - 1, px + 3, fy1 + 3), fill=(10, 34, 90, 255))
    # White window glyph inside the front tile.
    d.rounded_rectangle(R(11, 28, 37, 48), radius=2 * u, fill=(255, 255, 255, 255))
    d.rectangle(R(11, 28, 37, 32), fill=(180, 214, 255, 255))
    d.rectangle(R(14, 35, 26, 37), fill=(70, 146, 232, 255))
    d.rectangle(R(14, 40, 32, 42), fill=(140, 186, 240, 255))
    # Tick badge.
    d.ellipse(R(36, 36, 63, 63), fill=(14, 84, 30, 255))
    d.ellipse(R(37.5, 37.5, 61.5, 61.5), fill=(56, 176, 72, 255))
    d.ellipse(R(40, 39, 59, 50), fill=(110, 214, 120, 255))
    d.line([R(42.5, 50, 48, 55.5)[0:2], R(48, 55.5, 0, 0)[0:2], R(57, 43, 0, 0)[0:2]],
           fill=(255, 255, 255, 255), width=int(4 * u), joint="curve")
    return im.resize((size, size), Image.LANCZOS)


def title_artwork(img):
    """The banner under the title strip: emblem, word mark and a subtitle."""
    box = (8, 38, 311, 138)
    x0, y0, x1, y1 = box
    # Banner card with a cool sky gradient and soft arcs for depth.
    shadow = rrect_mask(img.size, (x0 + 1, y0 + 2, x1 + 1, y1 + 2), 8).filter(ImageFilter.GaussianBlur(1.5 * K))
    fill(img, shadow.point(lambda v: v * 60 // 255), (30, 60, 120))
    fill_rrect(img, box, 8, (92, 140, 208))
    inner = (x0 + 1, y0 + 1, x1 - 1, y1 - 1)
    sky = grad_in_box(img, inner, [(0, (250, 253, 255)), (0.55, (222, 238, 255)), (1, (178, 210, 246))])
    arcs = sky.copy()
    ad = ImageDraw.Draw(arcs)
    for i, (r, c) in enumerate([(230, (200, 226, 252)), (200, (214, 234, 254)), (170, (232, 244, 255))]):
        ad.ellipse(tuple(v * K for v in (200 - r, 150 - r // 2, 200 + r + 160, 150 + r)), outline=c,
                   width=S(10))
    sky = Image.blend(sky, arcs, 0.55)
    fill_rrect(img, inner, 7, sky)
    # Emblem at the left.
    em = emblem(S(76))
    sh = Image.new("RGBA", em.size, (20, 50, 110, 0))
    sh.putalpha(em.getchannel("A").point(lambda v: v * 70 // 255).filter(ImageFilter.GaussianBlur(2 * K)))
    base = img.convert("RGBA")
    base.alpha_composite(sh, SZ((22, 52)))
    base.alpha_composite(em, SZ((20, 49)))
    img.paste(base.convert("RGB"))
    # Word mark: deep blue with a white rim and a faint reflection.
    wm = "Kestrave"
    f = font(LATIN_BOLD, 33)
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    ld = ImageDraw.Draw(layer)
    tx, ty = S(108), S(56)
    ld.text((tx, ty), wm, font=f, fill=(255, 255, 255, 255), stroke_width=S(2), stroke_fill=(255, 255, 255, 230))
    textmask = Image.new("L", img.size, 0)
    ImageDraw.Draw(textmask).text((tx, ty), wm, font=f, fill=255)
    bbox = textmask.getbbox()
    gbox = (bbox[0], bbox[1], bbox[2], bbox[3])
    # The mask's box is in pixels of the scale already.
    g = Image.new("RGB", img.size, (0, 0, 0))
    g.paste(vgrad((gbox[2] - gbox[0] + 1, gbox[3] - gbox[1] + 1), [(0, (40, 110, 214)), (0.5, (20, 74, 178)), (0.52, (8, 46, 136)), (1, (26, 86, 190))]), (gbox[0], gbox[1]))
    base = img.convert("RGBA")
    soft = layer.copy()
    soft.putalpha(layer.getchannel("A").filter(ImageFilter.GaussianBlur(1.0 * K)))
    base.alpha_composite(soft)
    base.alpha_composite(layer)
    img.paste(base.convert("RGB"))
    img.paste(g, (0, 0), textmask)
    # Version tag and subtitle.
    fs = font(CJK_FONT, 13)
    text(img, (110, 100), "ActiveX 控件批量注册工具", fs, TEXT_DARK)
    fill_box(img, (110, 119, 296, 119), (150, 190, 236))
    text(img, (110, 122), "OCX · DLL   注册 · 卸载", font(CJK_FONT, 11), (70, 112, 180))


# ---------------------------------------------------------------- main window
def main_background():
    W, H, VW, VH = 321, 407, 320, 406
    img = window_base(W, H, VW, VH)
    title_artwork(img)

    # Frame around the list box (list: 32,176 177x110).
    def list_header(im, hb):
        bullet(im, hb[0] + 10, (hb[1] + hb[3]) // 2 + 1)
        text(im, (hb[0] + 17, hb[1] + 2), "控件列表", font(CJK_FONT, 12), TEXT_DARK)

    pane(img, (22, 150, 219, 298), r=7, header=list_header, header_h=19)
    # A recessed well just outside the list so it looks seated in the frame.
    outline_box(img, (30, 174, 210, 287), (150, 180, 222))
    fill_box(img, (31, 175, 209, 286), (255, 255, 255))

    # Lower frame with the folder and count fields.
    def info_header(im, hb):
        bullet(im, hb[0] + 10, (hb[1] + hb[3]) // 2 + 1)
        text(im, (hb[0] + 17, hb[1] + 2), "当前状态", font(CJK_FONT, 12), TEXT_DARK)

    pane(img, (22, 306, 223, 394), r=7, header=info_header, header_h=19)
    fc = font(CJK_FONT, 12)
    # myFile: 104,336 108x13; txt_ocxCount: 120,363 97x17.  Captions sit on
    # the label's text line.
    inset_field(img, (98, 332, 216, 351))
    inset_field(img, (98, 359, 216, 380))
    for (cy, cap, icon) in ((342, "文件夹", "folder"), (369, "控件数", "count")):
        text(img, (52, cy), cap, fc, TEXT_DARK, anchor="lm")
        draw_small_icon(img, 32, cy - 7, icon)

    # Bars between the button groups (buttons at x 233..313; groups end at
    # 199 and 330 and resume at 218 and 347).
    separator_bar(img, 240, 306, 207)
    separator_bar(img, 240, 306, 336)
    save_bmp(img, "main_background.bmp", (W, H))
    return img


def draw_small_icon(img, x, y, kind):
    """14 x 14 pictograms in front of the field captions."""
    layer = Image.new("RGBA", (S(14) * SS, S(14) * SS), (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    u = SS * K
    if kind == "folder":
        d.rounded_rectangle((0.5 * u, 2 * u, 6 * u, 5 * u), radius=u, fill=(196, 140, 30, 255))
        d.rounded_rectangle((0.5 * u, 3.5 * u, 13.5 * u, 12.5 * u), radius=1.2 * u, fill=(196, 140, 30, 255))
        d.rounded_rectangle((1.5 * u, 4.5 * u, 12.5 * u, 11.5 * u), radius=u, fill=(250, 206, 92, 255))
        d.rectangle((1.5 * u, 4.5 * u, 12.5 * u, 6.5 * u), fill=(255, 230, 150, 255))
    else:
        for i, c in enumerate([(60, 116, 204), (78, 144, 228), (110, 170, 240)]):
            o = (2 - i) * 2.5
            d.rounded_rectangle(((o + 0.5) * u, (6 - o + 0.5) * u, (o + 8.5) * u, (14 - o - 0.5) * u),
                                radius=1.2 * u, fill=(20, 50, 110, 255))
            d.rounded_rectangle(((o + 1.5) * u, (6 - o + 1.5) * u, (o + 7.5) * u, (14 - o - 1.5) * u),
                                radius=0.8 * u, fill=c + (255,))
    small = layer.resize(SZ((14, 14)), Image.LANCZOS)
    base = img.convert("RGBA")
    base.alpha_composite(small, SZ((x, y)))
    img.paste(base.convert("RGB"))


# ---------------------------------------------------------------- dialog
def dialog_background():
    W, H = 248, 305
    img = window_base(W, H, W, H)

    # The folder choice: label "文件注册到:" at 24,56, list at 24,80 201x26.
    pane(img, (14, 44, 233, 112), r=7)
    outline_box(img, (23, 79, 225, 106), (150, 180, 222))
    fill_box(img, (24, 80, 224, 105), (255, 255, 255))
    # The option rows: boxes at x 24 from y 124, labels at x 48; row 4's label
    # is two lines high and ends at 248.
    # Flat inside: the check glyphs are drawn on exactly this colour.
    pane(img, (14, 117, 233, 253), r=7, flat=True)
    # Faint rules between rows help the eye along.
    for y in (146, 170, 194, 218):
        fill_box(img, (46, y, 222, y), (222, 233, 248))
    save_bmp(img, "dialog_background.bmp", (W, H))
    return img


HELP_INTRO = "本程序可以把选好的控件一次全部注册或卸载，不必再一个一个地注册。"
# Each inner list is one line; a one-element tuple is a button name, shown as
# a small key cap so the reader finds the button it names.
HELP_SECTIONS = [
    ("一、逐个选择文件注册", [
        ["按", ("添加",), "，选择文件类型和文件，"],
        ["按", ("打开",), "后，再按", ("注册",), "或", ("卸载",), "。"],
    ]),
    ("二、注册文件夹中的控件", [
        ["按", ("列表",), "，选择存放控件的文件夹，"],
        ["按", ("确定",), "后，再按", ("注册",), "或", ("卸载",), "。"],
        ["可多次按", ("列表",), "，添加几个文件夹。"],
    ]),
]
HELP_CLOSING = "祝您使用愉快！"


def help_page():
    W, H = 248, 305
    img = window_base(W, H, W, H)
    pane(img, (8, 38, 239, 296), r=8)
    # Laid out in design pixels with the 100 % face, drawn with the scaled
    # one, so every scale breaks the lines at the same characters.
    f = design_font(CJK_FONT, 12)
    fk = font(CJK_FONT, 12)
    d = ImageDraw.Draw(img)
    left, right = 18, 230
    lh = 20

    def key_cap(x, y, name):
        w = int(d.textlength(name, font=f)) + 8
        fill_rrect(img, (x, y - 2, x + w - 1, y + 14), 3, (110, 150, 214))
        fill_rrect(img, (x + 1, y - 1, x + w - 2, y + 13), 2,
                   grad_in_box(img, (x + 1, y - 1, x + w - 2, y + 13),
                               [(0, (255, 255, 255)), (0.5, (234, 243, 255)), (0.51, (214, 230, 252)), (1, (236, 244, 255))]))
        text(img, (x + 4, y), name, fk, TEXT_BLUE)
        return w

    def line(y, parts, indent=0):
        x = left + indent
        for part in parts:
            if isinstance(part, tuple):
                x = int(round(x)) + 1
                x += key_cap(x, y, part[0]) + 1
            else:
                text(img, (x, y), part, fk, TEXT_DARK)
                x += d.textlength(part, font=f)
        assert x <= right + 1, ("help line too long", parts)
        return y + lh

    def wrapped(y, s):
        """Chinese has no spaces to break at: fill each line character by
        character, keeping closing punctuation off the start of a line."""
        x, row = left, ""
        for ch in s:
            if x + d.textlength(ch, font=f) > right and ch not in "，。；！、":
                text(img, (left, y), row, fk, TEXT_DARK)
                y, x, row = y + lh, left, ""
            row += ch
            x += d.textlength(ch, font=f)
        text(img, (left, y), row, fk, TEXT_DARK)
        return y + lh

    y = 50
    y = wrapped(y, HELP_INTRO)
    for title, lines in HELP_SECTIONS:
        fill_box(img, (left, y, right, y), (200, 218, 244))
        y += 6
        bullet(img, left + 3, y + 7, (40, 110, 220))
        text(img, (left + 10, y), title, font(CJK_FONT, 13), (10, 50, 150))
        y += lh + 2
        for parts in lines:
            y = line(y, parts, indent=10)
        y += 2
    fill_box(img, (left, y, right, y), (200, 218, 244))
    y += 10
    text(img, (right, y), HELP_CLOSING, font(CJK_FONT, 13), (10, 50, 150), anchor="ra")
    assert y + 16 < 294, "help text runs off its frame"
    save_bmp(img, "help_page.bmp", (W, H))
    return img


# ---------------------------------------------------------------- buttons
def plate(size, look):
    """A command button plate.  The program stretches it nine-slice with
    6-pixel corners kept, so the rounding stays within those corners and the
    face is a plain vertical gradient that survives any stretch."""
    w, h = size
    img = Image.new("RGB", SZ(size), BODY)
    if look == "hover":
        edge = (20, 104, 222)
        face = [(0, (255, 255, 255)), (0.48, (236, 248, 255)), (0.5, (198, 232, 255)), (1, (226, 248, 255))]
        glow = (132, 204, 255)
    elif look == "down":
        edge = (40, 88, 168)
        face = [(0, (176, 202, 236)), (0.5, (196, 218, 244)), (1, (222, 236, 252))]
        glow = None
    else:
        edge = (74, 124, 196)
        face = [(0, (252, 254, 255)), (0.48, (228, 239, 253)), (0.5, (206, 224, 248)), (1, (224, 237, 252))]
        glow = None
    full = (0, 0, w - 1, h - 1)
    # Soft shadow under the plate, one row below (normal and hover only).
    if look != "down":
        sm = rrect_mask(img.size, (0, 1, w - 1, h - 1), 5)
        fill(img, sm.point(lambda v: v * 70 // 255), (70, 100, 150))
        full = (0, 0, w - 1, h - 2)
    fill_rrect(img, full, 5, edge)
    x0, y0, x1, y1 = full
    if glow:
        fill_rrect(img, (x0 + 1, y0 + 1, x1 - 1, y1 - 1), 4, glow)
        inner = (x0 + 2, y0 + 2, x1 - 2, y1 - 2)
        fill_rrect(img, inner, 3, grad_in_box(img, inner, face))
    else:
        inner = (x0 + 1, y0 + 1, x1 - 1, y1 - 1)
        fill_rrect(img, inner, 4, grad_in_box(img, inner, face))
    if look == "down":
        # Pressed: an inner shadow along the top edge.
        fill_box(img, (x0 + 4, y0 + 1, x1 - 4, y0 + 1), (150, 178, 220))
    else:
        # A crisp highlight just inside the top edge.
        fill_box(img, (x0 + 4, y0 + 1, x1 - 4, y0 + 1), (255, 255, 255))
    return img


def close_plate(look):
    """The close button, 27 x 25, drawn where it sits on the title strip
    (rows 3..27), so its corners melt into the strip."""
    w, h = 27, 25
    img = Image.new("RGB", SZ((w, h)))
    for y in range(h):
        fill_box(img, (0, y, w, y), strip_colour(y + 3))
    box = (1, 1, w - 2, h - 2)
    if look == "hover":
        edge, face = (150, 40, 40), [(0, (255, 250, 250)), (0.48, (255, 232, 232)), (0.5, (250, 210, 210)), (1, (255, 230, 230))]
        cross = (214, 30, 30)
    elif look == "down":
        edge, face = (10, 40, 100), [(0, (190, 210, 240)), (1, (226, 238, 253))]
        cross = (20, 80, 200)
    else:
        edge, face = (10, 40, 100), [(0, (250, 253, 255)), (0.48, (226, 238, 253)), (0.5, (204, 222, 248)), (1, (224, 237, 252))]
        cross = (20, 80, 200)
    fill_rrect(img, box, 5, edge)
    inner = (box[0] + 1, box[1] + 1, box[2] - 1, box[3] - 1)
    fill_rrect(img, inner, 4, grad_in_box(img, inner, face))
    # The cross: drawn large and scaled down for smooth diagonals.  It lies
    # wholly in the middle, which the program squeezes from 15 to 13 columns.
    layer = Image.new("RGBA", (img.size[0] * SS, img.size[1] * SS), (0, 0, 0, 0))
    ld = ImageDraw.Draw(layer)
    u = SS * K
    cx, cy, a = 13.5 * u, 12.5 * u, 4.6 * u
    for (p, q) in (((cx - a, cy - a), (cx + a, cy + a)), ((cx - a, cy + a), (cx + a, cy - a))):
        ld.line((p, q), fill=cross + (255,), width=int(2.6 * u))
    layer = layer.resize(img.size, Image.LANCZOS)
    base = img.convert("RGBA")
    base.alpha_composite(layer)
    return base.convert("RGB")


def check_glyph(ticked):
    """18 x 19 check box on the pane colour where the rows sit."""
    w, h = 18, 19
    img = Image.new("RGB", SZ((w, h)), PANE)
    box = (2, 3, 15, 16)
    fill_rrect(img, box, 3, (72, 122, 196))
    inner = (3, 4, 14, 15)
    fill_rrect(img, inner, 2, grad_in_box(img, inner, [(0, (220, 232, 248)), (0.4, (250, 252, 255)), (1, (255, 255, 255))]))
    if ticked:
        layer = Image.new("RGBA", (img.size[0] * SS, img.size[1] * SS), (0, 0, 0, 0))
        ld = ImageDraw.Draw(layer)
        u = SS * K
        pts = [(4.6 * u, 9.6 * u), (7.8 * u, 13.0 * u), (15.6 * u, 3.2 * u)]
        ld.line(pts, fill=(255, 255, 255, 255), width=int(4.2 * u), joint="curve")
        ld.line(pts, fill=(24, 150, 48, 255), width=int(2.6 * u), joint="curve")
        layer = layer.resize(img.size, Image.LANCZOS)
        base = img.convert("RGBA")
        base.alpha_composite(layer)
        img = base.convert("RGB")
    return img


# ---------------------------------------------------------------- icon
def icon_image(size):
    """RGBA icon art for one size: the emblem on a glossy rounded tile, with
    the small sizes drawn simpler so they stay legible."""
    S = size * SS
    im = Image.new("RGBA", (S, S), (0, 0, 0, 0))
    if size >= 32:
        em = emblem(S)
        im.alpha_composite(em)
        return im.resize((size, size), Image.LANCZOS)
    d = ImageDraw.Draw(im)
    u = S / 16.0

    def R(x0, y0, x1, y1):
        return (x0 * u, y0 * u, x1 * u, y1 * u)

    # Two tiles only, and a bold tick.
    d.rounded_rectangle(R(5, 0.5, 15.5, 10.5), radius=2 * u, fill=(10, 34, 90, 255))
    d.rounded_rectangle(R(5.8, 1.3, 14.7, 9.7), radius=1.5 * u, fill=(54, 120, 206, 255))
    d.rounded_rectangle(R(0.5, 4, 11, 14.5), radius=2 * u, fill=(10, 34, 90, 255))
    d.rounded_rectangle(R(1.3, 4.8, 10.2, 13.7), radius=1.5 * u, fill=(74, 150, 236, 255))
    d.rounded_rectangle(R(1.8, 5.3, 9.7, 9), radius=1.2 * u, fill=(130, 190, 250, 255))
    d.ellipse(R(8, 8, 16, 16), fill=(14, 84, 30, 255))
    d.ellipse(R(8.6, 8.6, 15.4, 15.4), fill=(56, 176, 72, 255))
    d.line([R(9.9, 12, 0, 0)[0:2], R(11.6, 13.7, 0, 0)[0:2], R(14.2, 10.2, 0, 0)[0:2]],
           fill=(255, 255, 255, 255), width=int(1.5 * u), joint="curve")
    return im.resize((size, size), Image.LANCZOS)


def dib_entry(im, bpp):
    """One icon image in the classic DIB form (header, palette, XOR bits,
    AND mask), which every Windows version reads."""
    w, h = im.size
    alpha = im.getchannel("A")
    opaque = [[alpha.getpixel((x, y)) >= 128 for x in range(w)] for y in range(h)]
    out = bytearray()
    if bpp == 32:
        clr_used = 0
        palette = b""
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for x in range(w):
                r, g, b, a = im.getpixel((x, y))
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
    else:
        # 256 colours: no alpha, so half-covered edge pixels are blended onto
        # a mid grey, which fringes least on light and dark desktops alike.
        flat = Image.new("RGB", (w, h), (150, 160, 176))
        flat.paste(im.convert("RGB"), (0, 0), alpha)
        pal_img = flat.quantize(colors=256, method=Image.MEDIANCUT, dither=Image.NONE)
        pal = pal_img.getpalette()[: 256 * 3]
        pal += [0] * (256 * 3 - len(pal))
        palette = b"".join(bytes((pal[i * 3 + 2], pal[i * 3 + 1], pal[i * 3], 0)) for i in range(256))
        clr_used = 256
        rows = []
        stride = (w + 3) & ~3
        for y in range(h - 1, -1, -1):
            row = bytes(pal_img.getpixel((x, y)) for x in range(w))
            rows.append(row + b"\0" * (stride - w))
    xor = b"".join(rows)
    mstride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = bytearray(mstride)
        for x in range(w):
            if not opaque[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0, clr_used, 0)
    out += header + palette + xor + mask
    return bytes(out)


def png_entry(im):
    """The large image as PNG, as Windows Vista and later store it in icons."""
    out = io.BytesIO()
    im.save(out, "PNG", optimize=True)
    return out.getvalue()


def write_icon(path, png_sizes, dib_sizes, classic_sizes):
    """The sizes a window's icons take at every display scale are drawn, not
    scaled by the system: the small icon is 16, 20, 24 or 32 pixels at 100,
    125, 150 or 200 %, the large one 32, 40, 48 or 64; the shell's views take
    the larger ones.  From 64 pixels up the images are PNG, as Windows Vista
    and later read them in icons, which keeps them small; the classic sizes
    also come in 256 colours for the oldest readers."""
    entries = [(size, 32, png_entry(icon_image(size))) for size in png_sizes]
    for size in dib_sizes:
        art = icon_image(size)
        for bpp in (32, 8) if size in classic_sizes else (32,):
            entries.append((size, bpp, dib_entry(art, bpp)))
    head = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    blobs = b""
    for size, bpp, blob in entries:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(blob), offset + len(blobs))
        blobs += blob
    with open(path, "wb") as f:
        f.write(head + directory + blobs)


# ---------------------------------------------------------------- main
def draw_scale():
    main_background()
    dialog_background()
    help_page()
    save_bmp(plate((74, 27), "normal"), "button_normal.bmp", (74, 27))
    save_bmp(plate((74, 28), "hover"), "button_hover.bmp", (74, 28))
    save_bmp(plate((73, 27), "down"), "button_down.bmp", (73, 27))
    save_bmp(close_plate("normal"), "close_normal.bmp", (27, 25))
    save_bmp(close_plate("hover"), "close_hover.bmp", (27, 25))
    save_bmp(close_plate("down"), "close_down.bmp", (27, 25))
    save_bmp(check_glyph(False), "check_empty.bmp", (18, 19))
    save_bmp(check_glyph(True), "check_ticked.bmp", (18, 19))


def main():
    global K, OUT, SUFFIX
    draw_scale()
    write_icon(os.path.join(HERE, "kestrave.ico"), (256, 128, 64), (48, 40, 32, 24, 20, 16),
               (48, 32, 24, 16))
    for suffix, scale in SCALES:
        K, OUT, SUFFIX = scale, os.path.join(HERE, suffix), "_" + suffix
        os.makedirs(OUT, exist_ok=True)
        draw_scale()


if __name__ == "__main__":
    main()
