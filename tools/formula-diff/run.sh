#!/bin/bash
# Differential test of the formula engine against LibreOffice: generates the
# batteries (gen.py), converts them with sheetdrain-cli and with soffice
# --headless --convert-to csv, and compares the displayed results
# (compare.py), explaining the differences listed in known-differences.tsv.
#   tools/formula-diff/run.sh BUILD_DIR [WORK_DIR]
# Exits 0 (with a message) when LibreOffice is not installed; 1 when a
# difference is neither mended nor explained.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [WORK_DIR]}
work=${2:-$(mktemp -d)}
cli="$build/app/sheetdrain-cli"
if ! command -v soffice >/dev/null; then
  echo "formula-diff: soffice not found, skipped"
  exit 0
fi
[ -x "$cli" ] || { echo "formula-diff: no $cli" >&2; exit 2; }
rm -rf "$work/in" "$work/sd" "$work/lo"
mkdir -p "$work/in" "$work/sd" "$work/lo" "$work/profile/user"
/usr/bin/python3 "$here/gen.py" "$work/in"
"$cli" --quiet --utf8 --jobs 1 "$work/in" "$work/sd"
# A private profile that recalculates every workbook on load (LibreOffice
# otherwise shows the cached results, and these files have none).
cat >"$work/profile/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
XCU
# Comma, quote, UTF-8, from line 1, default columns, English (US), quoted
# text, detect numbers, save cell contents as shown.
soffice -env:UserInstallation="file://$work/profile" --headless \
  --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,true' \
  --outdir "$work/lo" "$work"/in/*.xlsx >"$work/soffice.log" 2>&1
python3 "$here/compare.py" "$work/sd" "$work/lo" "$here/known-differences.tsv" "$work/report.md"
