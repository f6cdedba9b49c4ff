#!/usr/bin/env bash
# Makes a small series of night-sky frames to try Velumen on: the same star field turned a little
# further about the pole in each frame, above a dark hill that stays put, as a fixed camera would
# record it. Stacked with "Lighten only" the stars draw circular trails.
#
#   scripts/make-star-frames.sh [folder] [count] [width] [height]
#
# Defaults: folder ./star-frames, 40 frames of 1200 x 800. Needs ImageMagick's convert.
set -euo pipefail

folder=${1:-star-frames}
count=${2:-40}
width=${3:-1200}
height=${4:-800}

for value in "$count" "$width" "$height"; do
    if ! [[ $value =~ ^[1-9][0-9]*$ ]]; then
        echo "usage: $0 [folder] [count] [width] [height]  (count, width and height are positive whole numbers)" >&2
        exit 2
    fi
done
if ! command -v convert >/dev/null 2>&1; then
    echo "ImageMagick's convert is not installed (Debian: apt-get install imagemagick)." >&2
    exit 1
fi

mkdir -p "$folder"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pole the sky turns about, above the frame's upper half.
pole_x=$((width * 55 / 100))
pole_y=$((height * 12 / 100))
# A star field larger than the frame, so that turning it never shows an empty corner.
side=$(( (width > height ? width : height) * 3 ))

# Stars: sparse points of noise, a few brighter ones, softened a little.
convert -size "${side}x${side}" xc:black -seed 17 +noise Random -channel R -separate +channel \
    -threshold 99.9% \
    \( -size "${side}x${side}" xc:black -seed 29 +noise Random -channel R -separate +channel -threshold 99.97% \
       -morphology Dilate Disk:1.2 \) -compose Lighten -composite \
    -blur 0x0.7 -level 0,55% "$work/stars.png"

# Sky glow and the hill, the same in every frame.
convert -size "${width}x${height}" gradient:'#02040b-#0d1a33' "$work/sky.png"
convert -size "${width}x${height}" xc:none -fill '#050608' -draw "polygon 0,$((height * 78 / 100)) \
$((width * 18 / 100)),$((height * 70 / 100)) $((width * 37 / 100)),$((height * 76 / 100)) \
$((width * 62 / 100)),$((height * 66 / 100)) $((width * 83 / 100)),$((height * 74 / 100)) \
${width},$((height * 69 / 100)) ${width},${height} 0,${height}" "$work/hill.png"

offset_x=$((side / 2 - pole_x))
offset_y=$((side / 2 - pole_y))
for ((k = 0; k < count; k++)); do
    # A quarter of a degree per frame: about a minute of real sky between exposures.
    angle=$(awk -v k="$k" 'BEGIN { printf "%.3f", k * 0.25 }')
    name=$(printf 'frame%04d.jpg' "$k")
    # Only the frame's part of the turned field is computed.
    convert "$work/stars.png" -define "distort:viewport=${width}x${height}+${offset_x}+${offset_y}" \
        -distort SRT "$((side / 2)),$((side / 2)) 1 $angle" +repage -colorspace sRGB -type TrueColor \
        "$work/sky.png" -compose Screen -composite \
        "$work/hill.png" -compose Over -composite \
        -quality 92 "$folder/$name"
    printf '\r%s %d/%d' "$folder/$name" "$((k + 1))" "$count"
done
printf '\n%d frames in %s\n' "$count" "$folder"
