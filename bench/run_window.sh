#!/usr/bin/env bash
# The window's batch against sheetdrain-cli on a tree of small workbooks:
# wall time from the press of the start button until the button comes back
# (windowbench, offscreen), and of `sheetdrain-cli --jobs 1` and `--jobs 2`,
# run in turn (window, --jobs 1, --jobs 2, window, ...) so that the machine's
# changing load weighs on each alike. Prints the median of each, the window's
# time as a share of --jobs 1, and whether the window wrote the same files
# and the same summary as the command line.
#
# Usage: bench/run_window.sh [--runs N] [--count N] [--before CLI] [WORKDIR]
#   --runs N      runs of each (default 7)
#   --count N     workbooks in the tree (default 1,900; every third an .xls,
#                 which needs python3-xlwt)
#   --before CLI  also time this sheetdrain-cli (an older build) with
#                 --jobs 1 and --jobs 2, in the same turns
#   WORKDIR       default /tmp/sheetdrain-bench-window; the tree is made once
#                 and kept there
# Built programs are taken from BUILD_DIR (default build/).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cli="$build/app/sheetdrain-cli"
window="$build/bench/windowbench"
python=/usr/bin/python3
runs=7
count=1900
before=""
work=/tmp/sheetdrain-bench-window
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --count) count=$2; shift ;;
    --before) before=$2; shift ;;
    *) work=$1 ;;
  esac
  shift
done
for program in "$cli" "$window" ${before:+"$before"}; do
  [[ -x "$program" ]] || { echo "missing $program (build it first)" >&2; exit 1; }
done

tree="$work/tree$count"
if [[ ! -f "$tree.done" ]]; then
  rm -rf "$tree"
  "$python" "$root/bench/make_many_workbooks.py" "$tree" "$count" --xls-every 3
  touch "$tree.done"
fi
rm -rf "$work/out"
mkdir -p "$work/out"
trap 'rm -rf "$work/out"' EXIT
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 LANGUAGE=zh_CN

serial=0
# timed NAME COMMAND...: runs COMMAND into a new output folder ($out) and
# appends its wall time to $work/NAME.times.
timed() {
  local name=$1
  shift
  out="$work/out/$((serial++))"
  mkdir -p "$out"
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/$name.stdout" 2>/dev/null
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/$name.times"
}

rm -f "$work"/*.times
echo "load before: $(uptime | sed 's/.*load average: //')   cores: $(nproc)   tree: $count workbooks"
for ((i = 0; i < runs; i++)); do
  out="$work/out/$((serial++))"
  mkdir -p "$out"
  "$window" "$tree" "$out" >"$work/window.stdout" 2>/dev/null
  head -1 "$work/window.stdout" >>"$work/window.times"
  window_out=$out
  timed cli1 "$cli" --jobs 1 "$tree" "$out"
  cli_out=$out
  timed cli2 "$cli" --jobs 2 "$tree" "$out"
  if [[ -n "$before" ]]; then
    timed before1 "$before" --jobs 1 "$tree" "$out"
    timed before2 "$before" --jobs 2 "$tree" "$out"
  fi
  # The folders go at once: a full disk of old runs slows the next.
  if [[ $i -eq 0 ]]; then
    if diff -r "$window_out" "$cli_out" >/dev/null; then same_files=yes; else same_files=NO; fi
    if [[ "$(sed -n 2p "$work/window.stdout")" == "$(cat "$work/cli1.stdout")" ]]; then
      same_text=yes
    else
      same_text="NO ($(sed -n 2p "$work/window.stdout") / $(cat "$work/cli1.stdout"))"
    fi
  fi
  rm -rf "$work/out"/*
done
echo "load after: $(uptime | sed 's/.*load average: //')"

median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
printf '%-26s %9s   %s\n' program "median s" "all runs"
for name in window cli1 cli2 ${before:+before1 before2}; do
  case $name in
    window) label="window (start to button)" ;;
    cli1) label="sheetdrain-cli --jobs 1" ;;
    cli2) label="sheetdrain-cli --jobs 2" ;;
    before1) label="before: --jobs 1" ;;
    before2) label="before: --jobs 2" ;;
  esac
  printf '%-26s %9.3f   %s\n' "$label" "$(median "$work/$name.times")" "$(tr '\n' ' ' <"$work/$name.times")"
done
awk -v w="$(median "$work/window.times")" -v c="$(median "$work/cli1.times")" \
  'BEGIN { printf "window / cli --jobs 1: %.2f (target at most 0.70)\n", w / c }'
echo "same files as sheetdrain-cli: $same_files; same summary: $same_text"
