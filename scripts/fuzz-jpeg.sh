#!/usr/bin/env bash
# Builds the JPEG decoder's libFuzzer target with clang (AddressSanitizer and UBSan), seeds it with
# generated JPEGs of every kind the tests use, and runs it on one core.
# Usage: scripts/fuzz-jpeg.sh [seconds] [libjpeg-turbo source folder]
# With a source folder (apt-get source libjpeg-turbo) libjpeg itself is built instrumented, so the
# fuzzer is guided through it and the sanitizers watch its reads and writes; without one the target
# links the system's libjpeg and only this project's code is instrumented. Work folder: build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-300}
source=${2:-}
out=$root/build-fuzz
mkdir -p "$out/seeds" "$out/corpus"
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
jpeg=(-ljpeg)
if [ -n "$source" ]; then
    cmake -S "$source" -B "$out/libjpeg" -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_FLAGS="-g -O1 $sanitize -fsanitize=fuzzer-no-link" \
        -DENABLE_SHARED=0 -DWITH_SIMD=0 -DWITH_TURBOJPEG=0 > "$out/libjpeg.log"
    cmake --build "$out/libjpeg" --target jpeg-static -j1 >> "$out/libjpeg.log"
    jpeg=(-I"$source" -I"$out/libjpeg" "$out/libjpeg/libjpeg.a")
fi
# shellcheck disable=SC2086
clang++ -std=c++17 -g -O1 $sanitize -fsanitize=fuzzer -fPIC $(pkg-config --cflags Qt5Core) -I"$root/engine" \
    "$root/tests/fuzz/fuzz_jpegdecoder.cpp" "$root/engine/jpegmarkers.cpp" "$root/engine/jpegsession.cpp" \
    "${jpeg[@]}" $(pkg-config --libs Qt5Core) -o "$out/fuzz_jpegdecoder"

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

cd "$out"
ASAN_OPTIONS=detect_leaks=1 "$out/fuzz_jpegdecoder" -max_total_time="$seconds" -jobs=1 -workers=1 \
    -max_len=65536 -print_final_stats=1 "$out/corpus" "$out/seeds"
