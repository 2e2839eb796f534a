#!/usr/bin/env bash
# Builds the readers, the support library and their tests with AddressSanitizer
# and UndefinedBehaviorSanitizer and runs those tests (the golden corpus and
# the fuzz seed replays included), so that memory errors in the parsers fail
# the suite instead of passing silently.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SANITIZE_BUILD_DIR:-$root/build-sanitize}"
tests='^(charsearch|textcut|textreplace|settingsfile|startpaths|numfmt|csvwriter|golden|xls.*|replay_.*)$'

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DSHEETDRAIN_SANITIZE=ON \
      -DSHEETDRAIN_TESTS=ON >/dev/null
# Build only the test programs of the matching tests.
targets=$(cd "$build" && ctest -N -R "$tests" | sed -n 's/^ *Test *#[0-9]*: //p' \
          | sed -e 's/^replay_/tst_replay_/' -e '/^tst_replay_/!s/^/tst_/')
cmake --build "$build" -j"$(nproc)" --target $targets
cd "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" -R "$tests"
