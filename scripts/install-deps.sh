#!/usr/bin/env bash
# Installs what building, running and testing SheetDrain needs on Debian 12.
# Runs apt only for packages that are missing; uses sudo when not root.
set -euo pipefail

# Usage: install-deps.sh [--test] [--screenshots] [--package] [--bench]
#   (none)          build and run: compiler, CMake, Qt 5 widgets and its
#                   translation tools and translations, zlib, libdeflate,
#                   ISA-L (the streaming inflater), nettle, fonts with
#                   Chinese glyphs
#   --test          also what the test suite and CI need (clang for the fuzz
#                   targets, clang-format 14 for the formatting check, the
#                   locale sources from which scripts/test.sh makes zh_CN.GBK)
#   --package       also what building and checking the Debian package
#                   needs (scripts/package.sh): dpkg-dev, file, lintian
#   --screenshots   also a virtual X server, a window manager, xdotool and
#                   ImageMagick's import (tools/screenshots.sh)
#   --bench         also what the benchmarks need: XlsxWriter and xlwt for
#                   the generated workbooks, hyperfine, GNU time, unzip,
#                   and the peer converters of bench/side_by_side.sh
#                   (LibreOffice, gnumeric's ssconvert, xlsx2csv, catdoc's
#                   xls2csv, xlrd, Node.js and npm for SheetJS; bench/run_jobs.sh)
packages=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools qt5-gtk-platformtheme
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
  zlib1g-dev libdeflate-dev libisal-dev nettle-dev
  fonts-wqy-microhei
)
for arg in "$@"; do
  case "$arg" in
    --test) packages+=(python3 clang clang-format libclang-rt-14-dev locales) ;;
    --screenshots) packages+=(xvfb xauth x11-xserver-utils imagemagick xdotool openbox) ;;
    --package) packages+=(dpkg-dev file lintian) ;;
    --bench)
      packages+=(python3-xlsxwriter python3-xlwt python3-xlrd hyperfine time unzip bc
                 libreoffice-calc-nogui gnumeric xlsx2csv catdoc nodejs)
      # Node.js from elsewhere (NodeSource) brings its own npm, which
      # Debian's npm package would conflict with.
      command -v npm >/dev/null || packages+=(npm) ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
