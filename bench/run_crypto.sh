#!/bin/bash
# Times opening an Agile-encrypted workbook (AES-256, SHA-512, 100,000 spins:
# what the desktop application writes) against the same workbook unencrypted,
# and compares the crypto libraries on the work decryption costs.
#   bench/run_crypto.sh [PLAIN.xlsx] [BUILD_DIR]
# PLAIN.xlsx defaults to big.xlsx of ../shared/bench/make_workbooks.py in
# /work/peers/wb. BUILD_DIR is a Release build of this tree (configured here
# if missing). The encrypted copies are written to a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
plain=${1:-/work/peers/wb/big.xlsx}
build=${2:-$src/../build-bench}
runs=${RUNS:-5}
work=$(mktemp -d /tmp/sheetdrain-crypto-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHEETDRAIN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target sd_engine sdconv -j2 >/dev/null
g++ -O2 -std=c++17 -I"$src/engine" -fPIC $(pkg-config --cflags Qt5Core) "$here/cryptobench.cpp" \
  "$build/engine/libsd_engine.a" "$build/engine/crypto/libsd_crypto.a" \
  $(pkg-config --libs Qt5Core nettle) -lz -ldeflate -lpthread -o "$work/cryptobench"

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
row() { local label=$1; shift; printf '%-52s %s\n' "$label" "$(measure "$@")"; }

"$work/cryptobench" make "$plain" "$work/default.xlsx" 100000 >/dev/null
"$work/cryptobench" make "$plain" "$work/password.xlsx" 100000 secret >/dev/null
name=$(basename "$plain")
echo "SheetDrain encrypted-workbook benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, median of $runs"
printf '%-52s %10s %10s\n' "case (sdconv: open, load, write every sheet)" "wall" "peak"
row "$name, unencrypted" "$build/engine/tools/sdconv" --quiet "$plain" "$work/out"
row "$name, Agile, default password" "$build/engine/tools/sdconv" --quiet "$work/default.xlsx" "$work/out"
row "$name, Agile, password given (default tried first)" \
  "$build/engine/tools/sdconv" --quiet --password secret "$work/password.xlsx" "$work/out"
"$work/cryptobench" derive 100000
"$work/cryptobench" decrypt "$work/default.xlsx"

# The library comparison that chose nettle (needs all three -dev packages).
if pkg-config --exists nettle libgcrypt libcrypto; then
  g++ -O2 -std=c++17 "$here/cryptolibs.cpp" $(pkg-config --cflags --libs nettle libgcrypt libcrypto) \
    -o "$work/cryptolibs" && "$work/cryptolibs"
fi
