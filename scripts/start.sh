#!/usr/bin/env bash
# Installs what is missing, builds SheetDrain and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
BUILD_DIR="${BUILD_DIR:-$root/build}" "$root/scripts/build.sh" -DSHEETDRAIN_TESTS=OFF
exec "${BUILD_DIR:-$root/build}/app/SheetDrain"
