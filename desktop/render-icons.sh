#!/usr/bin/env bash
# Renders the launcher icons and the window icons from the SVG drawing. The PNGs are committed, so
# this runs only after the drawing changes; it needs rsvg-convert (Debian: librsvg2-bin) and
# ImageMagick's convert.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
svg=$here/io.github.velumen.Velumen.svg
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$here/icons/$size"
    rsvg-convert -w "$size" -h "$size" "$svg" -o "$here/icons/$size/io.github.velumen.Velumen.png"
done
# The window icon, with a double-size variant for 200 % screens, and the Windows icon resource.
cp "$here/icons/128/io.github.velumen.Velumen.png" "$here/../rc/velumen.png"
cp "$here/icons/256/io.github.velumen.Velumen.png" "$here/../rc/velumen@2x.png"
convert "$here/icons/32/io.github.velumen.Velumen.png" "$here/icons/16/io.github.velumen.Velumen.png" \
    -define icon:format=bmp "$here/../rc/velumen.ico"
# The help mark's double-size variant (help.png itself is drawn by hand at 12 px).
rsvg-convert -w 24 -h 24 "$here/../rc/help.svg" -o "$here/../rc/help@2x.png"
