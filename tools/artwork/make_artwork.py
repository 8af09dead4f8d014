#!/usr/bin/python3
"""Generates every bitmap the patcher window paints, plus the program icon.

Run from anywhere:  /usr/bin/python3 tools/artwork/make_artwork.py
Output goes to <repo>/resources/.  Everything is procedural and every random
source uses a fixed seed, so rerunning produces byte-identical files.

Optional:  --preview DIR  also writes two composites (window mock-ups) to DIR.

Conventions used throughout:
  * images are handled as float numpy arrays in 0..1, shape (h, w, 4),
    straight (non-premultiplied) alpha;
  * shapes are drawn SS times larger and scaled down, which gives clean
    anti-aliased edges without needing a vector library;
  * small text (button labels) is rendered at 1:1 so FreeType hinting keeps
    it sharp.
"""

import argparse
import os
import struct
import io

import numpy as np
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
OUT_DIR = os.path.join(REPO, "resources")

FONT_DIR = "/usr/share/fonts/truetype"
FONT_LOGO = os.path.join(FONT_DIR, "dejavu", "DejaVuSerif-Bold.ttf")
FONT_SUB = os.path.join(FONT_DIR, "dejavu", "DejaVuSans-Bold.ttf")
FONT_LABEL = os.path.join(FONT_DIR, "dejavu", "DejaVuSans-Bold.ttf")
FONT_BODY = os.path.join(FONT_DIR, "dejavu", "DejaVuSans.ttf")

SS = 4  # supersampling factor for anti-aliased shapes

# Shared palette: one blue family so every piece looks like the same set.
GLOW_BLUE = (0.33, 0.62, 1.00)
FRAME_BLUE = (0.55, 0.76, 1.00)
ICE = (0.86, 0.94, 1.00)


# --------------------------------------------------------------------------
# Small numpy / Pillow helpers
# --------------------------------------------------------------------------

def rgb(*c):
    """8-bit colour -> float triple."""
    return np.array(c, dtype=np.float64) / 255.0


def blank(w, h):
    return np.zeros((h, w, 4), dtype=np.float64)


def over(dst, src):
    """Porter-Duff 'source over' on straight-alpha arrays; returns new array."""
    sa = src[..., 3:4]
    da = dst[..., 3:4]
    out_a = sa + da * (1.0 - sa)
    safe = np.where(out_a > 1e-6, out_a, 1.0)
    out_rgb = (src[..., :3] * sa + dst[..., :3] * da * (1.0 - sa)) / safe
    return np.concatenate([out_rgb, out_a], axis=-1)


def layer(mask, color, alpha=1.0):
    """A flat-coloured layer whose coverage is `mask` (h, w) in 0..1."""
    h, w = mask.shape
    img = blank(w, h)
    img[..., :3] = color
    img[..., 3] = np.clip(mask * alpha, 0.0, 1.0)
    return img


def paint(dst, mask, color, alpha=1.0):
    return over(dst, layer(mask, color, alpha))


def add_light(dst_rgb, mask, color, strength=1.0):
    """Additive light (glows, stars): brightens without covering."""
    dst_rgb += mask[..., None] * np.asarray(color) * strength


def to_image(arr):
    return Image.fromarray(np.clip(arr * 255.0 + 0.5, 0, 255).astype(np.uint8), "RGBA")


def box_blur_1d(a, r, axis):
    """Box blur of radius r along one axis, edges clamped (cumsum based)."""
    if r <= 0:
        return a
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r + 1, r)
    p = np.pad(a, pad, mode="edge")
    c = np.cumsum(p, axis=axis)
    n = a.shape[axis]
    hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
    lo = np.take(c, np.arange(0, n), axis=axis)
    return (hi - lo) / (2 * r + 1)


