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

# Stars as a list, not as an image: each is turned about the pole and drawn at its place in each
# frame, so nothing larger than a frame is ever made (a turned star field three times the frame's
# side would pass ImageMagick's default resource limits at real frame sizes). The list covers the
# circle about the pole that reaches the farthest corner, so no turn shows an empty corner. About
# one pixel in a thousand is a faint star, three in ten thousand a brighter, larger one.
awk -v w="$width" -v h="$height" -v px="$pole_x" -v py="$pole_y" 'BEGIN {
    srand(17)
    r = 0
    for (i = 0; i < 4; i++) {
        cx = (i % 2) * w - px; cy = int(i / 2) * h - py
        d = sqrt(cx * cx + cy * cy); if (d > r) r = d
    }
    r += 2
    n = int(3.14159265 * r * r * 0.0013)
    for (k = 0; k < n; k++) {
        # Even over the disc: the radius as the square root of a uniform value.
        d = r * sqrt(rand()); a = 6.28318531 * rand()
        if (rand() < 0.77) { size = 0.55 + 0.3 * rand(); level = 40 + int(45 * rand()) }
        else { size = 1.1 + 0.7 * rand(); level = 80 + int(20 * rand()) }
        printf "%.2f %.4f %.2f %d\n", d, a, size, level
    }
}' > "$work/stars.txt"

# The hill, drawn over the stars in every frame.
hill="fill '#050608' polygon 0,$((height * 78 / 100)) \
$((width * 18 / 100)),$((height * 70 / 100)) $((width * 37 / 100)),$((height * 76 / 100)) \
$((width * 62 / 100)),$((height * 66 / 100)) $((width * 83 / 100)),$((height * 74 / 100)) \
${width},$((height * 69 / 100)) ${width},${height} 0,${height}"

for ((k = 0; k < count; k++)); do
    name=$(printf 'frame%04d.jpg' "$k")
    # A quarter of a degree per frame, clockwise: about a minute of real sky between exposures.
    awk -v k="$k" -v w="$width" -v h="$height" -v px="$pole_x" -v py="$pole_y" -v hill="$hill" 'BEGIN {
        turn = k * 0.25 * 3.14159265358979 / 180
        printf "viewbox 0 0 %d %d\nstroke none\n", w, h
    }
    {
        x = px + $1 * cos($2 + turn); y = py + $1 * sin($2 + turn)
        if (x > -3 && y > -3 && x < w + 3 && y < h + 3)
            printf "fill gray(%d%%) circle %.2f,%.2f %.2f,%.2f\n", $4, x, y, x + $3, y
    }
    END { print hill }' "$work/stars.txt" > "$work/frame.mvg"
    # The sky's glow is made afresh each time: quicker than reading it back from a file.
    convert -size "${width}x${height}" gradient:'#02040b-#0d1a33' \( -background none "mvg:$work/frame.mvg" \) -compose Over -composite \
        -type TrueColor -quality 92 "$folder/$name"
    printf '\r%s %d/%d' "$folder/$name" "$((k + 1))" "$count"
done
printf '\n%d frames in %s\n' "$count" "$folder"
