#!/bin/bash
# Times opening an Agile-encrypted workbook (AES-256, SHA-512, 100,000 spins:
# what the desktop application writes) against the same workbook unencrypted,
# and compares the crypto libraries on the work decryption costs.
#   bench/run_crypto.sh PLAIN.xlsx [BUILD_DIR]
# PLAIN.xlsx is any workbook, e.g. big.xlsx of
# ../shared/bench/make_workbooks.py. BUILD_DIR is a Release build of this tree
# (configured here if missing); the script builds sdconv, cryptobench and,
# where nettle, libgcrypt and libcrypto are all installed, cryptolibs in it.
# The encrypted copies go to a temporary folder that is removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
plain=${1:?usage: $0 PLAIN.xlsx [BUILD_DIR]}
build=${2:-$src/build-bench}
runs=${RUNS:-5}
work=$(mktemp -d /tmp/sheetdrain-crypto-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sdconv cryptobench -j2 >/dev/null
cmake --build "$build" --target cryptolibs -j2 >/dev/null 2>&1 || true

measure() { # median wall seconds and peak RSS (MB) of RUNS runs
  local times=() peak=0
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    /usr/bin/time -f '%e %M' -o "$work/t" "$@" >/dev/null 2>&1 || echo "failed: $*" >&2
    read -r t m < "$work/t"
    times+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
  done
  printf '%8s s %7d MB' "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")" \
    $((peak / 1024))
}
row() { local label=$1; shift; printf '%-56s %s\n' "$label" "$(measure "$@")"; }

bench="$build/bench"
"$bench/cryptobench" make "$plain" "$work/default.xlsx" 100000 >/dev/null
"$bench/cryptobench" make "$plain" "$work/password.xlsx" 100000 secret >/dev/null
sdconv="$build/tools/sdconv"
[ -x "$sdconv" ] || sdconv=$(find "$build" -name sdconv -type f -perm -u+x | head -1)
name=$(basename "$plain")
echo "SheetDrain encrypted-workbook benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs"
printf '%-56s %10s %10s\n' "case (sdconv: open, load, write every sheet)" "wall" "peak"
row "$name, unencrypted" "$sdconv" --quiet "$plain" "$work/out"
row "$name, Agile, default password" "$sdconv" --quiet "$work/default.xlsx" "$work/out"
row "$name, Agile, --password (default one tried first)" \
  "$sdconv" --quiet --password secret "$work/password.xlsx" "$work/out"
"$bench/cryptobench" derive 100000
"$bench/cryptobench" decrypt "$work/default.xlsx"
[ -x "$bench/cryptolibs" ] && "$bench/cryptolibs"
exit 0
