#!/bin/bash
# Times formula recalculation: a generated workbook of 100,000 formulas
# (bench/make_formula_workbook.py) converted by sdconv, which recomputes them
# all (the workbook asks for a full calculation on load), and by LibreOffice's
# headless conversion when soffice is installed; then the cost on big.xlsx
# (no formulas) against a build without the formula engine, when given.
#   bench/run_formulas.sh WORK_DIR [BUILD_DIR] [BASE_BUILD_DIR] [BIG_XLSX]
# BUILD_DIR is a Release build of this tree (configured here if missing);
# BASE_BUILD_DIR a Release build of the tree before the formula engine
# (its tools/sdconv is timed on BIG_XLSX beside this tree's).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
work=${1:?usage: $0 WORK_DIR [BUILD_DIR] [BASE_BUILD_DIR] [BIG_XLSX]}
build=${2:-$src/build-bench}
base=${3:-}
big=${4:-}
runs=${RUNS:-5}
py=/usr/bin/python3 # the system python, which has xlsxwriter
mkdir -p "$work"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sdconv -j2 >/dev/null
[ -f "$work/formulas.xlsx" ] || "$py" "$here/make_formula_workbook.py" "$work/formulas.xlsx" >/dev/null

measure() { # median wall s, peak RSS MB, median cpu s of RUNS runs
  local times=() cpus=() peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -f '%e %M %U %S' -o "$work/t" "$@" >/dev/null 2>&1 || true
    read -r t m u s < "$work/t"
    times+=("$t"); cpus+=("$(echo "$u + $s" | bc)"); [ "$m" -gt "$peak" ] && peak=$m
  done
  printf '%8s s %7d MB %8s s' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" \
    $((peak / 1024)) "$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")"
}
row() { local label=$1; shift; printf '%-46s %s\n' "$label" "$(measure "$@")"; }

echo "SheetDrain formula benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs"
printf '%-46s %10s %10s %10s\n' "case" "wall" "peak" "cpu"
row "formulas.xlsx (100,000 formulas): sdconv" "$build/tools/sdconv" --quiet "$work/formulas.xlsx" "$work/out"
# The values must be there: the last row of the Calc sheet.
"$build/tools/sdconv" --quiet "$work/formulas.xlsx" "$work/out" >/dev/null 2>&1
echo "  Calc sheet, last row: $(tail -n 1 "$work/out/1.csv" 2>/dev/null || echo '?')"
if command -v soffice >/dev/null 2>&1; then
  row "formulas.xlsx: soffice --convert-to csv" soffice --headless --norestore \
    --convert-to csv --outdir "$work/out" "$work/formulas.xlsx"
else
  echo "formulas.xlsx: soffice --convert-to csv            (LibreOffice not installed)"
fi
if [ -n "$big" ] && [ -f "$big" ]; then
  row "big.xlsx: sdconv with the formula engine" "$build/tools/sdconv" --quiet "$big" "$work/out"
  if [ -n "$base" ] && [ -x "$base/tools/sdconv" ]; then
    row "big.xlsx: sdconv before it" "$base/tools/sdconv" --quiet "$big" "$work/out"
  fi
fi
