#!/usr/bin/env bash
# Installs what is missing, builds and runs every test. VELUMEN_SANITIZE=1 builds with ASan (leak
# detection on) and UBSan into build-sanitize/; VELUMEN_TSAN=1 with ThreadSanitizer into build-tsan/
# (what comes from inside Qt is suppressed by tests/tsan.supp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${VELUMEN_SANITIZE:-0}" = 1 ]; then
    export VELUMEN_BUILD_DIR=${VELUMEN_BUILD_DIR:-$root/build-sanitize}
    "$root/scripts/build.sh" -DVELUMEN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
elif [ "${VELUMEN_TSAN:-0}" = 1 ]; then
    export VELUMEN_BUILD_DIR=${VELUMEN_BUILD_DIR:-$root/build-tsan}
    "$root/scripts/build.sh" -DVELUMEN_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
    export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1}
else
    "$root/scripts/build.sh"
fi
build=${VELUMEN_BUILD_DIR:-$root/build}
cd "$build"
ctest --output-on-failure --timeout 900
