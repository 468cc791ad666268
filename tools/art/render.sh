#!/bin/sh
# Renders the skin's images from their SVG sources into skin/skin/ (1x and @2x), the program icon
# into tools/art/out/setup.ico, and a contact sheet of everything into tools/art/out/contact.png.
#
# Needs rsvg-convert (Debian: librsvg2-bin), ImageMagick (convert, montage) and python3. The build
# does not run this: the rendered PNGs and the icon are committed. Run it after changing a source:
#   tools/art/render.sh
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
skin="$repo/skin/skin"
out="$here/out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in rsvg-convert convert montage python3; do
    command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing" >&2; exit 1; }
done
# ImageMagick's own convert, also when the PATH puts a stand-in before it.
im=convert
if [ -x /usr/bin/convert ]; then im=/usr/bin/convert; fi
optimise=
if command -v optipng >/dev/null; then optimise=1; fi

# png SOURCE.svg TARGET.png ZOOM [SIZE]: renders at ZOOM times the drawing's size, or SIZE x SIZE.
# Written without time stamps, so an unchanged source gives the same bytes; images without any
# transparency are stored without an alpha channel.
png() {
    if [ -n "${4:-}" ]; then
        rsvg-convert -w "$4" -h "$4" "$1" -o "$work/r.png"
    else
        rsvg-convert -z "$3" "$1" -o "$work/r.png"
    fi
    mkdir -p "$(dirname "$2")"
    if [ "$("$im" "$work/r.png" -format '%[opaque]' info:)" = "true" ]; then
        "$im" "$work/r.png" -strip -define png:exclude-chunks=date,time -alpha off PNG24:"$2"
    else
        "$im" "$work/r.png" -strip -define png:exclude-chunks=date,time PNG32:"$2"
    fi
    # Lossless recompression when optipng is there (Debian: optipng), about 15 % smaller.
    if [ -n "$optimise" ]; then optipng -quiet -o2 "$2"; fi
}

# Every SVG under svg/ and every generated control source: the same relative path in the skin
# folder, once at its own size and once at twice that size as NAME@2x.png.
python3 "$here/controls.py" "$work/gen" >/dev/null
count=0
for base in "$here/svg" "$work/gen"; do
    for src in $(cd "$base" && find . -name '*.svg' | sort); do
        rel=${src#./}
        rel=${rel%.svg}
        png "$base/$rel.svg" "$skin/$rel.png" 1
        png "$base/$rel.svg" "$skin/$rel@2x.png" 2
        count=$((count + 2))
    done
done

# The product mark at the sizes the skin uses: the full drawing from 32 pixels up, the simplified
# one below that.
png "$here/icon/mark.svg" "$skin/logo.png" 1 72
png "$here/icon/mark.svg" "$skin/logo@2x.png" 1 144
png "$here/icon/mark.svg" "$skin/logo_running.png" 1 64
png "$here/icon/mark.svg" "$skin/logo_running@2x.png" 1 128
png "$here/icon/mark_small.svg" "$skin/logo_small.png" 1 20
png "$here/icon/mark.svg" "$skin/logo_small@2x.png" 1 40
count=$((count + 6))

# The program icon: every size drawn on its own.
mkdir -p "$out"
icons=""
for size in 16 20 24 32 40 48 64 256; do
    if [ "$size" -le 24 ]; then src="$here/icon/mark_small.svg"; else src="$here/icon/mark.svg"; fi
    png "$src" "$work/icon-$size.png" 1 "$size"
    icons="$icons $work/icon-$size.png"
done
# shellcheck disable=SC2086
"$im" $icons "$out/setup.ico"

# Contact sheet of every 1x image (three of the hint animation's frames), large ones shrunk, on a
# light checkerboard so that transparent edges show.
"$im" -size 16x16 xc:'#FFFFFF' -fill '#E9E9EE' -draw 'rectangle 0,0 7,7' -draw 'rectangle 8,8 15,15' \
    "$work/checker.png"
# shellcheck disable=SC2046
montage -background '#FFFFFF' -fill '#333333' -font DejaVu-Sans -pointsize 10 -label '%t  %wx%h' \
    -texture "$work/checker.png" -geometry '220x130>+8+8' -tile 6x \
    $(find "$skin" -name '*.png' ! -name '*@2x.png' ! -path '*/gif/*' | sort) \
    "$skin/gif/bg00.png" "$skin/gif/bg07.png" "$skin/gif/bg14.png" "$out/contact.png"

echo "render.sh: $count images in $skin, $out/setup.ico, $out/contact.png"
