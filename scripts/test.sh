#!/usr/bin/env bash
# Installs what is missing, builds SheetDrain with its tests and runs the whole
# suite through CTest, then the readers' tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer and the threaded tests under ThreadSanitizer
# (scripts/sanitize.sh; SHEETDRAIN_SKIP_SANITIZE=1 leaves those passes out).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" --test
# File names in a GBK locale are tested by running a batch under zh_CN.GBK;
# make that locale when the system lacks it. Without it the test skips, and
# fails under CI.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.gbk'; then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO localedef -i zh_CN -f GBK zh_CN.GBK \
    || echo "test.sh: could not make the zh_CN.GBK locale" >&2
fi
build="${BUILD_DIR:-$root/build-tests}"
BUILD_DIR="$build" "$root/scripts/build.sh" -DSHEETDRAIN_TESTS=ON
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@")
if [[ "${SHEETDRAIN_SKIP_SANITIZE:-}" != 1 ]]; then
  "$root/scripts/sanitize.sh"
fi
