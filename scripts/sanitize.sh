#!/usr/bin/env bash
# The sanitizer passes of the test suite, each in a Debug build of its own:
#
# 1. AddressSanitizer and UndefinedBehaviorSanitizer over the readers, the
#    formula engine, the support library and their tests (the golden corpus
#    and the fuzz seed replays included), so that memory errors in the
#    parsers and the evaluator fail the suite instead of passing silently
#    (build-sanitize/).
# 2. ThreadSanitizer over the tests that run threads: the conversion worker
#    on its thread (job, seam, window controller and folder fields, command
#    line, its reports and its parallel jobs, the CSV commit group), the
#    .xlsx reader's read-ahead inflater and the CSV writer streaming a sheet
#    while it is read (build-tsan/).
#
# SHEETDRAIN_SKIP_TSAN=1 leaves the second pass out.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs=$(nproc)

# pass BUILD_DIR TESTS_REGEX CMAKE_OPTION...: configures, builds only the
# test programs of the matching tests and runs them.
pass() {
  local build=$1 tests=$2
  shift 2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DSHEETDRAIN_TESTS=ON \
        -DSHEETDRAIN_BENCH=OFF "$@" >/dev/null
  local targets
  targets=$(cd "$build" && ctest -N -R "$tests" | sed -n 's/^ *Test *#[0-9]*: //p' \
            | sed -e 's/^replay_/tst_replay_/' -e '/^tst_replay_/!s/^/tst_/')
  cmake --build "$build" -j"$jobs" --target $targets
  (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" -R "$tests")
}

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  pass "${SANITIZE_BUILD_DIR:-$root/build-sanitize}" \
       '^(charsearch|textcut|textreplace|settingsfile|programpaths|numfmt|csvwriter|golden|inflate|xls.*|crypto.*|replay_.*|formula|formulaengine|formulasheets|rangescan|recalconload)$' \
       -DSHEETDRAIN_SANITIZE=ON

if [[ "${SHEETDRAIN_SKIP_TSAN:-}" != 1 ]]; then
  SHEETDRAIN_TIMEOUT_SCALE=5 QTEST_FUNCTION_TIMEOUT=1500000 \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp" \
    pass "${TSAN_BUILD_DIR:-$root/build-tsan}" \
         '^(mergeobject|axseam|cli|clireport|clijobs|csvcommit|controller|folderfields|xlsxsheet|xlsxstream|xlsstream)$' \
         -DSHEETDRAIN_TSAN=ON
fi
