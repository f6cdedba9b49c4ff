#!/usr/bin/env bash
# Installs what is missing, builds and starts Velumen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build=${VELUMEN_BUILD_DIR:-$root/build}
if [ ! -x "$build/app/velumen" ]; then
    echo "The main window is not built yet: the engine and widget libraries were built, there is nothing to start."
    exit 0
fi
exec "$build/app/velumen" "$@"