def blur(a, sigma):
    """Gaussian blur approximated by three box passes (good enough for glow)."""
    if sigma <= 0:
        return a.copy()
    # box radius giving roughly the requested sigma after three passes
    r = max(1, int(round((np.sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0)))
    out = a
    for _ in range(3):
        out = box_blur_1d(out, r, 0)
        out = box_blur_1d(out, r, 1)
    return out


def ss_mask(w, h, draw_fn, ss=SS):
    """Draw white-on-black at ss x size with draw_fn(draw, s) and scale down.

    draw_fn receives the scale factor so it can work in final-pixel units
    (multiply coordinates by s)."""
    big = Image.new("L", (w * ss, h * ss), 0)
    draw_fn(ImageDraw.Draw(big), ss)
    # BOX = plain area average: exact coverage, no ringing, so insides stay
    # fully opaque and outsides fully transparent
    small = big.resize((w, h), Image.BOX)
    return np.asarray(small, dtype=np.float64) / 255.0


def rounded_mask(w, h, radius, inset=0.0):
    """Anti-aliased rounded rectangle covering the canvas minus `inset`."""
    def fn(d, s):
        d.rounded_rectangle(
            [inset * s, inset * s, (w - inset) * s - 1, (h - inset) * s - 1],
            radius=max(0.0, radius - inset) * s, fill=255)
    return ss_mask(w, h, fn)


def ring_mask(w, h, radius, inset, width):
    """Outline of a rounded rectangle: band between inset and inset+width."""
    return np.clip(rounded_mask(w, h, radius, inset)
                   - rounded_mask(w, h, radius, inset + width), 0.0, 1.0)


def vgradient(h, stops):
    """Vertical colour ramp. stops = [(pos 0..1, (r,g,b) floats), ...]."""
    ys = np.linspace(0.0, 1.0, h)
    pos = [p for p, _ in stops]
    cols = np.array([c for _, c in stops])
    return np.stack([np.interp(ys, pos, cols[:, i]) for i in range(3)], axis=-1)


def fbm(w, h, base_cell, octaves, seed, persistence=0.5):
    """Fractal value noise in 0..1 built from bicubically enlarged random grids."""
    rng = np.random.default_rng(seed)
    total = np.zeros((h, w))
    amp, norm, cell = 1.0, 0.0, float(base_cell)
    for _ in range(octaves):
        gw = max(2, int(np.ceil(w / cell)) + 2)
        gh = max(2, int(np.ceil(h / cell)) + 2)
        grid = rng.random((gh, gw)).astype(np.float32)
        im = Image.fromarray(grid, "F").resize(
            (int(gw * cell), int(gh * cell)), Image.BICUBIC)
        total += amp * np.asarray(im, dtype=np.float64)[:h, :w]
        norm += amp
        amp *= persistence
        cell /= 2.0
    return np.clip(total / norm, 0.0, 1.0)


def ridge_line(w, seed, base, amp, spacing, octaves=6):
    """1-D mountain silhouette: summed octaves of linearly interpolated random
    points. Linear interpolation keeps peaks sharp, which reads as rock."""
    rng = np.random.default_rng(seed)
    xs = np.arange(w, dtype=np.float64)
    y = np.zeros(w)
    a, sp = 1.0, float(spacing)
    norm = 0.0
    for _ in range(octaves):
        n = int(w / sp) + 3
        pts = rng.random(n) * 2.0 - 1.0
        off = rng.random() * sp
        y += a * np.interp(xs + off, np.arange(n) * sp, pts)
        norm += a
        a *= 0.55
        sp /= 2.0
    return base - amp * y / norm


def grain(h, w, seed, strength):
    """Monochrome film grain added to RGB; breaks up gradient banding."""
    rng = np.random.default_rng(seed)
    return rng.normal(0.0, strength, (h, w, 1))


def font(path, size):
    return ImageFont.truetype(path, size)


def text_mask(w, h, text, fnt_path, size, x, y, tracking=0.0, stroke=0,
              ss=SS, anchor_center=False):
    """Supersampled mask of a (letter-spaced) text line.

    x, y are final-pixel coordinates of the line's left/top (or, with
    anchor_center, the horizontal centre and top). Returns (mask, bbox)."""
    f = font(fnt_path, size * ss)
    advances = [f.getlength(ch) + tracking * ss for ch in text]
    line_w = sum(advances) - tracking * ss
    x0 = x * ss - (line_w / 2.0 if anchor_center else 0.0)
    big = Image.new("L", (w * ss, h * ss), 0)
    d = ImageDraw.Draw(big)
    cx = x0
    for ch, adv in zip(text, advances):
        d.text((cx, y * ss), ch, font=f, fill=255,
               stroke_width=int(stroke * ss), stroke_fill=255)
        cx += adv
    small = big.resize((w, h), Image.BOX)
    return np.asarray(small, dtype=np.float64) / 255.0


def save_png(arr, name):
    path = os.path.join(OUT_DIR, name)
    image = to_image(arr)
    # A fully opaque image is stored without its alpha channel: the same pixels,
    # a quarter fewer bytes for the window to decode at every start.
    if image.getextrema()[3] == (255, 255):
        image = image.convert("RGB")
    image.save(path, "PNG", optimize=True)
    return path


# --------------------------------------------------------------------------
# Background 650 x 450
# --------------------------------------------------------------------------

BG_W, BG_H = 650, 450


def draw_stars(rgb_img, seed):
    """Star field, denser and brighter high in the sky, fading to the horizon."""
    h, w, _ = rgb_img.shape
    rng = np.random.default_rng(seed)
    stars = np.zeros((h, w))
    n = 340
    xs = rng.random(n) * w
    # bias towards the top: y = h_sky * u^1.6
    ys = 200.0 * rng.random(n) ** 1.6
    mags = rng.random(n) ** 3.0  # mostly faint, a few bright
    yy, xx = np.mgrid[0:h, 0:w]
    for x, y, m in zip(xs, ys, mags):
        x0, x1 = int(max(0, x - 4)), int(min(w, x + 5))
        y0, y1 = int(max(0, y - 4)), int(min(h, y + 5))
        sig = 0.45 + 0.6 * m
        d2 = (xx[y0:y1, x0:x1] - x) ** 2 + (yy[y0:y1, x0:x1] - y) ** 2
        fade = np.clip(1.0 - y / 210.0, 0.0, 1.0)
        stars[y0:y1, x0:x1] += (0.25 + 0.9 * m) * fade * np.exp(-d2 / (2 * sig * sig))
    add_light(rgb_img, np.clip(stars, 0, 1.5), rgb(215, 230, 255))

    # a handful of bright stars get a soft four-point glint
    bright = [(58, 34), (112, 100), (252, 22), (468, 26), (606, 58), (36, 128), (424, 150)]
    for i, (x, y) in enumerate(bright):
        s = 0.6 + 0.4 * ((i * 37) % 5) / 4.0
        d2 = (xx - x) ** 2 + (yy - y) ** 2
        core = np.exp(-d2 / (2 * 0.9 ** 2)) * s
        halo = np.exp(-d2 / (2 * 4.0 ** 2)) * 0.18 * s
        dx, dy = np.abs(xx - x), np.abs(yy - y)
        glint = (np.exp(-dy ** 2 / 0.5) * np.exp(-dx / (5.0 * s))
                 + np.exp(-dx ** 2 / 0.5) * np.exp(-dy / (5.0 * s))) * 0.45 * s
        add_light(rgb_img, core + halo + glint, rgb(205, 225, 255))


def draw_moon(img, cx, cy, r):
    """Crescent moon with a wide halo; the halo is the main light source."""
    h, w, _ = img.shape
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    d = np.sqrt((xx - cx) ** 2 + (yy - cy) ** 2)
    add_light(img[..., :3], np.exp(-(d / (r * 4.0)) ** 2) * 0.35, rgb(70, 120, 220))
    add_light(img[..., :3], np.exp(-(d / (r * 1.6)) ** 2) * 0.35, rgb(140, 180, 255))

    disc = np.clip(r - d + 0.5, 0.0, 1.0)
    # the shadow disc offset up-right carves the crescent
    d2 = np.sqrt((xx - (cx + r * 0.42)) ** 2 + (yy - (cy - r * 0.22)) ** 2)
    shadow = np.clip(r * 0.92 - d2 + 0.5, 0.0, 1.0)
    lit = disc * (1.0 - shadow)
    # faint earthshine on the dark side
    img[..., :3] = img[..., :3] * (1 - disc[..., None] * 0.35) + \
        disc[..., None] * 0.35 * rgb(28, 44, 84)
    surface = 0.82 + 0.18 * fbm(w, h, 9, 3, seed=77)
    moon_col = rgb(225, 236, 255)[None, None, :] * surface[..., None]
    img[..., :3] = img[..., :3] * (1 - lit[..., None]) + moon_col * lit[..., None]


def mountain_layer(img, ridge, top_col, bottom_col, rim_col, rim_strength, depth, seed,
                   relief_strength=1.0):
    """Fill everything below `ridge` with a vertical gradient, moon-lit rock
    faces near the crest and a thin bright rim along it."""
    h, w, _ = img.shape
    yy = np.arange(h, dtype=np.float64)[:, None]
    below = np.clip(yy - ridge[None, :], 0, None)
    cover = np.clip(yy - ridge[None, :] + 0.5, 0.0, 1.0)  # AA along the crest
    t = np.clip(below / depth, 0.0, 1.0)[..., None]
    col = np.asarray(top_col) * (1 - t) + np.asarray(bottom_col) * t

    # rock faces. Below a stretch of crest that falls towards the moon (on
    # the right) lies a lit face; below one that rises, a face in shadow.
    # Faces are bounded by spurs running diagonally down from each peak, so
    # the crest slope is sampled further from the peak the deeper we are:
    # lit faces at x - k*d, shaded ones at x + k*d. This gives the chevron
    # pattern of ridges and gullies under every summit.
    xs = np.arange(w, dtype=np.float64)
    slope = np.gradient(ridge)
    slope = np.convolve(np.pad(slope, 3, mode="edge"), np.ones(7) / 7.0, "valid")
    k = 0.7
    xx = xs[None, :] * np.ones((h, 1))
    lit = np.clip(np.interp(xx - k * below, xs, slope), 0, 1.2)
    dark = np.clip(-np.interp(xx + k * below, xs, slope), 0, 1.2)
    grit = fbm(w, h, 6, 3, seed)  # small isotropic roughness
    near_crest = np.exp(-below / (depth * 0.5))
    light = (0.55 * lit - 0.35 * dark) * (0.7 + 0.6 * grit) * relief_strength
    col = col * (1.0 + light * near_crest)[..., None]

    rim = np.exp(-below / 1.4) * cover
    img[..., :3] = img[..., :3] * (1 - cover[..., None]) + col * cover[..., None]
    add_light(img[..., :3], rim * rim_strength, rim_col)


def mist_band(img, y_center, thickness, strength, seed, color):
    """Horizontal fog bank, broken up by noise so it does not look like a bar."""
    h, w, _ = img.shape
    yy = np.arange(h, dtype=np.float64)[:, None]
    band = np.exp(-((yy - y_center) / thickness) ** 2)
    n = fbm(w, h, 90, 4, seed)
    # stretch noise horizontally: fog drifts sideways
    n = np.asarray(Image.fromarray(n.astype(np.float32), "F").resize(
        (w * 3, h), Image.BICUBIC), dtype=np.float64)[:, w:2 * w]
    m = band * (0.35 + 0.9 * n) * strength
    img[..., :3] = img[..., :3] * (1 - m[..., None]) + np.asarray(color) * m[..., None]


def logo_layer(w, h, cx, top):
    """'VORLEN' word mark: ice gradient fill, dark outline, double blue glow,
    flanking rules with diamonds and a small spaced 'PATCHER' below."""
    size = 66
    tracking = 5.0
    fill = text_mask(w, h, "VORLEN", FONT_LOGO, size, cx, top,
                     tracking=tracking, anchor_center=True)
    outline = text_mask(w, h, "VORLEN", FONT_LOGO, size, cx, top,
                        tracking=tracking, stroke=2.2, anchor_center=True)

    rows = np.where(fill.max(axis=1) > 0.5)[0]
    cols = np.where(fill.max(axis=0) > 0.5)[0]
    gy0, gy1 = rows[0], rows[-1]
    gx0, gx1 = cols[0], cols[-1]

    out = blank(w, h)
    # wide, faint glow first, then a tight brighter one
    wide = blur(outline, 16.0)
    tight = blur(outline, 5.0)
    out = paint(out, np.clip(wide * 1.6, 0, 1), GLOW_BLUE, 0.55)
    out = paint(out, np.clip(tight * 1.4, 0, 1), rgb(90, 160, 255), 0.75)
    out = paint(out, outline, rgb(8, 20, 52), 0.95)

    # ice gradient, with a hard 'horizon' step at 52% for a metallic sheen
    ramp = np.zeros((h, 3))
    span = max(1, gy1 - gy0)
    for y in range(h):
        t = (y - gy0) / span
        if t < 0.52:
            c = rgb(255, 255, 255) * (1 - t / 0.52) + rgb(196, 228, 255) * (t / 0.52)
        else:
            u = (t - 0.52) / 0.48
            c = rgb(150, 200, 255) * (1 - u) + rgb(86, 150, 240) * u
        ramp[y] = np.clip(c, 0, 1)
    fill_img = blank(w, h)
    fill_img[..., :3] = ramp[:, None, :]
    fill_img[..., 3] = fill
    out = over(out, fill_img)

    # a thin bright inner top edge: fill minus itself shifted down
    shifted = np.zeros_like(fill)
    shifted[1:, :] = fill[:-1, :]
    edge = np.clip(fill - shifted, 0, 1)
    out = paint(out, edge, (1.0, 1.0, 1.0), 0.6)

    # flanking rules with diamonds, at the letters' mid-height
    mid = (gy0 + gy1) / 2.0
    gap = 18

    def deco(d, s):
        for sign, x_in in ((-1, gx0 - gap), (1, gx1 + gap)):
            x_out = x_in + sign * 56
            # tapered rule: a long thin triangle
            d.polygon([(x_in * s, (mid - 1.1) * s), (x_in * s, (mid + 1.1) * s),
                       (x_out * s, mid * s)], fill=255)
            # diamond next to the word
            dx = x_in - sign * 2
            r = 5.0
            d.polygon([(dx * s, (mid - r) * s), ((dx + r) * s, mid * s),
                       (dx * s, (mid + r) * s), ((dx - r) * s, mid * s)], fill=255)
    deco_m = ss_mask(w, h, deco)
    out = paint(out, np.clip(blur(deco_m, 3.0) * 2.0, 0, 1), GLOW_BLUE, 0.6)
    out = paint(out, deco_m, ICE, 1.0)

    # subtitle
    sub_top = gy1 + 10
    sub = text_mask(w, h, "PATCHER", FONT_SUB, 12, cx, sub_top,
                    tracking=9.0, anchor_center=True)
    srows = np.where(sub.max(axis=1) > 0.5)[0]
    scols = np.where(sub.max(axis=0) > 0.5)[0]
    sy = (srows[0] + srows[-1]) / 2.0

    def sub_rules(d, s):
        for x0, x1 in ((scols[0] - 60, scols[0] - 12), (scols[-1] + 12, scols[-1] + 60)):
            d.rectangle([x0 * s, (sy - 0.5) * s, x1 * s, (sy + 0.5) * s], fill=255)
    rules = ss_mask(w, h, sub_rules)
    # fade the rules' outer ends
    xs = np.arange(w, dtype=np.float64)[None, :]
    fade = np.clip(1.0 - np.abs(xs - cx) / (scols[-1] - cx + 60), 0, 1) ** 0.6
    out = paint(out, np.clip(blur(sub, 3.0) * 2, 0, 1), GLOW_BLUE, 0.5)
    out = paint(out, sub, rgb(190, 220, 255), 1.0)
    out = paint(out, rules * fade, rgb(130, 180, 245), 0.9)
    return out


def window_frame(w, h):
    """Thin glowing frame on the window edge, with brighter corner brackets."""
    line = np.zeros((h, w))
    line[1, 1:w - 1] = 1
    line[h - 2, 1:w - 1] = 1
    line[1:h - 1, 1] = 1
    line[1:h - 1, w - 2] = 1
    outer = np.zeros((h, w))
    outer[0, :] = outer[-1, :] = 1
    outer[:, 0] = outer[:, -1] = 1

    # corner brackets: 2 px thick L shapes, 28 px long, just inside the line
    brackets = np.zeros((h, w))
    L, t, o = 28, 2, 4
    for (y, x, sy, sx) in ((o, o, 1, 1), (o, w - 1 - o, 1, -1),
                           (h - 1 - o, o, -1, 1), (h - 1 - o, w - 1 - o, -1, -1)):
        for i in range(L):
            for j in range(t):
                brackets[y + sy * j, x + sx * i] = 1
                brackets[y + sy * i, x + sx * j] = 1

    # the frame is brightest along the top centre, where the logo glows
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    along = 0.65 + 0.35 * np.exp(-((xx - w / 2) / (w * 0.3)) ** 2) * (yy < h / 2)

    out = blank(w, h)
    glow = blur(line + brackets, 3.0)
    out = paint(out, np.clip(glow * 3.0 * along, 0, 1), GLOW_BLUE, 0.55)
    out = paint(out, outer, rgb(4, 8, 20), 1.0)
    out = paint(out, line * along, FRAME_BLUE, 0.95)
    out = paint(out, brackets, ICE, 0.9)
    return out


def make_background():
    w, h = BG_W, BG_H
    img = blank(w, h)
    img[..., 3] = 1.0
    sky = vgradient(h, [(0.00, rgb(4, 8, 24)),
                        (0.18, rgb(8, 17, 46)),
                        (0.36, rgb(18, 38, 86)),
                        (0.46, rgb(34, 66, 128)),   # horizon glow behind the ridges
                        (0.60, rgb(14, 28, 62)),
                        (1.00, rgb(4, 8, 20))])
    img[..., :3] = sky[:, None, :]

    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)

    # aurora-like nebula: noise masked to a soft diagonal band across the sky
    neb = fbm(w, h, 120, 5, seed=11)
    band = np.exp(-(((yy - 70) - (xx - 325) * 0.18) / 60.0) ** 2)
    nmask = np.clip((neb - 0.45) * 2.2, 0, 1) * band
    add_light(img[..., :3], nmask * 0.22, rgb(60, 110, 220))
    neb2 = fbm(w, h, 70, 4, seed=12)
    add_light(img[..., :3], np.clip((neb2 - 0.55) * 3.0, 0, 1) * band * 0.10,
              rgb(110, 80, 210))

    draw_stars(img[..., :3], seed=3)
    draw_moon(img, 566, 128, 15)

    # glow pooling behind the logo so the word mark sits in light
    add_light(img[..., :3], np.exp(-(((xx - 325) / 230.0) ** 2 + ((yy - 92) / 70.0) ** 2)) * 0.22,
              rgb(50, 100, 200))

    # mountain ranges, far to near. The envelope is tall at the sides and
    # low in the middle so the peaks frame the logo instead of poking into it.
    xs = np.arange(w, dtype=np.float64)
    sides = 1.0 - 0.75 * np.exp(-((xs - 325) / 170.0) ** 2)

    far = 196 - (196 - ridge_line(w, 21, 196, 130, 170)) * sides
    mountain_layer(img, far, rgb(46, 80, 146), rgb(22, 42, 88), rgb(130, 180, 255), 0.45, 70, seed=61)
    mist_band(img, 202, 16, 0.75, seed=31, color=rgb(48, 84, 148))

    mid = 214 - (214 - ridge_line(w, 22, 214, 80, 120)) * (0.55 + 0.45 * sides)
    mountain_layer(img, mid, rgb(24, 46, 92), rgb(10, 20, 46), rgb(110, 160, 250), 0.32, 70, seed=62)
    mist_band(img, 236, 14, 0.60, seed=32, color=rgb(30, 56, 106))

    near = ridge_line(w, 23, 250, 40, 150)
    mountain_layer(img, near, rgb(12, 24, 52), rgb(6, 12, 30), rgb(90, 140, 230), 0.20, 90, seed=63,
                   relief_strength=0.5)
    mist_band(img, 276, 18, 0.35, seed=33, color=rgb(16, 30, 62))

    front = ridge_line(w, 24, 306, 26, 200)
    mountain_layer(img, front, rgb(7, 14, 32), rgb(3, 6, 16), rgb(70, 110, 200), 0.10, 120, seed=64,
                   relief_strength=0.3)

    # calm, dark lower half: the panels sit there
    dark = np.clip((yy - 200) / 250.0, 0, 1)
    img[..., :3] *= (1.0 - 0.45 * dark)[..., None]

    # vignette
    v = ((xx - w / 2) / (w * 0.62)) ** 2 + ((yy - h * 0.42) / (h * 0.75)) ** 2
    img[..., :3] *= np.clip(1.0 - 0.45 * v, 0.45, 1.0)[..., None]

    img = over(img, logo_layer(w, h, cx=w / 2.0, top=40))
    img[..., :3] += grain(h, w, seed=5, strength=0.012)
    img = over(img, window_frame(w, h))
    img[..., 3] = 1.0
    return np.clip(img, 0, 1)


