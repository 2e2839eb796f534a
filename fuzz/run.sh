#!/bin/sh
# Runs one libFuzzer target for a while on a copy of its seed corpus.
#   fuzz/run.sh FORMAT [SECONDS] [BUILD_DIR]      e.g. fuzz/run.sh xlsx 1800
# The build directory is configured with clang, ASan+UBSan and the fuzz
# targets if it does not exist yet. Findings are written as
# WORK/crash-*, WORK being $FUZZ_WORK (default /tmp/sheetdrain-fuzz-FORMAT).
set -eu
format=${1:?usage: run.sh FORMAT [SECONDS] [BUILD_DIR]}
seconds=${2:-1800}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${3:-$src/../build-fuzz-$format}
work=${FUZZ_WORK:-/tmp/sheetdrain-fuzz-$format}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DSHEETDRAIN_FUZZ=ON -DSHEETDRAIN_SANITIZE=ON -DSHEETDRAIN_TESTS=OFF
fi
cmake --build "$build" --target "fuzz_$format" -j2
mkdir -p "$work/corpus"
cp -n "$src/fuzz/seeds/$format/"* "$work/corpus/" 2>/dev/null || true
dict=""
[ -f "$src/fuzz/$format.dict" ] && dict="-dict=$src/fuzz/$format.dict"
exec "$build/fuzz/fuzz_$format" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  $dict -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus"
