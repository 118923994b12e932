#!/usr/bin/env bash
# The program's windows under Wine, read back and photographed:
#   tests/smoke/gui-windows.sh <x86_64 build folder>
# 1. QELDuzu.exe with a drive E: that Wine reports as removable: the controls' captions and
#    rectangles against the designed layout at 96 DPI (after the window's sizing rule), the
#    Vietnamese captions, E:\ in the drive chooser; a click on the language link, then the English
#    captions. 2. The AutoPartition window in each language (repartition-show.exe feeds it a fixed
#    list of removable disks). Screenshots and read-backs go to <build>/smoke-windows/.
# Runs in a Wine prefix of its own (<build>/wineprefix-gui): a removable E: and a font substitute
# for Vietnamese in titles and message dialogs, which the other Wine tests do not want.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: gui-windows.sh <x86_64 build folder>}")"

if [[ "${QEL_GUI_WINDOWS_SESSION:-}" != 1 ]]; then
  export QEL_GUI_WINDOWS_SESSION=1
  exec "$repo/scripts/wine-session.sh" "$build/wineprefix-gui" "$0" "$build"
fi
source "$repo/cmake/wine-env.sh"

for program in QELDuzu.exe inspect.exe gui-probe.exe repartition-show.exe; do
  [[ -f "$build/$program" ]] || { echo "gui-windows: $build/$program is not built" >&2; exit 1; }
done
out="$build/smoke-windows"  # beside gui-smoke.sh's smoke/, which that test empties
rm -rf "$out"
mkdir -p "$out/stick"
cd "$out"

failures=0
fail() {
  echo "gui-windows: FAILED: $*" >&2
  failures=$((failures + 1))
}

# ---- the prefix: a removable E: and a title/dialog font with Vietnamese letters ----

# Wine's own Tahoma (titles, message dialogs) has no Vietnamese letters; DejaVu Sans has them.
# The prefix has no Arial, the controls' font: Liberation Sans has its metrics (package
# fonts-liberation2), so that the designed captions fit their designed rectangles.
arial=()
if fc-list | grep -q 'Liberation Sans'; then
  arial=('"Arial"="Liberation Sans"')
else
  echo "gui-windows: no Liberation Sans (fonts-liberation2): Arial falls back to a wider font" >&2
fi
printf 'BOOTSTICK' >"$out/stick/.windows-label"
ln -sfn "$out/stick" "$WINEPREFIX/dosdevices/e:"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
  '"Tahoma"="DejaVu Sans"' '"MS Shell Dlg"="DejaVu Sans"' '"MS Shell Dlg 2"="DejaVu Sans"' \
  "${arial[@]}" \
  >"$out/prefix.reg"
wine_import_registry_and_restart "$out/prefix.reg"

# ---- helpers ----

running_pid=""
start() {  # <program> [args...]: starts a Windows program of the build in the background
  "$WINELOADER" "$build/$1" "${@:2}" >>"$out/programs.log" 2>&1 &
  running_pid=$!
}
stop() {
  [[ -n "$running_pid" ]] || return 0
  kill "$running_pid" 2>/dev/null || true
  wait "$running_pid" 2>/dev/null || true
  running_pid=""
}
trap stop EXIT

# <window title> <output file>: its controls as text, UTF-8, LF line ends; the texts of its
# drop-down lists and edit boxes (which the captions do not carry) in <output>-values.txt.
inspect() {
  local status=0
  "$WINELOADER" "$build/inspect.exe" "$1" 60 2>/dev/null | tr -d '\r' >"$2" || status=$?
  ((status == 0)) || fail "the window \"$1\" did not appear (see $2)"
  "$WINELOADER" "$build/gui-probe.exe" --values "$1" 2>/dev/null | tr -d '\r' >"${2%.txt}-values.txt" ||
    fail "the texts of \"$1\" could not be read"
}
shot() {  # <name>: a screenshot of the whole screen
  import -window root "$out/$1-screen.png"
  local colours
  colours="$(convert "$out/$1-screen.png" -format '%k' info:)"
  ((colours > 8)) || fail "$1: the screenshot shows no window (only $colours colours)"
}
expect_line() {  # <file> <exact line>
  grep -Fxq -- "$2" "$1" || fail "$(basename "$1"): no line  $2"
}
expect_match() {  # <file> <extended regex> <what>
  grep -Eq -- "$2" "$1" || fail "$(basename "$1"): $3"
}

# ---- the main window ----

