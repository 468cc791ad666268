#!/usr/bin/env python3
"""Writes the SVG sources of the skin's control images (every state of every control) and of the
launch hint animation into a folder, one SVG per PNG, paths as in the skin folder.

The control images are families of near-identical shapes that differ only in colour, so they are
generated from one palette here instead of being kept as dozens of hand-copied files. The
illustrations, backgrounds and the logo are hand-written SVG files under svg/.

Usage: controls.py OUTDIR
"""
import math
import os
import sys

# Palette: one accent colour and its family, the neutral greys of the text, one red for closing.
ACCENT = "#8372FF"
ACCENT_HOT = "#9586FF"       # hover: a lighter accent
ACCENT_PUSHED = "#6B5AE6"    # pressed: a darker accent
ACCENT_SOFT = "#B5ACFF"      # hover border of the quiet controls
TINT = "#F6F5FF"             # hover fill of the quiet controls
TRACK = "#ECEAF8"            # progress track, pressed fill of the quiet controls
BORDER = "#D0D0D8"
DISABLED_FILL = "#D3D3DC"
DISABLED_QUIET_FILL = "#F5F5F7"
DISABLED_QUIET_BORDER = "#E2E2E8"
ICON = "#555555"             # same grey as the secondary text
ICON_DISABLED = "#BDBDC6"
DOT = "#D2CCFA"
DOT_HOT = "#A99DFF"
CLOSE_RED = "#E5484D"
CLOSE_RED_PUSHED = "#C8373C"
CAPTION_HOT = "rgba(40,30,110,0.07)"
CAPTION_PUSHED = "rgba(40,30,110,0.13)"


