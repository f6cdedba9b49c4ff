#!/usr/bin/env bash
# Builds the JPEG decoder's libFuzzer target with clang (AddressSanitizer and UBSan), seeds it with
# generated JPEGs of every kind the tests use, and runs it on one core.
# Usage: scripts/fuzz-jpeg.sh [seconds] (default 300). Work folder: build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
out=$root/build-fuzz
mkdir -p "$out/seeds" "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -fPIC \
    $(pkg-config --cflags Qt5Core) -I"$root/engine" \
    "$root/tests/fuzz/fuzz_jpegdecoder.cpp" "$root/engine/jpegmarkers.cpp" "$root/engine/jpegsession.cpp" \
    $(pkg-config --libs Qt5Core) -ljpeg -o "$out/fuzz_jpegdecoder"

cd "$out/seeds"
convert -seed 7 -size 45x29 plasma: source.ppm
n=0
for options in "-sample 2x2" "-sample 2x1 -progressive" "-restart 1" "-sample 1x2 -optimize" "-sample 4x1" \
    "-grayscale -progressive" "-rgb" "-dct float -restart 2 -progressive" "-arithmetic" "-quality 5"; do
    # shellcheck disable=SC2086
    cjpeg $options source.ppm > "seed$n.jpg"
    n=$((n + 1))
done
convert source.ppm -colorspace CMYK cmyk.jpg
convert -size 3x2 xc:gray50 -interlace JPEG tiny.jpg
rm source.ppm

ASAN_OPTIONS=detect_leaks=1 "$out/fuzz_jpegdecoder" -max_total_time="$seconds" -jobs=1 -workers=1 \
    -max_len=65536 -print_final_stats=1 "$out/corpus" "$out/seeds"
