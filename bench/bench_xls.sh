#!/bin/bash
# Times SheetDrain's .xls path on the generated benchmark workbooks and prints
# a table: wall time (median of RUNS), peak memory, and the reader's share.
#   bench/bench_xls.sh WB_DIR [BUILD_DIR]
# WB_DIR holds big.xls (60,000 x 20) and many_xls/ (200 small .xls), made by
# ../shared/bench/make_workbooks.py. BUILD_DIR is a Release build of this
# tree (configured here if missing); the script builds the sdconv and
# xlsbench targets in it. Prints figures
# only; the targets are checked by reading them, not by this script.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
wb=${1:?usage: $0 WB_DIR [BUILD_DIR]}
build=${2:-$src/build-bench}
runs=${RUNS:-5}
work=$(mktemp -d /tmp/sheetdrain-xlsbench.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sdconv xlsbench -j2 >/dev/null
cli="$build/app/sheetdrain-cli"
cmake --build "$build" --target sheetdrain-cli -j2 >/dev/null 2>&1 || cli=""
[ -x "$cli" ] || cli=""

# median wall seconds and max peak RSS (MB) of RUNS runs of a command
measure() {
  local times=() peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -f '%e %M' -o "$work/t" "$@" >/dev/null 2>&1 || true
    read -r t m < "$work/t"
    times+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
  done
  local med
  med=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
  printf '%8s s %7d MB' "$med" $((peak / 1024))
}

row() { # label, command...
  local label=$1; shift
  printf '%-48s %s\n' "$label" "$(measure "$@")"
}

per() { # label, "SECS s ..." line, count
  local secs=${2%% s*}
  printf '%-48s %8.2f ms\n' "$1" "$(echo "$secs * 1000 / $3" | bc -l)"
}

mkdir -p "$work/src_big"
cp "$wb/big.xls" "$work/src_big/"
mapfile -t many < <(find "$wb/many_xls" -iname '*.xls' | sort)
n=${#many[@]}

echo "SheetDrain .xls benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs"
echo "converter: ${cli:-sdconv (sheetdrain-cli not built)}"
printf '%-48s %10s %10s\n' "case" "wall" "peak"
if [ -n "$cli" ]; then
  row "big.xls: sheetdrain-cli --all-sheets" "$cli" "$work/src_big" "$work/out" --all-sheets
fi
row "big.xls: sdconv (all sheets)" "$build/tools/sdconv" --quiet "$wb/big.xls" "$work/out"
row "big.xls: read only (open + load sheets)" "$build/bench/xlsbench" read "$wb/big.xls"
row "big.xls: read + displayed text, no writing" "$build/bench/xlsbench" render "$wb/big.xls"
row "big.xls: compound file only (stream copy)" "$build/bench/xlsbench" stream "$wb/big.xls"
row "big.xls: floor, cat > /dev/null" sh -c "cat '$wb/big.xls' >/dev/null"
if [ -n "$cli" ]; then
  line=$(measure "$cli" "$wb/many_xls" "$work/out" --all-sheets)
  printf '%-48s %s\n' "many_xls/ ($n files): sheetdrain-cli --all-sheets" "$line"
  per "  per workbook" "$line" "$n"
fi
line=$(measure "$build/bench/xlsbench" read "${many[@]}")
printf '%-48s %s\n' "many_xls/ ($n files): read only, one process" "$line"
# GNU time counts in 10 ms steps; the program's own clock is finer.
for mode in read render; do
  inner=$("$build/bench/xlsbench" "$mode" "${many[@]}" | sed -n 's/.* \([0-9.]*\) ms,.*/\1/p')
  printf '%-48s %8.3f ms\n' "  per workbook, $mode (in-process clock)" "$(echo "$inner / $n" | bc -l)"
done
line=$(measure sh -c "for f in $(printf "'%s' " "${many[@]}"); do '$build/tools/sdconv' --quiet \"\$f\" '$work/out' || exit 1; done")
printf '%-48s %s\n' "many_xls/ ($n files): sdconv, process per file" "$line"
per "  per workbook" "$line" "$n"
