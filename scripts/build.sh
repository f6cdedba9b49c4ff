#!/usr/bin/env bash
# Configures and builds into build/ (or $VELUMEN_BUILD_DIR). Extra arguments go to CMake's configure
# step; VELUMEN_TARGET names one target to build instead of everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELUMEN_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" "$@" >/dev/null
target=()
if [ -n "${VELUMEN_TARGET:-}" ]; then target=(--target "$VELUMEN_TARGET"); fi
cmake --build "$build" "${target[@]}" --parallel "$(nproc 2>/dev/null || echo 2)"