# --------------------------------------------------------------------------
# Progress bars 500 x 25
# --------------------------------------------------------------------------

BAR_W, BAR_H = 500, 25
BAR_R = 12.5     # fully round ends
FILL_INSET = 2   # fill sits inside the 1 px frame plus a 1 px dark gap


def make_bar_track():
    w, h = BAR_W, BAR_H
    body = rounded_mask(w, h, BAR_R)
    inner = rounded_mask(w, h, BAR_R, 1.0)
    frame = np.clip(body - inner, 0, 1)

    out = blank(w, h)
    grad = vgradient(h, [(0, rgb(3, 6, 15)), (0.5, rgb(7, 12, 26)), (1, rgb(14, 22, 42))])
    track = blank(w, h)
    track[..., :3] = grad[:, None, :]
    track[..., :3] += grain(h, w, seed=41, strength=0.008)
    track[..., 3] = inner * 0.93
    out = over(out, track)

    # inner shadow along the top edge makes the track look recessed
    shadow = np.zeros((h, w))
    shadow[:4, :] = 1.0
    shadow = blur(shadow, 2.0) * inner
    out = paint(out, shadow, rgb(0, 0, 0), 0.45)

    # frame: lighter at the bottom (catches light), dimmer at the top
    fy = vgradient(h, [(0, rgb(90, 130, 190)), (1, rgb(170, 205, 250))])
    fr = blank(w, h)
    fr[..., :3] = fy[:, None, :]
    fr[..., 3] = frame * 0.85
    return over(out, fr)


