#!/usr/bin/env bash
# Rebuilds Kelvane.ico from icon.svg. Only needed after the drawing changes: the .ico is
# committed so that an ordinary build needs none of these tools.
#
# The icon holds 16 images: 64, 48, 32, 24 and 16 px at 4, 8 and 32 bits per pixel, so that
# every display depth and scaling Windows may ask for gets a hand-made match instead of a
# resampled one, plus a 256 px PNG for large views. It goes into a size-limited exe, so the
# PNG is colour-reduced before compression (see below).
set -euo pipefail
cd "$(dirname "$0")"
. ../setup/apt.sh

need() {
  local missing=()
  command -v rsvg-convert >/dev/null || missing+=(librsvg2-bin)
  # A lookalike convert may sit earlier in PATH; identify is only ever ImageMagick's.
  { command -v convert >/dev/null && command -v identify >/dev/null; } || missing+=(imagemagick)
  command -v icotool >/dev/null || missing+=(icoutils)
  [ ${#missing[@]} -eq 0 ] && return
  apt_install "installing the icon's tools" "${missing[@]}"
}
need

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# At 16 px anti-aliasing turns the one-pixel waves into grey smudges; hard edges read better.
echo '* { shape-rendering: crispEdges; }' >"$work/crisp.css"

render() { # size -> $work/<size>.png, 32-bit RGBA
  local size=$1 style=()
  [ "$size" -le 16 ] && style=(--stylesheet "$work/crisp.css")
  rsvg-convert "${style[@]}" -w "$size" -h "$size" -f png icon.svg -o "$work/$size.png"
}

# Paletted icon images have only an on/off mask, so alpha is cut at half before the colours
# are chosen; otherwise palette slots would go to half-transparent edge shades. No dithering:
# at these sizes its speckle is noisier than the banding it hides.
quantise() { # size colours -> $work/<size>-<colours>.png
  local size=$1 colours=$2
  convert "$work/$size.png" -channel A -threshold 50% +channel +dither -colors "$colours" \
    -define png:color-type=6 "$work/$size-$colours.png"
}

args=()
for size in 64 48 32 24 16; do
  render "$size"
  quantise "$size" 16
  quantise "$size" 256
  args+=(-b 4 "$work/$size-16.png" -b 8 "$work/$size-256.png" -b 32 "$work/$size.png")
done

# The 256 px image is stored as a PNG file. Windows wants that PNG in 32-bit RGBA, so the
# size is won elsewhere: 64 colours (no visible loss on this flat drawing) and the "sub"
# row filter, which suits long runs of one colour, make it about half the plain size.
render 256
convert "$work/256.png" +dither -colors 64 -strip -define png:color-type=6 -define png:bit-depth=8 \
  -define png:compression-level=9 -define png:compression-filter=1 -define png:compression-strategy=0 \
  "$work/256-rgba.png"

icotool -c -o Kelvane.ico -r "$work/256-rgba.png" "${args[@]}"

# Guard against a tool change silently dropping or re-encoding an image.
count=$(icotool -l Kelvane.ico | wc -l)
if [ "$count" -ne 16 ]; then
  echo "make_icon.sh: Kelvane.ico has $count images, expected 16" >&2
  exit 1
fi
icotool -l Kelvane.ico
echo "Kelvane.ico: $(stat -c %s Kelvane.ico) bytes"
