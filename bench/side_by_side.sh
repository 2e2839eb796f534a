#!/usr/bin/env bash
# Times sheetdrain-cli beside the peer converters in one run on the same
# machine and the same generated workbooks, and prints one table.
#
# Usage: bench/side_by_side.sh WORKDIR [BUILD_DIR]
#   WORKDIR    peer kit work folder: workbooks in wb/,
#              results in res/ (summary.md is rewritten with SheetDrain in it)
#   BUILD_DIR  a Release build holding convert/sheetdrain-cli (default
#              build-bench; configured and built when missing)
# Env: PEERS=REGEX   peer cases to run (default: the big and wide workbooks,
#                    the fastest one-process folder peers and the floors)
#      RUNS=5        hyperfine runs per SheetDrain case
#      SKIP_PEERS=1  time only SheetDrain (keeps earlier peer results)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kit="$root/../shared/bench"
W="$(mkdir -p "${1:?usage: $0 WORKDIR [BUILD_DIR]}" && cd "$1" && pwd)"
build="${2:-$root/build-bench}"
RUNS=${RUNS:-5}
PEERS=${PEERS:-'^(big\.xlsx|wide\.xlsx|big\.xls)/(soffice|ssconvert|xlsx2csv|sheetjs|xls2csv|xlrd|floor-unzip|floor-cat)$|^many/(sheetjs-1proc|floor-cat)$|^many_xls/(xlrd-1proc|floor-cat-loop)$'}

if [[ ! -x "$build/convert/sheetdrain-cli" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target sheetdrain-cli
fi
CLI="$build/convert/sheetdrain-cli"

if [[ -z "${SKIP_PEERS:-}" ]]; then
  ONLY="$PEERS" LOOP_RUNS=${LOOP_RUNS:-3} bash "$kit/run_peers.sh" "$W"
fi

WB="$W/wb"
TIMEBIN=$(type -P time)
CASES="$W/res/cases.tsv"
[[ -f "$CASES" ]] || printf 'id\tinput\ttool\tmode\truns\n' > "$CASES"

# One source folder per single workbook (hard links: the walk skips symbolic
# links to files).
for f in big.xlsx wide.xlsx big.xls; do
  mkdir -p "$W/sd-src/$f"
  ln -f "$WB/$f" "$W/sd-src/$f/$f"
done

sd_case() { # id input mode source
  local id=$1 input=$2 mode=$3 src=$4
  local out="$W/out/$id" sid=${id//\//_}
  printf 'set -e\n%q %q %q --all-sheets >/dev/null 2>&1\n' "$CLI" "$src" "$out" > "$W/cmd/$sid.sh"
  printf 'rm -rf %q\nmkdir -p %q\n' "$out" "$out" > "$W/cmd/$sid.prep"
  rm -f "$W/res/$sid.rss"
  echo "== $id ($RUNS runs)"
  hyperfine -N -i --runs "$RUNS" --prepare "bash $W/cmd/$sid.prep" \
    --export-json "$W/res/$sid.json" --style basic \
    "$TIMEBIN -f %M -a -o $W/res/$sid.rss bash $W/cmd/$sid.sh" 2>&1 | grep -E 'Time|Range|Warning|rror' || true
  awk -F'\t' -v id="$id" '$1 != id' "$CASES" > "$CASES.tmp"; mv "$CASES.tmp" "$CASES"
  printf '%s\t%s\tSheetDrain (sheetdrain-cli)\t%s\t%s\n' "$id" "$input" "$mode" "$RUNS" >> "$CASES"
}

sd_case big.xlsx/sheetdrain big.xlsx "all sheets" "$W/sd-src/big.xlsx"
sd_case wide.xlsx/sheetdrain wide.xlsx "all sheets" "$W/sd-src/wide.xlsx"
sd_case big.xls/sheetdrain big.xls "all sheets" "$W/sd-src/big.xls"
sd_case many/sheetdrain many "one process, all files" "$WB/many"
sd_case many_xls/sheetdrain many_xls "one process, all files" "$WB/many_xls"

PY=/usr/bin/python3
"$PY" "$kit/summarize_peers.py" "$W" > "$W/res/summary.md"
cat "$W/res/summary.md"
