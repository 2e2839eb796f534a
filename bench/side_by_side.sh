#!/usr/bin/env bash
# Times sheetdrain-cli beside the peer converters in one run on the same
# machine and the same generated workbooks, prints one table and checks the
# speed targets (PASS/FAIL).
#
# Usage: bench/side_by_side.sh WORKDIR [BUILD_DIR]
#   WORKDIR    work folder: workbooks in wb/ (made once, kept), CSV output
#              in out/, timings in res/ (table.md is the printed table)
#   BUILD_DIR  a Release build of this tree (default build-bench; configured
#              when missing); sheetdrain-cli and xlsxbench are built in it
# Cases: big.xlsx, wide.xlsx, big.xls, many/ (500 small .xlsx), many_xls/
# (200 small .xls) with SheetDrain and the peers that are installed
# (LibreOffice, gnumeric's ssconvert, xlsx2csv, SheetJS, catdoc's xls2csv,
# xlrd) and the kit's floors; scale.xlsx (1,048,576 x 20, SheetDrain and the
# inflate floors only); tree/ (2,000 small .xlsx and .xls in nested folders,
# SheetDrain with --jobs 1 and --jobs 2 when the program has --jobs).
# Peers come from scripts/install-deps.sh --bench; SheetJS is installed
# with npm into WORKDIR/sheetjs.
# Env: RUNS=3        runs per peer case
#      SD_RUNS=5     runs per SheetDrain case (3 for scale.xlsx and tree/)
#      WARMUP=0      untimed runs before each timed case (tree/ always has one)
#      PEERS=REGEX   peer cases to run (ids of ../shared/bench/run_peers.sh)
#      SKIP_PEERS=1  time only SheetDrain (keeps earlier peer results)
#      TREE_RUNS=5   runs per tree/ case (--jobs 1 and --jobs 2 in turn)
#      SCALE_ROWS=N, TREE_COUNT=N   smaller generated inputs (smoke runs)
#      CLI=PATH      the sheetdrain-cli to time (default: BUILD_DIR's)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kit="$root/../shared/bench"
W="$(mkdir -p "${1:?usage: $0 WORKDIR [BUILD_DIR]}" && cd "$1" && pwd)"
build="${2:-$root/build-bench}"
RUNS=${RUNS:-3}
SD_RUNS=${SD_RUNS:-5}
PY=/usr/bin/python3
TIMEBIN=$(type -P time)
WB="$W/wb"
mkdir -p "$W/res" "$W/out" "$W/cmd" "$W/trash" "$WB"

machine() { # label
  echo "$1: $(date -u '+%Y-%m-%d %H:%M:%S UTC'), uptime:$(uptime)"
}
{
  echo "cpus: $(nproc)"
  grep -m1 'model name' /proc/cpuinfo | sed 's/^model name[[:space:]]*: */cpu model: /'
  echo "kernel: $(uname -r)"
  machine before
} > "$W/res/machine.txt"
cat "$W/res/machine.txt"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target sheetdrain-cli >/dev/null
cmake --build "$build" -j2 --target xlsxbench >/dev/null 2>&1 || true
CLI=${CLI:-$build/app/sheetdrain-cli}
XB="$build/bench/xlsxbench"

# ------------------------------------------------------------- workbooks
[[ -f "$WB/manifest.json" ]] || "$PY" "$kit/make_workbooks.py" "$WB"
[[ -f "$WB/scale.xlsx.json" ]] || "$PY" "$root/bench/make_scale_workbook.py" "$WB/scale.xlsx" \
  ${SCALE_ROWS:-}
[[ -f "$WB/tree.json" ]] || { rm -rf "$WB/tree"; "$PY" "$root/bench/make_tree.py" "$WB/tree" \
  ${TREE_COUNT:-}; }