def make_bar_fill(top, upper, lower, bottom, seed):
    """Glossy fill. No horizontal variation except fine texture, so any
    left-hand crop of it looks complete."""
    w, h = BAR_W, BAR_H
    shape = rounded_mask(w, h, BAR_R, FILL_INSET)
    inner_h = h - 2 * FILL_INSET
    grad = np.zeros((h, 3))
    grad[FILL_INSET:h - FILL_INSET] = vgradient(
        inner_h, [(0.0, top), (0.45, upper), (0.55, lower), (1.0, bottom)])
    out = blank(w, h)
    out[..., :3] = grad[:, None, :]

    # faint diagonal stripes for a sense of motion
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    stripes = 0.5 + 0.5 * np.sin((xx + yy) * 2 * np.pi / 18.0)
    out[..., :3] *= (0.94 + 0.06 * stripes)[..., None]
    out[..., :3] += grain(h, w, seed, 0.01)

    # gloss: a white sheen over the top half
    gloss = np.clip(1.0 - (yy - FILL_INSET) / (inner_h * 0.5), 0, 1) ** 1.5
    out[..., :3] = out[..., :3] * (1 - 0.35 * gloss[..., None]) + 0.35 * gloss[..., None]
    # 1 px bright highlight just under the top edge
    hl = rounded_mask(w, h, BAR_R, FILL_INSET) - rounded_mask(w, h, BAR_R, FILL_INSET + 1)
    hl *= (yy < h / 2)
    out[..., :3] = out[..., :3] * (1 - 0.5 * hl[..., None]) + 0.5 * hl[..., None]

    out[..., 3] = shape
    return np.clip(out, 0, 1)


