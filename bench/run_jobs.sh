#!/usr/bin/env bash
# sheetdrain-cli over many small workbooks with --jobs 1 and --jobs 2: wall
# time, CPU time (user + system) and peak resident memory of each run, read
# from GNU time (/usr/bin/time, Debian package "time").
#
# Usage: bench/run_jobs.sh [--memory] [--runs N] [WORKDIR]
#   (default)  2,000 workbooks in nested folders, every third an .xls
#              (needs python3-xlwt), first sheet only
#   --memory   200, 2,000 and 20,000 small .xlsx workbooks: does peak memory
#              grow with the number of workbooks?
#   --runs N   runs of each case, the fastest wall time is shown (default 3)
#   WORKDIR    where the workbooks and CSV files go (default
#              /tmp/sheetdrain-bench-jobs); the workbooks are made once and
#              kept there for later runs
# The load average of the machine is printed before and after: other work on
# it slows the two-job runs more than the one-job runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cli="${SHEETDRAIN_CLI:-$root/build/app/sheetdrain-cli}"
python=/usr/bin/python3 # the system one, which has python3-xlwt
memory=0
runs=3
work=/tmp/sheetdrain-bench-jobs
while [[ $# -gt 0 ]]; do
  case "$1" in
    --memory) memory=1 ;;
    --runs) runs=$2; shift ;;
    *) work=$1 ;;
  esac
  shift
done
[[ -x "$cli" ]] || { echo "build sheetdrain-cli first ($cli)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "needs GNU time (apt-get install time)" >&2; exit 1; }

# tree NAME COUNT [GENERATOR OPTION...]: makes the tree once.
tree() {
  local dir="$work/$1" count=$2
  shift 2
  if [[ ! -f "$dir.done" ]]; then
    rm -rf "$dir"
    "$python" "$root/bench/make_many_workbooks.py" "$dir" "$count" "$@"
    touch "$dir.done"
  fi
}

# measure TREE JOBS: the fastest of $runs runs, each into a new folder;
# prints a row and leaves the wall time in $last_wall. The folders are
# removed only at the end: ext4 is slow to make files just after many were
# deleted, which would weigh on whichever run came next.
last_wall=""
serial=0
measure() {
  local src="$work/$1" jobs=$2 best="" line out
  for ((i = 0; i < runs; i++)); do
    out="$work/out/$((serial++))"
    mkdir -p "$out"
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" \
      "$cli" --quiet --jobs "$jobs" "$src" "$out" >/dev/null
    line=$(awk '{ printf "%.2f %.2f %d", $1, $2 + $3, $4 }' "$work/time.txt")
    if [[ -z "$best" ]] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best=$line
    fi
  done
  read -r wall cpu rss <<<"$best"
  printf '%-10s %6s %5d %9.2f %9.2f %9.1f\n' "$1" "--jobs" "$jobs" "$wall" "$cpu" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
  last_wall=$wall
}

# What two processes gain over one on this machine right now: a pure CPU
# task (checksums of a cached file) run twice one after the other, then twice
# side by side. Near 2x on an idle two-core machine; near 1x when other work
# already takes the second core, and then no batch can gain from two jobs.
two_core_check() {
  local blob="$work/blob"
  [[ -f "$blob" ]] || head -c 100000000 /dev/zero >"$blob"
  sha256sum "$blob" >/dev/null
  local t0 t1 t2
  t0=$(date +%s.%N)
  sha256sum "$blob" "$blob" >/dev/null
  t1=$(date +%s.%N)
  sha256sum "$blob" >/dev/null & sha256sum "$blob" >/dev/null
  wait
  t2=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" -v c="$t2" 'BEGIN { printf "%.2fx", (b - a) / (c - b) }'
}

mkdir -p "$work"
rm -rf "$work/out"
trap 'rm -rf "$work/out"' EXIT
echo "load before: $(uptime | sed 's/.*load average: //')   cores: $(nproc)" \
  "  two processes vs one on a CPU task: $(two_core_check)"
printf '%-10s %12s %9s %9s %9s\n' tree jobs "wall s" "cpu s" "peak MB"
if [[ $memory == 1 ]]; then
  for n in 200 2000 20000; do
    tree "x$n" "$n"
    for jobs in 1 2; do
      measure "x$n" "$jobs"
    done
  done
else
  tree mixed2000 2000 --xls-every 3
  measure mixed2000 1
  one=$last_wall
  measure mixed2000 2
  awk -v a="$one" -v b="$last_wall" 'BEGIN { printf "speed-up with 2 jobs: %.2fx\n", a / b }'
fi
echo "load after: $(uptime | sed 's/.*load average: //')"
