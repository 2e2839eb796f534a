#!/bin/bash
# Times SheetDrain's .xlsx path on the generated benchmark workbooks and
# prints a table: wall time (median of RUNS), peak memory, and the floors.
#   bench/run_xlsx.sh WB_DIR [BUILD_DIR]
# WB_DIR holds big.xlsx, wide.xlsx and many/ (made by
# ../shared/bench/make_workbooks.py), and maybe tall.xlsx (made by
# make_tall_workbook.py). BUILD_DIR is a Release build of this
# tree (configured here if missing); the script builds the sdconv and
# xlsxbench targets in it (xlsxbench needs libdeflate, its ISA-L floors
# ISA-L). WINDOWS="32768 262144 ...": the output windows of the streamed
# floors (default 256 KiB).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
wb=${1:?usage: $0 WB_DIR [BUILD_DIR]}
build=${2:-$src/build-bench}
runs=${RUNS:-5}
work=$(mktemp -d /tmp/sheetdrain-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sdconv xlsxbench -j2 >/dev/null
cli="$build/app/sheetdrain-cli"
cmake --build "$build" --target sheetdrain-cli -j2 >/dev/null 2>&1 || cli=""
[ -x "$cli" ] || cli=""

# median wall seconds, max peak RSS (MB) and median CPU seconds (user+sys,
# less sensitive to a busy machine) of RUNS runs of a command
measure() {
  local times=() cpus=() peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -f '%e %M %U %S' -o "$work/t" "$@" >/dev/null 2>&1 || true
    read -r t m u s < "$work/t"
    times+=("$t"); cpus+=("$(echo "$u + $s" | bc)"); [ "$m" -gt "$peak" ] && peak=$m
  done
  local med cpu
  med=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  printf '%8s s %7d MB %8s s' "$med" $((peak / 1024)) "$cpu"
}

row() { # label, command...
  local label=$1; shift
  printf '%-50s %s\n' "$label" "$(measure "$@")"
}

mkdir -p "$work/src_big" "$work/src_wide"
cp "$wb/big.xlsx" "$work/src_big/"; cp "$wb/wide.xlsx" "$work/src_wide/"
mapfile -t many < <(find "$wb/many" -name '*.xlsx' | sort)

echo "SheetDrain .xlsx benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs"
echo "converter: ${cli:-sdconv (sheetdrain-cli not built)}"
printf '%-50s %10s %10s %10s\n' "case" "wall" "peak" "cpu"
for name in big wide; do
  f="$wb/$name.xlsx"
  if [ -n "$cli" ]; then
    row "$name.xlsx: sheetdrain-cli --all-sheets" "$cli" "$work/src_$name" "$work/out" --all-sheets
  fi
  row "$name.xlsx: sdconv (all sheets)" "$build/tools/sdconv" --quiet "$f" "$work/out"
  row "$name.xlsx: read only (open + load sheets)" "$build/bench/xlsxbench" read "$f"
  row "$name.xlsx: inflate only, the reader's stream" "$build/bench/xlsxbench" inflate "$f"
  for w in ${WINDOWS:-262144}; do
    row "$name.xlsx: inflate only, zlib streamed $((w / 1024))K" "$build/bench/xlsxbench" zlib:$w "$f"
    row "$name.xlsx: inflate only, ISA-L streamed $((w / 1024))K" "$build/bench/xlsxbench" isal:$w "$f"
  done
  row "$name.xlsx: inflate only, libdeflate whole" "$build/bench/xlsxbench" libdeflate "$f"
  row "$name.xlsx: inflate only, ISA-L whole" "$build/bench/xlsxbench" isalwhole "$f"
  row "$name.xlsx: inflate only, unzip -p" sh -c "unzip -p '$f' >/dev/null"
done
# The grid-tall sheet of make_tall_workbook.py, when WB_DIR holds it: only
# streaming converts it (more cells than a sheet read whole may hold).
if [ -f "$wb/tall.xlsx" ]; then
  mkdir -p "$work/src_tall"; cp "$wb/tall.xlsx" "$work/src_tall/"
  if [ -n "$cli" ]; then
    row "tall.xlsx: sheetdrain-cli --all-sheets" "$cli" "$work/src_tall" "$work/out" --all-sheets
  fi
  row "tall.xlsx: sdconv (all sheets)" "$build/tools/sdconv" --quiet "$wb/tall.xlsx" "$work/out"
fi
n=${#many[@]}
if [ -n "$cli" ]; then
  line=$(measure "$cli" "$wb/many" "$work/out" --all-sheets)
  printf '%-50s %s\n' "many/ ($n files): sheetdrain-cli --all-sheets" "$line"
  secs=${line%% s*}
  printf '%-50s %8.2f ms\n' "  per workbook" "$(echo "$secs * 1000 / $n" | bc -l)"
fi
line=$(measure "$build/bench/xlsxbench" read "${many[@]}")
printf '%-50s %s\n' "many/ ($n files): read only, one process" "$line"
secs=${line%% s*}
printf '%-50s %8.2f ms\n' "  per workbook" "$(echo "$secs * 1000 / $n" | bc -l)"