def make_bar_blue():
    return make_bar_fill(rgb(150, 212, 255), rgb(64, 150, 250),
                         rgb(26, 96, 220), rgb(48, 132, 240), seed=42)


def make_bar_green():
    return make_bar_fill(rgb(170, 250, 150), rgb(72, 200, 70),
                         rgb(30, 142, 40), rgb(56, 180, 60), seed=43)


# --------------------------------------------------------------------------
# Panels
# --------------------------------------------------------------------------

PANEL_R = 11


def corner_ornament(size):
    """Ornament for the top-left corner; other corners are mirror images.

    An L-bracket hugging the corner, a diamond where its arms meet, and a
    small dot at the end of each arm."""
    def fn(d, s):
        o = 7.0     # distance from the panel edge
        arm = 30.0
        th = 1.6
        d.rectangle([(o + 4) * s, o * s, (o + arm) * s, (o + th) * s], fill=255)
        d.rectangle([o * s, (o + 4) * s, (o + th) * s, (o + arm) * s], fill=255)
        # diamond at the corner
        c = o + 1.0
        r = 4.2
        d.polygon([(c * s, (c - r) * s), ((c + r) * s, c * s),
                   (c * s, (c + r) * s), ((c - r) * s, c * s)], fill=255)
        # arm ends
        for (x, y) in ((o + arm + 3.5, o + th / 2), (o + th / 2, o + arm + 3.5)):
            d.ellipse([(x - 1.6) * s, (y - 1.6) * s, (x + 1.6) * s, (y + 1.6) * s], fill=255)
        # a second, shorter inner arm pair for depth
        d.rectangle([(o + 6) * s, (o + 5) * s, (o + 16) * s, (o + 5.8) * s], fill=255)
        d.rectangle([(o + 5) * s, (o + 6) * s, (o + 5.8) * s, (o + 16) * s], fill=255)
    return ss_mask(size, size, fn)


