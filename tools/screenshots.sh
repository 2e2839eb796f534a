#!/usr/bin/env bash
# Runs a real batch in the SheetDrain window on virtual X displays and takes
# screenshots of the window:
#   docs/batch-before.png, docs/batch-after.png   96 dpi, Chinese, before the
#                                                 start and after the batch
#   docs/batch-192dpi-zh.png, docs/batch-192dpi-en.png
#                                                 192 dpi after the batch, in
#                                                 Chinese and in English
# Xvfb's -dpi is what Qt reads on X11 when no desktop sets Xft.dpi; with Qt's
# high-DPI scaling on, 192 dpi doubles the whole window.
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
mkdir -p "$work/bin" "$work/报表/2019" "$work/报表/2020/季度"
# The copy runs under another name, so that its instance control can neither
# count nor end a SheetDrain the user is running.
cp "$build/app/SheetDrain" "$work/bin/sheetdrain-shot"
cp "$corpus/xlsx2csv/"{sheets,datetime,escape,percentage,float2}.xlsx "$work/报表/2019/"
cp "$corpus/xlsx2csv/"{sheets_order,empty_row,namespace}.xlsx "$work/报表/2020/"
cp "$corpus/exceldatareader/Test_BigFormatted.xlsx" "$work/报表/2020/季度/"

cat > "$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
# session.sh WORK SCALE BEFORE.png AFTER.png   (BEFORE may be "-")
set -euo pipefail
work="$1"; scale="$2"; before="$3"; after="$4"
rm -rf "$work/CSV输出"; mkdir -p "$work/CSV输出"
printf 'SourcePath=%s/\r\nSavePath=%s/\r\nOnlyFirstSheet=n\r\nSaveAsUTF8=n\r\n' \
  "$work/报表" "$work/CSV输出" > "$work/bin/SheetDrain.ktz"
openbox >/dev/null 2>&1 &
sleep 1
"$work/bin/sheetdrain-shot" 2>/dev/null &
pid=$!
for _ in $(seq 50); do
  wid="$(xdotool search --name '^SheetDrain4\.1$' 2>/dev/null | head -1 || true)"
  [[ -n "$wid" ]] && break
  sleep 0.2
done
[[ -n "$wid" ]] || { echo "no window titled SheetDrain4.1" >&2; exit 1; }
echo "window: $(xdotool getwindowname "$wid"), $(xdotool getwindowgeometry "$wid" | tail -1 | tr -s ' ')"
sleep 1
[[ "$before" == - ]] || import -frame -window "$wid" "$before"
# The start button sits at the right end of the second row of the form.
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove --window "$wid" $((WIDTH - 45 * scale)) $((135 * scale)) click 1
sleep 4
import -frame -window "$wid" "$after"
kill -TERM "$pid"
wait "$pid" && echo "SheetDrain ended with exit code 0"
SESSION
chmod +x "$work/session.sh"

docs="$root/docs"
shoot() { # LANGUAGE DPI SCALE SCREEN BEFORE AFTER
  LANGUAGE="$1" LANG=C.UTF-8 xvfb-run -a -s "-screen 0 $4x24 -dpi $2" \
    "$work/session.sh" "$work" "$3" "$5" "$6"
}
shoot zh_CN 96 1 1280x720 "$docs/batch-before.png" "$docs/batch-after.png"
shoot zh_CN 192 2 2560x1440 - "$docs/batch-192dpi-zh.png"
shoot en 192 2 2560x1440 - "$docs/batch-192dpi-en.png"
echo "CSV files written:"
(cd "$work/CSV输出" && find . -type f | sort)
