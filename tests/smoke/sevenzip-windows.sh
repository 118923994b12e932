#!/usr/bin/env bash
# 7-Zip's GUI extractor as the program runs it, under Wine with Vietnamese as the interface
# language:
#   tests/smoke/sevenzip-windows.sh <x86_64 build folder>
# 1. Staging from the program's resources and the extraction command line onto E:: exit code 0
#    and the same tree as 7zz extracts from the payload.
# 2. The OK run onto E: with a large archive of incompressible data: 7-Zip's progress window shows
#    the captions of the carried vi.txt; Cancel, answered Yes, gives exit code 255 and the
#    program's "Canceled" road (its message box, the progress label, the work folder deleted).
# 3. A wrong password: an exit code other than 0 and 255, no window of 7-Zip left open, and the
#    OK run's support error.
# Screenshots and read-backs go to <build>/smoke-7zip/.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: sevenzip-windows.sh <x86_64 build folder>}")"
out="$build/smoke-7zip"

if [[ "${QEL_SEVENZIP_SESSION:-}" != 1 ]]; then
  rm -rf "$out"
  mkdir -p "$out"
  # Wine takes its interface language from the locale, which glibc must have generated.
  mkdir -p "$out/locale"
  localedef -i vi_VN -f UTF-8 "$out/locale/vi_VN.UTF-8"
  exec env LOCPATH="$out/locale" LANG=vi_VN.UTF-8 LC_ALL=vi_VN.UTF-8 QEL_SEVENZIP_SESSION=1 \
    "$repo/scripts/wine-session.sh" "$build/wineprefix-7zip" "$0" "$build"
fi
source "$repo/cmake/wine-env.sh"

for program in sevenzip-run.exe; do
  [[ -f "$build/$program" ]] || { echo "sevenzip: $build/$program is not built" >&2; exit 1; }
done
cd "$out"
failures=0
fail() {
  echo "sevenzip: FAILED: $*" >&2
  failures=$((failures + 1))
}
run() { "$WINELOADER" "$build/sevenzip-run.exe" "$@" 2>>"$out/wine.log" | tr -d '\r'; }

# A removable E: on a folder of the test; Wine's own Tahoma has no Vietnamese letters.
mkdir -p "$out/stick"
ln -sfn "$out/stick" "$WINEPREFIX/dosdevices/e:"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' '' \
  '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
  '"Tahoma"="DejaVu Sans"' '"MS Shell Dlg"="DejaVu Sans"' '"MS Shell Dlg 2"="DejaVu Sans"' \
  >"$out/prefix.reg"
wine_import_registry_and_restart "$out/prefix.reg"

# The texts of vi.txt by number: a line of digits starts a block, each further line (empty ones
# too) is the next number's text.
vi_text() {
  awk -v want="$1" '/^;/ { next } /^[0-9]+$/ { id = $0; next } { if (id == want) { print; exit } id++ }' \
    "$repo/tools/sevenzip/vi.txt"
}
# Work folder of a run, as a Linux path.
work_folder_of() {  # <output of the ok run>
  local base
  base="$(sed -n 's/^work base //p' "$1")"
  [[ -n "$base" ]] && echo "$("$WINELOADER" winepath -u "${base}qelextract" 2>/dev/null)"
}

# ---- 1. the payload onto E: ----

run extract E: >"$out/extract.txt"
cat "$out/extract.txt"
grep -qx 'exit code 0' "$out/extract.txt" || fail "extraction of the payload: $(cat "$out/extract.txt")"
7zz x -y -bso0 -bsp0 -ptubrisk -o"$out/expected" "$build/embedded/RAZEvor.7z"
diff -r "$out/expected" "$out/stick" >"$out/extract-diff.txt" 2>&1 ||
  fail "the extracted tree differs from 7zz's (see $out/extract-diff.txt)"
rm -rf "$out/expected" "${out:?}/stick/"*

# ---- 2. Cancel in 7-Zip's progress window ----

# PPMd decodes incompressible data slowly, so the window stays up long enough to be pressed.
head -c 16M /dev/urandom >"$out/noise.bin"
7zz a -bso0 -bsp0 -m0=PPMd:mem=16m:o=2 -ptubrisk "$out/large.7z" "$out/noise.bin"
rm "$out/noise.bin"
large="$("$WINELOADER" winepath -w "$out/large.7z" 2>/dev/null | tr -d '\r')"