def edge_ornament(width):
    """Small centred flourish sitting on a horizontal border line: a diamond
    flanked by tapering strokes. Returns a (12, width) mask."""
    h = 12
    cx = width / 2.0

    def fn(d, s):
        y = 0.5
        d.polygon([(cx * s, (y - 0) * s), ((cx + 6) * s, (y + 5.5) * s),
                   (cx * s, (y + 11) * s), ((cx - 6) * s, (y + 5.5) * s)], fill=255)
        for sign in (-1, 1):
            x0 = cx + sign * 9
            x1 = cx + sign * 50
            d.polygon([(x0 * s, (y + 4.2) * s), (x0 * s, (y + 6.8) * s),
                       (x1 * s, (y + 5.5) * s)], fill=255)
    return ss_mask(width, h, fn)


def make_panel(w, h, top_flourish=True, bottom_flourish=True):
    body = rounded_mask(w, h, PANEL_R)
    border = ring_mask(w, h, PANEL_R, 0.0, 1.0)
    inner_line = ring_mask(w, h, PANEL_R, 4.0, 1.0)
    inside = rounded_mask(w, h, PANEL_R, 1.0)

    # translucent navy body, a bit more opaque at the bottom
    grad = vgradient(h, [(0, rgb(16, 30, 62)), (0.25, rgb(9, 18, 42)), (1, rgb(5, 11, 28))])
    out = blank(w, h)
    out[..., :3] = grad[:, None, :]
    tex = fbm(w, h, 40, 4, seed=w * 7 + h)
    out[..., :3] *= (0.9 + 0.2 * tex)[..., None]
    out[..., :3] += grain(h, w, seed=w + h, strength=0.01)
    alpha_ramp = np.linspace(0.80, 0.88, h)[:, None]
    out[..., 3] = body * alpha_ramp

    # soft blue light leaking in from the border
    glow = blur(border, 4.0) * inside
    out = paint(out, np.clip(glow * 2.5, 0, 1), GLOW_BLUE, 0.22)

    # top sheen: a faint lighter wash on the first rows
    yy = np.arange(h, dtype=np.float64)[:, None]
    sheen = np.exp(-yy / 10.0) * inside
    out = paint(out, sheen, rgb(120, 170, 240), 0.10)

    out = paint(out, inner_line, rgb(90, 140, 215), 0.30)
    out = paint(out, border, rgb(120, 178, 245), 0.85)

    # corner ornaments
    cs = 48
    orn = corner_ornament(cs)
    orn_full = np.zeros((h, w))
    orn_full[:cs, :cs] = np.maximum(orn_full[:cs, :cs], orn)
    orn_full[:cs, w - cs:] = np.maximum(orn_full[:cs, w - cs:], orn[:, ::-1])
    orn_full[h - cs:, :cs] = np.maximum(orn_full[h - cs:, :cs], orn[::-1, :])
    orn_full[h - cs:, w - cs:] = np.maximum(orn_full[h - cs:, w - cs:], orn[::-1, ::-1])

    # flourishes centred on the top / bottom border
    ew = 120
    e = edge_ornament(ew)
    x0 = (w - ew) // 2
    if top_flourish:
        orn_full[0:12, x0:x0 + ew] = np.maximum(orn_full[0:12, x0:x0 + ew], e)
    if bottom_flourish:
        orn_full[h - 12:h, x0:x0 + ew] = np.maximum(orn_full[h - 12:h, x0:x0 + ew], e[::-1, :])
    orn_full *= body

    out = paint(out, np.clip(blur(orn_full, 2.5) * 2.2, 0, 1) * body, GLOW_BLUE, 0.55)
    out = paint(out, orn_full, rgb(175, 210, 255), 1.0)
    return np.clip(out, 0, 1)


def make_info_panel():
    return make_panel(580, 190)


def make_check_panel():
    return make_panel(258, 180)


# --------------------------------------------------------------------------
# Buttons 120 x 42
# --------------------------------------------------------------------------

