#!/bin/bash
# Converts each crafted workbook of bench/make_bounds_inputs.py (and walks
# the deep and wide folder trees) with sheetdrain-cli, a good workbook after
# it, and prints one line per case: time, peak memory, peak output, whether
# the good workbook converted, and the first message.
#   bench/bounds.sh [CLI...]             default: BUILD_DIR/app/sheetdrain-cli
# INPUTS (default /tmp/sheetdrain-bounds-inputs) is filled on first use
# (about 140 MB on disk; the 2 GB stream is sparse). Each run gets LIMIT
# seconds (default 60), then SIGTERM; "stop after" is how long the program
# then took to end. Memory is capped at 4 GB of address space (prlimit) so
# that an unbounded build cannot take the machine. Prints figures only.
# CASES lists the cases to run (default: all).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
inputs=${INPUTS:-/tmp/sheetdrain-bounds-inputs}
limit=${LIMIT:-60}
clis=("$@")
[ ${#clis[@]} -gt 0 ] || clis=("${BUILD_DIR:-$src/build}/app/sheetdrain-cli")
good=$src/../shared/corpus/libxlsxwriter/data01.xlsx
cases=${CASES:-"at_format.xlsx at_format_rows.xlsx at_format5000.xlsx output_bound.xlsx styled_blanks.xlsx
 merges.xlsx inline_str.xlsx big_cell.xlsx corners.xlsx merge_all.xlsx worst.xlsx sst_empty.xls
 cfb_2gb.xls mulblank.xls xls_corners.xls deep1000 deep4000 wide wide:stop"}

mkdir -p "$inputs"
for c in $cases; do
  name=${c%%:*}
  [ -e "$inputs/$name" ] && continue
  # The generator holds at most a few megabytes; the cap guards the machine.
  (ulimit -v 4000000; python3 "$here/make_bounds_inputs.py" "$inputs" "$name" >/dev/null)
done

# run CLI CASE: one batch of the case and the good workbook
run() {
  local cli=$1 case=$2 name=${2%%:*} stopAt=$limit
  [ "$case" != "$name" ] && stopAt=1 # "CASE:stop": a stop request after a second
  local work
  work=$(mktemp -d /tmp/sheetdrain-bounds.XXXXXX)
  mkdir -p "$work/src" "$work/out"
  if [ -d "$inputs/$name" ]; then
    ln -s "$inputs/$name" "$work/src/a_tree"
  else
    cp --sparse=always "$inputs/$name" "$work/src/a_$name"
  fi
  [ -f "$good" ] && cp "$good" "$work/src/z_next.xlsx"
  local start end termed="" hwm=0 out=0 h s
  start=$(date +%s.%N)
  # prlimit runs time, which runs the program (its only child) and
  # reports its peak resident memory when it ends.
  prlimit --as=4294967296 /usr/bin/time -f %M -o "$work/peak" \
    "$cli" "$work/src" "$work/out" --all-sheets >"$work/stdout" 2>"$work/stderr" &
  local timer=$! pid=""
  while kill -0 "$timer" 2>/dev/null; do
    [ -n "$pid" ] || pid=$(pgrep -P "$timer" | head -1)
    h=$(awk '/VmHWM/{print $2}' "/proc/${pid:-0}/status" 2>/dev/null)
    [ -n "$h" ] && [ "$h" -gt "$hwm" ] && hwm=$h
    s=$(du -sb --apparent-size "$work/out" 2>/dev/null | cut -f1)
    [ -n "$s" ] && [ "$s" -gt "$out" ] && out=$s
    now=$(date +%s.%N)
    if [ -n "$pid" ] && [ -z "$termed" ] && (($(echo "$now - $start > $stopAt" | bc))); then
      kill -TERM "$pid"
      termed=$now
    fi
    if [ -n "$termed" ] && (($(echo "$now - $termed > 10" | bc))); then kill -KILL "$pid"; fi
    sleep 0.05
  done
  wait "$timer"
  end=$(date +%s.%N)
  h=$(tail -1 "$work/peak" 2>/dev/null)
  [[ "$h" =~ ^[0-9]+$ ]] && [ "$h" -gt "$hwm" ] && hwm=$h
  s=$(du -sb --apparent-size "$work/out" | cut -f1)
  [ "$s" -gt "$out" ] && out=$s
  local stop="-"
  [ -n "$termed" ] && stop=$(printf '%.2f s' "$(echo "$end - $termed" | bc)")
  local next=no
  ls "$work/out" | grep -q '^z_next' && next=yes
  local message
  message=$(grep -v '^\[' "$work/stderr" | head -1 | sed "s|$work/[a-z]*/||g" | cut -c1-150)
  printf '%-22s %8.2f s %7d MB %9.1f MB %5s %12s  %s\n' "$case" "$(echo "$end - $start" | bc)" \
    $((hwm / 1024)) "$(echo "scale=1; $out / 1048576" | bc)" "$next" "$stop" "${message:--}"
  rm -rf "$work"
}

for cli in "${clis[@]}"; do
  echo "SheetDrain bounds, $(date -u '+%Y-%m-%d %H:%M UTC'), $cli"
  printf '%-22s %10s %10s %12s %5s %12s  %s\n' case time peak output next "stop after" message
  for c in $cases; do
    run "$cli" "$c"
  done
done