# ----------------------------------------------------------------- peers
if [[ -z "${SKIP_PEERS:-}" ]]; then
  if command -v npm >/dev/null && [[ ! -d "$W/sheetjs/node_modules/xlsx" ]]; then
    mkdir -p "$W/sheetjs"
    (cd "$W/sheetjs" && npm init -y >/dev/null && npm install --silent xlsx@0.18.5) || true
  fi
  # Only the peers that are installed; the kit times a missing one as a failure.
  big='floor-unzip' xls='floor-cat' many='floor-cat' manyx='floor-cat-loop'
  command -v soffice >/dev/null && big+='|soffice' xls+='|soffice'
  command -v ssconvert >/dev/null && big+='|ssconvert' xls+='|ssconvert'
  command -v xlsx2csv >/dev/null && big+='|xlsx2csv'
  command -v xls2csv >/dev/null && xls+='|xls2csv' manyx+='|xls2csv'
  "$PY" -c 'import xlrd' 2>/dev/null && xls+='|xlrd' manyx+='|xlrd-1proc'
  if [[ -d "$W/sheetjs/node_modules/xlsx" ]]; then
    big+='|sheetjs' xls+='|sheetjs' many+='|sheetjs-1proc' manyx+='|sheetjs-1proc'
  fi
  PEERS=${PEERS:-"^(big\.xlsx|wide\.xlsx)/($big)\$|^big\.xls/($xls)\$|^many/($many)\$|^many_xls/($manyx)\$"}
  echo "peers: $PEERS"
  # The kit's own summary and dialect notes land in res/peers.log.
  SKIP_SETUP=1 PY="$PY" ONLY="$PEERS" RUNS="$RUNS" LOOP_RUNS="$RUNS" \
    bash "$kit/run_peers.sh" "$W" 2>&1 | tee "$W/res/peers.log" \
    | grep --line-buffered -E '^==|Time|rror' || true
fi

# -------------------------------------------------------------- SheetDrain
CASES="$W/res/cases.tsv"
[[ -f "$CASES" ]] || printf 'id\tinput\ttool\tmode\truns\n' > "$CASES"

