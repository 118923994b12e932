#!/usr/bin/env bash
# Checks the shipping program of a 32-bit build without running it:
#   scripts/check-exe.sh <i686 build folder>
# A 32-bit GUI program; imports from system DLLs only; the five raw-data resources byte-equal
# to the files they were made from; the manifest with its five requests. The carried 7-Zip: a
# 32-bit GUI program and a 32-bit library exporting what the program loads, both importing
# system DLLs only.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:?usage: check-exe.sh <i686 build folder>}")"
exe="$build/QELDuzu.exe"

failures=0
fail() {
  echo "check-exe: FAILED: $*" >&2
  failures=$((failures + 1))
}

[[ -f "$exe" ]] || { echo "check-exe: $exe is not built" >&2; exit 1; }
kind="$(file -b "$exe")"
echo "QELDuzu.exe: $kind"
[[ "$kind" == "PE32 executable (GUI) Intel 80386"* ]] || fail "not a 32-bit GUI program: $kind"

# System DLLs only: nothing of the compiler's runtime may be needed beside a program.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|ole32|oleaut32|shlwapi|uxtheme|version|msvcrt|ntdll|imm32|winmm|setupapi|cfgmgr32)\.dll$|^hhctrl\.ocx$'
check_imports() {  # <file> <name shown>
  local dll
  while read -r dll; do
    echo "$2 imports $dll"
    [[ "${dll,,}" =~ $system_dlls ]] || fail "$2 imports $dll, which is not a system DLL"
  done < <(objdump -p "$1" | sed -n 's/^\s*DLL Name: //p')
}
check_imports "$exe" QELDuzu.exe

# The resources, read back from the program.
resources="$(mktemp -d)"
trap 'rm -rf "$resources"' EXIT
# Read as a PE file: 7-Zip would otherwise open the payload archive found inside it.
7zz x -tPE -y -bso0 -bsp0 -o"$resources" "$exe" '.rsrc/*' >/dev/null
payload="$(sed -n 's/^QEL_PAYLOAD:FILEPATH=//p' "$build/CMakeCache.txt")"
formatter="$build/tools/fat32format/fat32format.exe"
[[ -f "$formatter" ]] || formatter="$build/tools/f32-missing/f32-missing.exe"
declare -A source_of=(
  [QEL7Z]="${payload:-$build/payload/RAZEvor.7z}"
  [7ZG]="$build/resources/7zip/7zG.exe"
  [7ZDLL]="$build/resources/7zip/7z.dll"
  [7ZVI]="$repo/tools/sevenzip/vi.txt"
  [F32]="$formatter"
)
for name in QEL7Z 7ZG 7ZDLL 7ZVI F32; do
  embedded="$resources/.rsrc/RCDATA/$name"
  if [[ ! -f "$embedded" ]]; then
    fail "resource $name is missing"
  elif ! cmp -s "$embedded" "${source_of[$name]}"; then
    fail "resource $name differs from ${source_of[$name]}"
  else
    echo "resource $name: $(stat -c %s "$embedded") bytes, equal to ${source_of[$name]}"
  fi
done
kind_of() { file -b "$resources/.rsrc/RCDATA/$1"; }
[[ "$(kind_of F32)" == "PE32 executable (console) Intel 80386"* ]] ||
  fail "resource F32 is not a 32-bit console program"
[[ "$(kind_of 7ZG)" == "PE32 executable (GUI) Intel 80386"* ]] ||
  fail "resource 7ZG is not a 32-bit GUI program: $(kind_of 7ZG)"
[[ "$(kind_of 7ZDLL)" == "PE32 executable (DLL)"*"Intel 80386"* ]] ||
  fail "resource 7ZDLL is not a 32-bit DLL: $(kind_of 7ZDLL)"
check_imports "$resources/.rsrc/RCDATA/7ZG" 7zG.exe
check_imports "$resources/.rsrc/RCDATA/7ZDLL" 7z.dll
# The entry points 7zG.exe looks up in its library, by their plain names.
exports="$(objdump -p "$resources/.rsrc/RCDATA/7ZDLL" | sed -n '/Ordinal\/Name Pointer/,/^$/s/^\s*\[ *[0-9]*\] //p')"
for entry in CreateObject GetNumberOfFormats GetHandlerProperty2 GetNumberOfMethods \
  GetMethodProperty CreateDecoder GetIsArc GetModuleProp SetCodecs; do
  grep -qx "$entry" <<<"$exports" || fail "7z.dll does not export $entry"
done
echo "7z.dll exports: $(tr '\n' ' ' <<<"$exports")"

manifest="$resources/.rsrc/MANIFEST/1"
if [[ ! -f "$manifest" ]]; then
  fail "the manifest (type 24, id 1) is missing"
else
  for wanted in 'level="requireAdministrator"' '>True/PM</dpiAware>' \
    'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}' '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' \
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
    tr -s ' \n' ' ' <"$manifest" | grep -qF "$wanted" || fail "the manifest lacks $wanted"
  done
fi

((failures == 0)) && echo "check-exe: passed"
exit $((failures > 0))
