#!/usr/bin/env bash
# GUI smoke test of the x86_64 program under Wine:
#   tests/smoke/gui-smoke.sh <x86_64 build folder>
# Starts QELDuzu.exe, waits for its window, reads its controls with inspect.exe, takes a
# screenshot, and checks that the window shows the designed controls at their designed sizes.
# Results go to <build>/smoke/: controls.txt and main-window.png.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: gui-smoke.sh <x86_64 build folder>}")"

if [[ -z "${WINESERVER:-}" ]]; then
  exec "$repo/scripts/wine-session.sh" "$build/wineprefix" "$0" "$build"
fi

for program in QELDuzu.exe inspect.exe; do
  [[ -f "$build/$program" ]] || { echo "gui-smoke: $build/$program is not built" >&2; exit 1; }
done
out="$build/smoke"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

"$WINELOADER" "$build/QELDuzu.exe" >"$out/program.log" 2>&1 &
program_pid=$!
status=0
"$WINELOADER" "$build/inspect.exe" "QEL Ruru Zudererod" 60 >"$out/controls.txt" 2>/dev/null ||
  status=$?
import -window root "$out/main-window.png"
"$WINESERVER" -k 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true

tr -d '\r' <"$out/controls.txt" >"$out/controls.clean" && mv "$out/controls.clean" "$out/controls.txt"
cat "$out/controls.txt"
echo "screenshot: $out/main-window.png"

failures=0
fail() {
  echo "gui-smoke: FAILED: $*" >&2
  failures=$((failures + 1))
}
expect_line() {  # <extended regex> <what>
  grep -Eq "$1" "$out/controls.txt" || fail "$2"
}
count_of() { grep -Ec "$1" "$out/controls.txt" || true; }

((status == 0)) || fail "the window \"QEL Ruru Zudererod\" did not appear"
expect_line '^QELDuzuWindow|^[^ ].* "QEL Ruru Zudererod" at ' "the main window's line"
expect_line '^  Button "OK" at 192,32 client 49x25$' "the OK button at 192,32, 49 x 25"
# The version label fits its caption and keeps its right edge at 241 (its width follows the font).
expect_line '^  Static "v0\.9\.5\.16" at [0-9]+,[0-9]+ client [0-9]+x16$' "the version label, 16 high"
expect_line '^  ComboBox "" at 8,32 client 177x[0-9]+$' "the drive chooser at 8,32, 177 wide"
(($(count_of '^  Button ') == 6)) || fail "six buttons and check boxes, found $(count_of '^  Button ')"
(($(count_of '^  Static ') == 3)) || fail "three labels, found $(count_of '^  Static ')"
(($(count_of ' hidden| disabled') == 0)) || fail "every control shown and enabled at start"
read -r width height < <(sed -nE '1s/.* client ([0-9]+)x([0-9]+).*/\1 \2/p' "$out/controls.txt")
((${width:-0} >= 249 && ${height:-0} >= 187)) ||
  fail "the window's client area is at least 249 x 187, found ${width:-?} x ${height:-?}"
colours="$(convert "$out/main-window.png" -format '%k' info:)"
((colours > 8)) || fail "the screenshot shows a window (only $colours colours)"

((failures == 0)) && echo "gui-smoke: passed"
exit $((failures > 0))
