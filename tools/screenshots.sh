#!/usr/bin/env bash
# Runs a real batch in the SheetDrain window on a virtual X display and takes
# screenshots of the screen before the start button is pressed and after the
# batch has ended (docs/batch-before.png, docs/batch-after.png).
#
# Usage: tools/screenshots.sh [BUILD_DIR]   (default: build)
# Needs a built program, the shared workbook corpus beside the repository
# (../shared/corpus) and: scripts/install-deps.sh --screenshots
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
corpus="$root/../shared/corpus"
[[ -x "$build/app/SheetDrain" ]] || { echo "no program at $build/app/SheetDrain" >&2; exit 2; }
[[ -d "$corpus" ]] || { echo "no workbook corpus at $corpus" >&2; exit 2; }

# A fixed, readable folder name, since it shows in the screenshots.
work="${TMPDIR:-/tmp}/SheetDrain示例"
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/报表/2019" "$work/报表/2020/季度" "$work/CSV输出"
cp "$build/app/SheetDrain" "$work/bin/"
cp "$corpus/xlsx2csv/"{sheets,datetime,escape,percentage,float2}.xlsx "$work/报表/2019/"
cp "$corpus/xlsx2csv/"{sheets_order,empty_row,namespace}.xlsx "$work/报表/2020/"
cp "$corpus/exceldatareader/Test_BigFormatted.xlsx" "$work/报表/2020/季度/"
printf 'SourcePath=%s/\r\nSavePath=%s/\r\nOnlyFirstSheet=n\r\nSaveAsUTF8=n\r\n' \
  "$work/报表" "$work/CSV输出" > "$work/bin/SheetDrain.ktz"

cat > "$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
set -euo pipefail
work="$1"; docs="$2"
openbox >/dev/null 2>&1 &
sleep 1
"$work/bin/SheetDrain" 2>/dev/null &
pid=$!
for _ in $(seq 50); do
  wid="$(xdotool search --name '^SheetDrain4\.1$' 2>/dev/null | head -1 || true)"
  [[ -n "$wid" ]] && break
  sleep 0.2
done
[[ -n "$wid" ]] || { echo "no window titled SheetDrain4.1" >&2; exit 1; }
echo "window: $(xdotool getwindowname "$wid"), $(xdotool getwindowgeometry "$wid" | tail -1 | tr -s ' ')"
sleep 1
import -window root "$docs/batch-before.png"
# The start button sits at the right end of the second row of the form.
geometry="$(xdotool getwindowgeometry --shell "$wid")"
eval "$geometry"
xdotool mousemove --window "$wid" $((WIDTH - 45)) 135 click 1
sleep 4
import -window root "$docs/batch-after.png"
kill -TERM "$pid"
wait "$pid" && echo "SheetDrain ended with exit code 0"
SESSION
chmod +x "$work/session.sh"

xvfb-run -a -s "-screen 0 1280x720x24" "$work/session.sh" "$work" "$root/docs"
echo "CSV files written:"
(cd "$work/CSV输出" && find . -type f | sort)