def svg(w, h, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">\n{body}\n</svg>\n')


def rrect(w, h, r, fill, stroke=None, inset=0.0, extra=""):
    """A rounded rectangle filling the canvas; with a stroke, the 1-pixel border sits on whole
    pixels (inset by half a pixel) so that it stays sharp at 100 %."""
    if stroke:
        i = inset + 0.5
        return (f'<rect x="{i}" y="{i}" width="{w - 2 * i}" height="{h - 2 * i}" rx="{r - 0.5}" '
                f'fill="{fill}" stroke="{stroke}" stroke-width="1" {extra}/>')
    return f'<rect x="{inset}" y="{inset}" width="{w - 2 * inset}" height="{h - 2 * inset}" rx="{r}" fill="{fill}" {extra}/>'


def line_icon(d, colour, width=1.0, cap="round"):
    return (f'<path d="{d}" fill="none" stroke="{colour}" stroke-width="{width}" '
            f'stroke-linecap="{cap}" stroke-linejoin="round"/>')


def buttons():
    out = {}
    # Primary buttons: filled accent, white text drawn by the program.
    for name, (w, h, r) in {"btn_primary": (240, 44, 6), "btn_primary_small": (112, 34, 5)}.items():
        for state, fill in [("normal", ACCENT), ("hot", ACCENT_HOT), ("pushed", ACCENT_PUSHED),
                            ("disabled", DISABLED_FILL)]:
            out[f"{name}_{state}"] = svg(w, h, rrect(w, h, r, fill))
        # Keyboard focus: the normal fill with a thin white ring just inside the edge.
        out[f"{name}_focused"] = svg(w, h, rrect(w, h, r, ACCENT) + "\n" +
                                     rrect(w, h, r - 2, "none", "#FFFFFF", inset=2,
                                           extra='stroke-opacity="0.75"'))
    # Secondary (outline) buttons: Browse, Hide, the second button of a message box.
    w, h, r = 112, 34, 5
    for state, fill, stroke in [("normal", "#FFFFFF", BORDER), ("hot", TINT, ACCENT_SOFT),
                                ("pushed", TRACK, ACCENT), ("disabled", DISABLED_QUIET_FILL, DISABLED_QUIET_BORDER),
                                ("focused", "#FFFFFF", ACCENT)]:
        out[f"btn_secondary_{state}"] = svg(w, h, rrect(w, h, r, fill, stroke))
    return out


def caption_buttons():
    out = {}
    w, h = 40, 32
    minimise = "M15 16.5 H25"
    close = "M15.5 11.5 L24.5 20.5 M24.5 11.5 L15.5 20.5"
    for state, bg, icon in [("normal", None, ICON), ("hot", CAPTION_HOT, "#222222"),
                            ("pushed", CAPTION_PUSHED, "#222222"), ("disabled", None, ICON_DISABLED)]:
        back = f'<rect width="{w}" height="{h}" fill="{bg}"/>\n' if bg else ""
        # Square ends: the 10-pixel bar covers whole pixels.
        out[f"btn_min_{state}"] = svg(w, h, back + line_icon(minimise, icon, cap="butt"))
    for state, bg, icon in [("normal", None, ICON), ("hot", CLOSE_RED, "#FFFFFF"),
                            ("pushed", CLOSE_RED_PUSHED, "#FFFFFF"), ("disabled", None, ICON_DISABLED)]:
        back = f'<rect width="{w}" height="{h}" fill="{bg}"/>\n' if bg else ""
        out[f"btn_close_{state}"] = svg(w, h, back + line_icon(close, icon))
    return out


def check_boxes():
    out = {}
    s = 16
    tick = "M4.3 8.2 L6.9 10.8 L11.8 5.6"
    for state, fill, stroke in [("unchecked", "#FFFFFF", BORDER), ("unchecked_hot", TINT, ACCENT),
                                ("unchecked_disabled", DISABLED_QUIET_FILL, DISABLED_QUIET_BORDER)]:
        out[f"checkbox_{state}"] = svg(s, s, rrect(s, s, 4, fill, stroke))
    for state, fill in [("checked", ACCENT), ("checked_hot", ACCENT_HOT), ("checked_disabled", DISABLED_FILL)]:
        out[f"checkbox_{state}"] = svg(s, s, rrect(s, s, 4, fill) + "\n" + line_icon(tick, "#FFFFFF", 1.6))
    return out


def fields():
    out = {}
    for name, (w, h) in {"edit": (300, 34), "combo": (240, 34)}.items():
        states = [("normal", "#FFFFFF", BORDER), ("hot", "#FFFFFF", ACCENT_SOFT),
                  ("disabled", DISABLED_QUIET_FILL, DISABLED_QUIET_BORDER)]
        for state, fill, stroke in states:
            out[f"{name}_{state}"] = svg(w, h, rrect(w, h, 5, fill, stroke))
        # Focus (the combo: pushed, its list open): accent border with a faint second ring inside.
        focus = (rrect(w, h, 5, "#FFFFFF", ACCENT) + "\n" +
                 rrect(w, h, 4, "none", ACCENT, inset=1, extra='stroke-opacity="0.22"'))
        out[f"{name}_focus" if name == "edit" else f"{name}_pushed"] = svg(w, h, focus)
    chevron = "M4.5 6.5 L8 10 L11.5 6.5"
    for state, colour in [("", ICON), ("_hot", ACCENT), ("_disabled", ICON_DISABLED)]:
        out[f"combo_arrow{state}"] = svg(16, 16, line_icon(chevron, colour))
    return out


def small_icons():
    out = {}
    # Straight edges on half pixels, so that the 1-pixel outline covers whole pixels at 100 %.
    folder = ("M1.5 4.5 A1 1 0 0 1 2.5 3.5 H6 L8 5.5 H13.5 A1 1 0 0 1 14.5 6.5 V11.5 "
              "A1 1 0 0 1 13.5 12.5 H2.5 A1 1 0 0 1 1.5 11.5 Z M1.5 7.5 H14.5")
    for state, colour in [("", ICON), ("_hot", ACCENT), ("_disabled", ICON_DISABLED)]:
        out[f"icon_folder{state}"] = svg(16, 16, line_icon(folder, colour))
    down = "M2.5 4.5 L6 8 L9.5 4.5"
    up = "M2.5 7.5 L6 4 L9.5 7.5"
    for state, colour in [("", ICON), ("_hot", ACCENT)]:
        out[f"chevron_down{state}"] = svg(12, 12, line_icon(down, colour))
        out[f"chevron_up{state}"] = svg(12, 12, line_icon(up, colour))
    return out


def progress_and_dots():
    out = {}
    w, h = 480, 6
    out["progress_track"] = svg(w, h, rrect(w, h, 3, TRACK))
    out["progress_fill"] = svg(w, h, rrect(w, h, 3, ACCENT))
    w, h = 20, 8
    for state, colour in [("normal", DOT), ("hot", DOT_HOT)]:
        out[f"dot_{state}"] = svg(w, h, f'<circle cx="10" cy="4" r="3.5" fill="{colour}"/>')
    out["dot_selected"] = svg(w, h, rrect(w, h, 4, ACCENT))
    return out


def hint_frames(count=21):
    """The launch hint window's animation layer: a light travelling once round an orbit about
    the logo per cycle, with a fading trail. Same 320 x 320 canvas as the window; the logo sits
    at (128, 96) with its centre at (160, 128)."""
    out = {}
    cx, cy, r = 160, 128, 52
    for k in range(count):
        head = -90 + 360.0 * k / count
        parts = [f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="none" stroke="{ACCENT}" '
                 f'stroke-opacity="0.14" stroke-width="2"/>']
        segments, span = 14, 7.0
        for i in range(segments):
            a1 = math.radians(head - span * (i + 1))
            a0 = math.radians(head - span * i)
            x0, y0 = cx + r * math.cos(a0), cy + r * math.sin(a0)
            x1, y1 = cx + r * math.cos(a1), cy + r * math.sin(a1)
            opacity = 0.9 * (1 - i / segments) ** 1.6
            parts.append(f'<path d="M{x1:.2f} {y1:.2f} A{r} {r} 0 0 1 {x0:.2f} {y0:.2f}" fill="none" '
                         f'stroke="{ACCENT}" stroke-opacity="{opacity:.3f}" stroke-width="3"/>')
        a = math.radians(head)
        hx, hy = cx + r * math.cos(a), cy + r * math.sin(a)
        parts.append(f'<circle cx="{hx:.2f}" cy="{hy:.2f}" r="7" fill="{ACCENT}" fill-opacity="0.18"/>')
        parts.append(f'<circle cx="{hx:.2f}" cy="{hy:.2f}" r="4" fill="{ACCENT}"/>')
        out[f"gif/bg{k:02d}"] = svg(320, 320, "\n".join(parts))
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: controls.py OUTDIR")
    root = sys.argv[1]
    images = {}
    for family in (buttons, caption_buttons, check_boxes, fields, small_icons, progress_and_dots, hint_frames):
        images.update(family())
    for name, text in images.items():
        path = os.path.join(root, name + ".svg")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    print(f"{len(images)} control sources written")


if __name__ == "__main__":
    main()
