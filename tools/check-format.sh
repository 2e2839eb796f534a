#!/usr/bin/env bash
# Fails when a tracked C++ source (fuzz seeds aside) differs from what
# clang-format 14 makes of it with the checked-in .clang-format; lists the
# differences. Fix with: clang-format -i FILE.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
fmt=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z "$fmt" ]]; then
  echo "check-format: clang-format 14 is not installed (scripts/install-deps.sh --test)" >&2
  exit 2
fi
if ! "$fmt" --version | grep -q 'version 14\.'; then
  echo "check-format: $fmt is not clang-format 14: $("$fmt" --version)" >&2
  exit 2
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^fuzz/seeds/')
"$fmt" --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files formatted"
