#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. VELUMEN_SANITIZE=1 builds with ASan (leak
# detection on) and UBSan into build-sanitize/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${VELUMEN_SANITIZE:-0}" = 1 ]; then
    export VELUMEN_BUILD_DIR=${VELUMEN_BUILD_DIR:-$root/build-sanitize}
    "$root/scripts/build.sh" -DVELUMEN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
    "$root/scripts/build.sh"
fi
build=${VELUMEN_BUILD_DIR:-$root/build}
cd "$build"
ctest --output-on-failure --timeout 900
