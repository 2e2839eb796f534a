#!/usr/bin/env bash
# Builds the Debian package of SheetDrain: installs what is missing, builds a
# release into build-deb/ (or $BUILD_DIR) with Debian's hardening flags and
# runs `cpack -G DEB` there. Prints the package's path.
#
# Usage: scripts/package.sh [--lintian]   (--lintian also checks the package)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-deb}"
"$root/scripts/install-deps.sh" --package

# The flags Debian builds its own packages with (stack protector, fortified
# functions, read-only relocations, immediate binding, position-independent
# executables).
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
CFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS CFLAGS LDFLAGS

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DSHEETDRAIN_TESTS=OFF -DSHEETDRAIN_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
package="$(ls -t "$build"/sheetdrain_*.deb | head -1)"
echo "$package"
if [[ "${1:-}" == "--lintian" ]]; then
  lintian --allow-root --info "$package" || true
fi
