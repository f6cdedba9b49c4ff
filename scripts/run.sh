#!/usr/bin/env bash
# Installs what is missing, builds and starts Velumen.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
VELUMEN_TARGET=velumen "$root/scripts/build.sh"
build=${VELUMEN_BUILD_DIR:-$root/build}
exec "$build/app/velumen" "$@"