title="QEL Ruru Zudererod"
start QELDuzu.exe
inspect "$title" "$out/main-vi.txt"
shot main-vi
# Designed rectangles at 96 DPI after the sizing rule; the link and the version label fit their
# captions, keeping their right edges at 241.
main_layout() {  # <file> <Label1> <link> <Button2> <Button3> <CheckBox1> <CheckBox2> <CheckBox3>
  local file="$1"
  expect_match "$file" "^QELDuzuWindow \"$title\" at [0-9]+,[0-9]+ client 250x191$" \
    "the window's client area is 250 x 191"
  expect_line "$file" "  Static \"$2\" at 8,10 client 179x16"
  expect_match "$file" "^  Static \"$3\" at [0-9]+,10 client [0-9]+x16$" "the link at top 10"
  expect_line "$file" "  Button \"OK\" at 192,32 client 49x25"
  expect_line "$file" "  Button \"$8\" at 8,63 client 233x17"
  expect_line "$file" "  Button \"$6\" at 8,86 client 241x17"
  expect_line "$file" "  Button \"$7\" at 8,108 client 233x20"
  expect_line "$file" "  Button \"$4\" at 8,134 client 113x25"
  expect_line "$file" "  Button \"$5\" at 127,134 client 115x25"
  expect_match "$file" '^  Static "v0\.9\.5\.16" at [0-9]+,167 client [0-9]+x16$' \
    "the version label at top 167"
  expect_match "$file" '^  ComboBox "" at 8,32 client 177x[0-9]+$' "the drive chooser at 8,32, 177 wide"
  expect_match "${file%.txt}-values.txt" '^ComboBox "E:\\ - [0-9.,]+ [KMGT]?B - NTFS - BOOTSTICK"$' \
    "the drive chooser shows the removable E:"
  local label left width
  for label in "$3" 'v0\.9\.5\.16'; do
    read -r left width < <(sed -nE "s/^  Static \"$label\" at ([0-9]+),[0-9]+ client ([0-9]+)x.*/\1 \2/p" "$file")
    ((${left:-0} + ${width:-0} == 241)) || fail "$(basename "$file"): \"$label\" ends at 241"
  done
  (($(grep -c ' disabled$\| hidden$' "$file" || true) == 0)) || fail "$(basename "$file"): every control shown and enabled"
}
main_layout "$out/main-vi.txt" "Chọn ổ đĩa để giải nén tập tin:" EN "Lấy tệp 7-Zip" "Tự động phân vùng" \
  "Định dạng sang FAT32" "Cài đặt Bootloader" "Sử dụng Ổ đĩa cứng"

# The language link, clicked with real input at its centre.
if read -r x y < <("$WINELOADER" "$build/gui-probe.exe" "$title" EN 10 | tr -d '\r'); then
  window="$(xdotool search --name "^$title\$" | head -n 1)"
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool mousemove --sync "$x" "$y" click 1
  "$WINELOADER" "$build/gui-probe.exe" "$title" VI 10 >/dev/null || fail "the link did not switch to \"VI\""
  inspect "$title" "$out/main-en.txt"
  shot main-en
  main_layout "$out/main-en.txt" "Select the drive to extract files:" VI "Get 7-Zip file" AutoPartition \
    "Format to FAT32" "Auto install Bootloader" "Use Hard Disk Drive"
else
  fail "no language link \"EN\" to click"
fi
stop

# ---- the AutoPartition window ----

repartition_window() {  # <language> <title> <heading> <FAT32 only> <Clean Disk>
  start repartition-show.exe "$1"
  inspect "$2" "$out/repartition-$1.txt"
  shot "repartition-$1"
  local file="$out/repartition-$1.txt"
  expect_match "$file" "^QELDuzuWindow \"$2\" at [0-9]+,[0-9]+ client 320x[0-9]+$" \
    "the window is 320 wide"
  expect_line "$file" "  Static \"$3\" at 0,8 client 320x45"
  expect_match "$file" '^  ComboBox "" at 8,61 client 304x' "the disk list at 8,61, 304 wide"
  expect_line "${file%.txt}-values.txt" 'ComboBox "RM2 - QEL Stick USB - 29.81 GB"'
  expect_line "${file%.txt}-values.txt" 'ComboBox "MB"'
  expect_line "${file%.txt}-values.txt" 'Edit "160"'
  expect_line "$file" "  Button \"$4\" at 8,92 client 304x17"
  expect_match "$file" '^  Button "FAT32 && NTFS" at 8,[0-9]+ client 304x17$' "the option \"FAT32 && NTFS\""
  expect_match "$file" '^  Static "FAT32 Size" at 27,[0-9]+ client [0-9]+x21$' "the size label"
  expect_match "$file" '^  Edit "" at [0-9]+,[0-9]+ client [0-9]+x[0-9]+ disabled$' "the size box, disabled"
  expect_match "$file" '^  ComboBox "" at 252,[0-9]+ client 60x[0-9]+ disabled$' "the unit list, disabled"
  expect_line "$file" "  Button \"$5\" at 8,171 client 304x17"
  expect_match "$file" '^  Button "OK" at 75,[0-9]+ client 170x25$' "the OK button, centred"
  stop
}
repartition_window vi "Tự động phân vùng" "Dưới đây là danh sách các đĩa cứng mà bạn có thể phân vùng lại" \
  "Chỉ FAT32 (Khuyến nghị)" "Làm sạch đĩa (Khuyến nghị)"
repartition_window en AutoPartition "Here is a list of the disk that you can repartition" \
  "FAT32 only (Recommended)" "Clean Disk (Recommended)"

for file in main-vi main-en repartition-vi repartition-en; do
  [[ -f "$out/$file.txt" ]] && { echo "--- $file"; cat "$out/$file.txt" "$out/$file-values.txt"; }
done
echo "screenshots: $out/*.png"
((failures == 0)) && echo "gui-windows: passed"
exit $((failures > 0))
