#!/usr/bin/env bash
# Converts every workbook of the shared corpus with sheetdrain-cli, one run
# per workbook (every worksheet, then again first sheet only), and writes a
# manifest of what each run did: exit status, standard output and error, and
# the name and SHA-256 of every file it wrote. Two manifests of two builds
# compare with diff; identical manifests mean byte-identical conversions.
#
#   tools/corpus-snapshot.sh CLI MANIFEST [CORPUS]
#
# CLI is the sheetdrain-cli to run, MANIFEST the file to write, CORPUS the
# corpus folder (default: ../shared/corpus beside the checkout). Runs under
# LANGUAGE=zh_CN and LC_ALL=C.UTF-8 with --jobs 1, so the texts do not depend
# on the caller's locale, and with SOURCE_DATE_EPOCH fixed, so that NOW(),
# TODAY() and RAND() give the same results every run; extra options go in
# SNAPSHOT_OPTS.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cli="$(realpath "$1")"
manifest="$2"
corpus="$(realpath "${3:-$root/../shared/corpus}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export LANGUAGE=zh_CN LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1796083200
: >"$manifest"
cd "$corpus"
find . -type f \( -iname '*.xls' -o -iname '*.xlsx' -o -iname '*.xlsm' \) | LC_ALL=C sort |
  while IFS= read -r book; do
    for mode in --all-sheets --first; do
      out="$work/out"
      rm -rf "$out" && mkdir -p "$out"
      opts=(--jobs 1 ${SNAPSHOT_OPTS:-})
      [[ $mode == --all-sheets ]] && opts+=(--all-sheets)
      status=0
      timeout 120 "$cli" "${opts[@]}" "$book" "$out" >"$work/stdout" 2>"$work/stderr" || status=$?
      {
        printf '== %s %s exit %s\n' "$book" "$mode" "$status"
        sed -e 's/^/stdout: /' "$work/stdout"
        sed -e 's/^/stderr: /' "$work/stderr"
        (cd "$out" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
      } >>"$manifest"
    done
  done
echo "corpus-snapshot: $(grep -c '^== ' "$manifest") runs written to $manifest"