ready="$("$WINELOADER" winepath -w "$out/ready" 2>/dev/null | tr -d '\r')"
go="$("$WINELOADER" winepath -w "$out/go" 2>/dev/null | tr -d '\r')"
run ok "$large" >"$out/cancel-run.txt" &
program=$!
run cancel 60 "$ready" "$go" >"$out/cancel-progress.txt" &
driver=$!
for _ in $(seq 600); do [[ -f "$out/ready" || ! -e /proc/$driver ]] && break; sleep 0.1; done
import -window root "$out/progress-vi.png"
touch "$out/go"
wait "$driver" || fail "7-Zip's progress window: $(tail -n 1 "$out/cancel-progress.txt")"
run box 60 >"$out/cancel-box.txt" || fail "no message box after the cancelled extraction"
wait "$program" || true
cat "$out/cancel-progress.txt" "$out/cancel-box.txt" "$out/cancel-run.txt"
echo "screenshot: $out/progress-vi.png"

# The progress window in Vietnamese, read back from its controls; the Colon entries get a ":".
expect_control() {  # <file> <control id> <text>
  grep -Fxq -- "$2	$3" "$1" || fail "$(basename "$1"): control $2 does not read \"$3\""
}
progress="$out/cancel-progress.txt"
for id in 3900 3901 3902 3903 3904 3905 3906 444 446; do
  expect_control "$progress" "$id" "$(vi_text "$id")"
done
for id in 1008 1032; do expect_control "$progress" "$id" "$(vi_text "$id"):"; done
expect_control "$progress" 2 "$(vi_text 402)"
grep -q "^title	.*$(vi_text 3300)" "$progress" || fail "the progress window's title is not \"$(vi_text 3300)\""
grep -Fq -- "	$(vi_text 448)" "$progress" || fail "the confirmation does not ask \"$(vi_text 448)\""

# The program's Canceled road: its box and progress label say lcanceled, the folder is gone.
canceled="Đã hủy"
grep -Fxq "title	$canceled" "$out/cancel-box.txt" || fail "the message box's title is not \"$canceled\""
grep -Fq "	$canceled." "$out/cancel-box.txt" || fail "the message box's text is not \"$canceled.\""
sed -n '/^main window$/,$p' "$out/cancel-box.txt" | grep -Fq "	$canceled" ||
  fail "the progress label does not read \"$canceled\""
grep -qx 'run ended' "$out/cancel-run.txt" || fail "the OK run did not end"
work="$(work_folder_of "$out/cancel-run.txt")"
[[ -n "$work" && ! -e "$work" ]] || fail "the work folder ${work:-?} was not deleted"
# 7-Zip's exit code itself: the same archive, cancelled in the same way, through the runner alone.
rm -f "$out/ready" "$out/go"
run extract E: "$large" >"$out/cancel-extract.txt" &
program=$!
run cancel 60 "$ready" "$go" >/dev/null &
driver=$!
touch "$out/go"
wait "$driver" || fail "the second Cancel could not be pressed"
wait "$program" || true
cat "$out/cancel-extract.txt"
grep -qx 'exit code 255' "$out/cancel-extract.txt" || fail "Cancel: $(cat "$out/cancel-extract.txt"), not exit code 255"
rm -rf "${out:?}/stick/"* "$out/large.7z"

# ---- 3. a wrong password ----

mkdir -p "$out/wrong"
echo "not for this password" >"$out/wrong/file.txt"
7zz a -bso0 -bsp0 -pwrong "$out/wrong.7z" "$out/wrong/file.txt"
wrong="$("$WINELOADER" winepath -w "$out/wrong.7z" 2>/dev/null | tr -d '\r')"
timeout 120 "$WINELOADER" "$build/sevenzip-run.exe" extract E: "$wrong" 2>>"$out/wine.log" |
  tr -d '\r' >"$out/wrong-extract.txt" || true
cat "$out/wrong-extract.txt"
code="$(sed -n 's/^exit code //p' "$out/wrong-extract.txt")"
[[ -n "$code" && "$code" != 0 && "$code" != 255 ]] ||
  fail "wrong password: exit code ${code:-none}, expected one other than 0 and 255"
run ok "$wrong" >"$out/wrong-run.txt" &
program=$!
run box 60 >"$out/wrong-box.txt" || fail "no message box after the failed extraction"
wait "$program" || true
cat "$out/wrong-box.txt"
grep -Fq "Lỗi, vui lòng liên hệ tác giả để được hỗ trợ!" "$out/wrong-box.txt" ||
  fail "the failed extraction does not show the support error"

((failures == 0)) && echo "sevenzip: passed"
exit $((failures > 0))