BTN_W, BTN_H, BTN_R = 120, 42, 7


def fit_font(text, path, max_w, start, minimum):
    for size in range(start, minimum - 1, -1):
        f = font(path, size)
        if f.getlength(text) <= max_w:
            return f
    return font(path, minimum)


def make_button(label, light, mid, dark, edge, start_size=16):
    w, h = BTN_W, BTN_H
    body = rounded_mask(w, h, BTN_R)
    inside = rounded_mask(w, h, BTN_R, 1.0)
    border = np.clip(body - inside, 0, 1)
    inner_hl = ring_mask(w, h, BTN_R, 1.0, 1.0)

    grad = vgradient(h, [(0, light), (0.48, mid), (0.52, dark), (1, mid * 0.85 + dark * 0.15)])
    out = blank(w, h)
    out[..., :3] = grad[:, None, :]
    out[..., :3] += grain(h, w, seed=len(label) * 13, strength=0.008)
    out[..., 3] = body

    # glossy cap: a white wash over the upper half that fades downwards
    yy = np.arange(h, dtype=np.float64)[:, None] * np.ones((1, w))
    gloss = np.clip(1.0 - yy / (h * 0.5), 0, 1) ** 1.4 * (yy < h * 0.5) * inside
    out = paint(out, gloss, (1.0, 1.0, 1.0), 0.22)
    # inner rim: bright at the top, fading to nothing at the bottom
    out = paint(out, inner_hl * np.clip(1.0 - yy / h * 1.3, 0, 1), (1.0, 1.0, 1.0), 0.45)
    out = paint(out, border, edge, 1.0)

    # label: rendered at 1:1 (hinted) for crisp strokes, centred on the
    # capital height so the optical centre is right
    f = fit_font(label, FONT_LABEL, w - 22, start_size, 9)
    tw = f.getlength(label)
    cap_top, cap_bottom = f.getbbox("H")[1], f.getbbox("H")[3]
    tx = round((w - tw) / 2.0)
    ty = round((h - (cap_bottom - cap_top)) / 2.0 - cap_top)
    txt = Image.new("L", (w, h), 0)
    ImageDraw.Draw(txt).text((tx, ty), label, font=f, fill=255)
    tmask = np.asarray(txt, dtype=np.float64) / 255.0
    shadow = np.zeros_like(tmask)
    shadow[1:, :] = tmask[:-1, :]
    soft = blur(tmask, 1.5)
    out = paint(out, np.clip(soft * 1.5, 0, 1) * body, rgb(0, 0, 0), 0.35)
    out = paint(out, shadow * body, rgb(0, 0, 0), 0.55)
    out = paint(out, tmask, (1.0, 1.0, 1.0), 1.0)
    return np.clip(out, 0, 1)


def make_button_play():
    return make_button("GRAJ", rgb(120, 222, 96), rgb(52, 168, 44),
                       rgb(30, 128, 28), rgb(12, 60, 14), start_size=16)


def make_button_close():
    return make_button("ZAMKNIJ", rgb(236, 110, 96), rgb(192, 46, 38),
                       rgb(150, 26, 22), rgb(70, 10, 8), start_size=16)


def make_button_busy():
    return make_button("POBIERANIE", rgb(150, 158, 170), rgb(102, 110, 124),
                       rgb(78, 85, 98), rgb(34, 38, 46), start_size=14)


# --------------------------------------------------------------------------
# Icon: "V" emblem at 16, 24, 32, 48 and 256 px
# --------------------------------------------------------------------------

ICON_SIZES = (16, 24, 32, 48, 256)


def icon_image(size):
    """Round navy badge with a glowing ring and a bevelled ice-blue V.
    Small sizes drop the glow and the ornament and thicken the strokes, so
    they stay legible instead of turning to mush."""
    small = size <= 24
    w = h = size
    ss = 8 if size < 64 else 4
    c = size / 2.0

    def circle(r):
        def fn(d, s):
            d.ellipse([(c - r) * s, (c - r) * s, (c + r) * s - 1, (c + r) * s - 1], fill=255)
        return ss_mask(w, h, fn, ss)

    R = size * (0.49 if small else 0.44)
    disc = circle(R)
    ring_w = max(1.0, size * (0.06 if small else 0.035))
    ring = np.clip(disc - circle(R - ring_w), 0, 1)

    # V geometry in unit coordinates
    thick = 0.20 if small else 0.15
    top, bottom = (0.24, 0.80) if small else (0.28, 0.76)
    half = 0.30 if small else 0.27
    notch = top + (bottom - top) * (0.42 if small else 0.50)
    pts = [(0.5 - half, top), (0.5 - half + thick, top), (0.5, notch),
           (0.5 + half - thick, top), (0.5 + half, top), (0.5, bottom)]

    def vshape(d, s):
        d.polygon([(x * size * s, y * size * s) for x, y in pts], fill=255)
        if not small:
            # serif bars on the tops of the strokes
            sw = 0.03
            for x0 in (0.5 - half - sw, 0.5 + half - thick - sw):
                d.rectangle([x0 * size * s, (top - 0.03) * size * s,
                             (x0 + thick + 2 * sw) * size * s, top * size * s + s], fill=255)
            # small gem set in the mouth of the V
            dc, dr = (0.5, top + 0.07), 0.05
            d.polygon([(dc[0] * size * s, (dc[1] - dr) * size * s),
                       ((dc[0] + dr) * size * s, dc[1] * size * s),
                       (dc[0] * size * s, (dc[1] + dr) * size * s),
                       ((dc[0] - dr) * size * s, dc[1] * size * s)], fill=255)
    v = ss_mask(w, h, vshape, ss)

    out = blank(w, h)
    if not small:
        glow = blur(disc, size * 0.03)
        out = paint(out, np.clip(glow, 0, 1), GLOW_BLUE, 0.55)

    # badge body: radial gradient from a lit centre to a dark rim
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64) + 0.5
    rr = np.sqrt((xx - c) ** 2 + (yy - c * 0.85) ** 2) / R
    t = np.clip(rr, 0, 1)[..., None]
    body = blank(w, h)
    body[..., :3] = rgb(34, 70, 140) * (1 - t) + rgb(6, 13, 34) * t
    body[..., 3] = disc
    out = over(out, body)
    out = paint(out, ring, rgb(120, 180, 255), 1.0)

    if not small:
        vglow = blur(v, size * 0.035)
        out = paint(out, np.clip(vglow * 1.8, 0, 1) * disc, GLOW_BLUE, 0.75)
        # dark outline under the V
        vout = np.clip(blur(v, size * 0.008) * 3.0, 0, 1)
        out = paint(out, vout, rgb(6, 16, 44), 0.9)

    # V fill: white at the top to mid-blue at the tip
    vy = np.clip((yy / size - top) / (bottom - top), 0, 1)[..., None]
    vf = blank(w, h)
    vf[..., :3] = rgb(255, 255, 255) * (1 - vy) + rgb(110, 175, 255) * vy
    if small:
        vf[..., :3] = rgb(240, 248, 255) * (1 - vy) + rgb(150, 200, 255) * vy
    vf[..., 3] = v
    out = over(out, vf)
    return np.clip(out, 0, 1)