# run_case ID INPUT TOOL MODE RUNS COMMAND: hyperfine (median) and GNU time
# (peak RSS) over a shell command that may use $OUT; its stderr of the last
# run is kept in res/ID.err.
run_case() {
  local id=$1 input=$2 tool=$3 mode=$4 runs=$5 body=$6
  local out="$W/out/$id" sid=${id//\//_}
  printf 'set -e\nOUT=%q\n%s 2>%q\n' "$out" "$body" "$W/res/$sid.err" > "$W/cmd/$sid.sh"
  # sync: the last run's output is on disk before the next one is timed.
  # It is moved aside, not deleted, until the end of the run: ext4 makes
  # file creations right after thousands of deletions scan for free inodes
  # (recently deleted ones are skipped), which on the 2,000-workbook tree
  # took more time than converting it.
  printf '[ -e %q ] && mv %q "%s/trash/$(date +%%s%%N)"\nmkdir -p %q\nsync\n' \
    "$out" "$out" "$W" "$out" > "$W/cmd/$sid.prep"
  rm -f "$W/res/$sid.rss" "$W/res/$sid.err"
  echo "== $id ($runs runs)"
  hyperfine -N -i --runs "$runs" --warmup "${WARMUP:-0}" --prepare "bash $W/cmd/$sid.prep" \
    --export-json "$W/res/$sid.json" --style basic \
    "$TIMEBIN -f %M -a -o $W/res/$sid.rss bash $W/cmd/$sid.sh" 2>&1 \
    | grep -E 'Time|Range|Warning|rror' || true
  awk -F'\t' -v id="$id" '$1 != id' "$CASES" > "$CASES.tmp"; mv "$CASES.tmp" "$CASES"
  printf '%s\t%s\t%s\t%s\t%s\n' "$id" "$input" "$tool" "$mode" "$runs" >> "$CASES"
}
# interleaved RUNS ID1 ID2: the cases written by run_case's files (cmd/ID.sh,
# cmd/ID.prep), timed in turn (ID1, ID2, ID1, ...) after one warm-up run each,
# so that both meet the same state of the machine and of the file system,
# which drifts as outputs pile up; the results replace run_case's.
interleaved() {
  local runs=$1 ids=("${@:2}") r id sid t0 t1 rc
  echo "== ${ids[*]} (interleaved, $runs runs each)"
  for id in "${ids[@]}"; do
    sid=${id//\//_}
    rm -f "$W/res/$sid.rss" "$W/res/$sid.times"
    bash "$W/cmd/$sid.prep"; bash "$W/cmd/$sid.sh" || true
  done
  for ((r = 0; r < runs; ++r)); do
    for id in "${ids[@]}"; do
      sid=${id//\//_}
      bash "$W/cmd/$sid.prep"
      t0=$(date +%s%N)
      rc=0; $TIMEBIN -f %M -a -o "$W/res/$sid.rss" bash "$W/cmd/$sid.sh" || rc=$?
      t1=$(date +%s%N)
      echo "$(( t1 - t0 )) $rc" >> "$W/res/$sid.times"
    done
  done
  for id in "${ids[@]}"; do
    sid=${id//\//_}
    "$PY" - "$W/res/$sid.times" "$W/res/$sid.json" "bash $W/cmd/$sid.sh" <<'PYEOF'
import json, statistics, sys
rows = [line.split() for line in open(sys.argv[1]) if line.strip()]
times = [int(t) / 1e9 for t, _ in rows]
json.dump({"results": [{"command": sys.argv[3], "times": times,
                        "exit_codes": [int(c) for _, c in rows],
                        "median": statistics.median(times)}]}, open(sys.argv[2], "w"))
print("  %s: median %.3f s, range %.3f-%.3f s" % (sys.argv[3].split("/")[-1], statistics.median(times), min(times), max(times)))
PYEOF
  done
}
sd() { # ID INPUT MODE RUNS SOURCE [OPTION...]
  local id=$1 input=$2 mode=$3 runs=$4 src=$5 body
  shift 5
  body="$(printf '%q ' "$CLI" "$src")\"\$OUT\" --all-sheets"
  (($#)) && body+=" $(printf '%q ' "$@")"
  run_case "$id" "$input" "SheetDrain (sheetdrain-cli)" "$mode" "$runs" "$body >/dev/null"
}

# One source folder per single workbook (hard links: the walk skips symbolic
# links to files).
for f in big.xlsx wide.xlsx big.xls scale.xlsx; do
  mkdir -p "$W/sd-src/$f"
  ln -f "$WB/$f" "$W/sd-src/$f/$f"
done
sd big.xlsx/sheetdrain big.xlsx "all sheets" "$SD_RUNS" "$W/sd-src/big.xlsx"
sd wide.xlsx/sheetdrain wide.xlsx "all sheets" "$SD_RUNS" "$W/sd-src/wide.xlsx"
sd big.xls/sheetdrain big.xls "all sheets" "$SD_RUNS" "$W/sd-src/big.xls"
sd many/sheetdrain many "one process, all files" "$SD_RUNS" "$WB/many"
sd many_xls/sheetdrain many_xls "one process, all files" "$SD_RUNS" "$WB/many_xls"
sd scale.xlsx/sheetdrain scale.xlsx "all sheets" 3 "$W/sd-src/scale.xlsx"
# XlsxWriter's constant_memory mode writes strings inline: no sharedStrings.xml.
run_case scale.xlsx/floor-unzip scale.xlsx "floor: unzip -p sheets" "inflate only" 3 \
  "unzip -p $WB/scale.xlsx 'xl/worksheets/*.xml' >/dev/null"
if [[ -x "$XB" ]]; then
  run_case scale.xlsx/floor-isal scale.xlsx "floor: ISA-L streamed (xlsxbench)" "inflate only" 3 \
    "$XB isal $WB/scale.xlsx >/dev/null"
fi
rm -f "$W/res/tree.na"
awk -F'\t' '$1 !~ /^tree\//' "$CASES" > "$CASES.tmp"; mv "$CASES.tmp" "$CASES"
if "$CLI" --help 2>&1 | grep -q -- '--jobs'; then
  # One warm-up run each, so that neither pays for a cold cache of 2,000
  # files; then the two in turn, five runs each.
  sd tree/jobs1 tree "--jobs 1" 1 "$WB/tree" --jobs 1
  sd tree/jobs2 tree "--jobs 2" 1 "$WB/tree" --jobs 2
  interleaved "${TREE_RUNS:-5}" tree/jobs1 tree/jobs2
  for id in tree/jobs1 tree/jobs2; do
    sed -i "s|^\($id\t[^\t]*\t[^\t]*\t[^\t]*\t\)1\$|\1${TREE_RUNS:-5}|" "$CASES"
  done
else
  echo "sheetdrain-cli has no --jobs option" > "$W/res/tree.na"
  sd tree/sheetdrain tree "one process (no --jobs)" 3 "$WB/tree"
fi

machine after >> "$W/res/machine.txt"
"$PY" "$root/bench/side_by_side_table.py" "$W" | tee "$W/res/table.md"
rm -rf "$W/trash" # the outputs of earlier runs, now that nothing is timed
