#!/bin/sh
# Renders the program's images from the SVG drawings in svg/ into OUTDIR:
# one PNG per drawing, the window icon (several sizes in one .ico) and the
# searching animation (a turning ring of dots as an endless GIF).
#   resources/render.sh SVGDIR OUTDIR
set -eu
svgdir="$1"
out="$2"
mkdir -p "$out/Resources" "$out/frames"

for svg in "$svgdir"/*.svg; do
    name="$(basename "$svg" .svg)"
    [ "$name" = ardenix ] && continue
    rsvg-convert -o "$out/Resources/$name.png" "$svg"
done

for size in 16 24 32 48 64 256; do
    rsvg-convert -w "$size" -h "$size" -o "$out/frames/ardenix-$size.png" "$svgdir/ardenix.svg"
done
convert "$out/frames/ardenix-16.png" "$out/frames/ardenix-24.png" "$out/frames/ardenix-32.png" \
    "$out/frames/ardenix-48.png" "$out/frames/ardenix-64.png" "$out/frames/ardenix-256.png" \
    "$out/Resources/ardenix.ico"

# Twelve dots on a ring; each frame moves the bright head one step on, the
# dots behind it fade out.
frames=""
step=0
while [ $step -lt 12 ]; do
    dots=""
    i=0
    while [ $i -lt 12 ]; do
        age=$(( (step - i + 12) % 12 ))
        opacity=$(( 100 - age * 8 ))
        radius=$(( 7 - age / 3 ))
        dots="$dots<circle cx=\"48\" cy=\"14\" r=\"$radius\" fill=\"#1CAFE9\" fill-opacity=\"0.$(printf %02d $opacity)\" transform=\"rotate($(( i * 30 )) 48 48)\"/>"
        [ $opacity -eq 100 ] && dots="$dots<circle cx=\"48\" cy=\"14\" r=\"$radius\" fill=\"#1CAFE9\" transform=\"rotate($(( i * 30 )) 48 48)\"/>"
        i=$((i + 1))
    done
    frame="$out/frames/searching-$(printf %02d $step)"
    printf '<svg xmlns="http://www.w3.org/2000/svg" width="96" height="96" viewBox="0 0 96 96">%s</svg>\n' "$dots" >"$frame.svg"
    rsvg-convert -b "#323232" -o "$frame.png" "$frame.svg"
    frames="$frames $frame.png"
    step=$((step + 1))
done
# shellcheck disable=SC2086
convert -delay 8 -loop 0 $frames -layers Optimize "$out/Resources/searching.gif"