def write_ico(images, path):
    """ICO container: 32-bit BGRA DIBs with AND masks for the small sizes
    (what every loader understands), PNG for 256 px (standard since Vista;
    an uncompressed 256 px DIB would be 256 KiB)."""
    blobs = []
    for arr in images:
        img = to_image(arr)
        size = img.width
        if size >= 256:
            buf = io.BytesIO()
            img.save(buf, "PNG", optimize=True)
            blobs.append((size, buf.getvalue()))
            continue
        px = np.asarray(img, dtype=np.uint8)
        bgra = px[::-1, :, [2, 1, 0, 3]].tobytes()        # bottom-up rows
        mask_row = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in px[::-1]:
            bits = np.packbits((row[:, 3] == 0).astype(np.uint8))
            mask += bits.tobytes() + b"\0" * (mask_row - len(bits))
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                             len(bgra) + len(mask), 0, 0, 0, 0)
        blobs.append((size, header + bgra + bytes(mask)))

    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    entries, data = b"", b""
    for size, blob in blobs:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        data += blob
    with open(path, "wb") as f:
        f.write(out + entries + data)
    return path


def make_icon():
    return write_ico([icon_image(s) for s in ICON_SIZES],
                     os.path.join(OUT_DIR, "patcher.ico"))


# --------------------------------------------------------------------------
# Preview: the pieces placed as the window places them (not shipped)
# --------------------------------------------------------------------------

def write_previews(dest):
    def load(name):
        return Image.open(os.path.join(OUT_DIR, name)).convert("RGBA")

    def bar(canvas, pos, fill_name, frac):
        canvas.alpha_composite(load("bar_track.png"), pos)
        fill = load(fill_name)
        cut = int(round(BAR_W * frac))
        canvas.alpha_composite(fill.crop((0, 0, cut, BAR_H)), pos)

    body = font(FONT_BODY, 13)
    os.makedirs(dest, exist_ok=True)

    win = load("background.png")
    win.alpha_composite(load("info_panel.png"), (35, 200))
    d = ImageDraw.Draw(win)
    d.text((75, 238), "Downloading: data/textures_02.pak", font=body, fill="white")
    d.text((515, 238), "40%", font=body, fill="white", anchor="ra")
    bar(win, (75, 260), "bar_green.png", 0.40)
    d.text((75, 298), "Total: 124.5 MB of 207.0 MB  (1.8 MB/s)", font=body, fill="white")
    bar(win, (75, 320), "bar_blue.png", 0.60)
    win.alpha_composite(load("button_play.png"), (200, 388))
    win.alpha_composite(load("button_close.png"), (330, 388))
    p1 = os.path.join(dest, "artwork_preview.png")
    win.save(p1)

    win = load("background.png")
    win.alpha_composite(load("check_panel.png"), (196, 200))
    d = ImageDraw.Draw(win)
    x, y = 196 + 89, 200 + 30
    d.ellipse([x, y, x + 80, y + 80], outline=(60, 80, 120), width=6)
    d.arc([x, y, x + 80, y + 80], -90, 150, fill=(90, 170, 255), width=6)
    d.text((196 + 129, 200 + 125), "Checking files...", font=body, fill="white", anchor="ma")
    win.alpha_composite(load("button_busy.png"), (200, 388))
    win.alpha_composite(load("button_close.png"), (330, 388))
    p2 = os.path.join(dest, "artwork_preview_check.png")
    win.save(p2)
    return p1, p2


# --------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--preview", metavar="DIR",
                    help="also write window mock-ups into DIR")
    args = ap.parse_args()

    os.makedirs(OUT_DIR, exist_ok=True)
    written = [
        save_png(make_background(), "background.png"),
        save_png(make_bar_track(), "bar_track.png"),
        save_png(make_bar_blue(), "bar_blue.png"),
        save_png(make_bar_green(), "bar_green.png"),
        save_png(make_info_panel(), "info_panel.png"),
        save_png(make_check_panel(), "check_panel.png"),
        save_png(make_button_play(), "button_play.png"),
        save_png(make_button_close(), "button_close.png"),
        save_png(make_button_busy(), "button_busy.png"),
        make_icon(),
    ]
    for p in written:
        print(os.path.relpath(p, REPO))
    if args.preview:
        for p in write_previews(args.preview):
            print(p)


if __name__ == "__main__":
    main()
