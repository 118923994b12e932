#!/usr/bin/env bash
# Runs the Wine tests of a removable drive E: in a prefix of their own (the other Wine tests
# want no such drive):
#   removable-drive.sh <build folder> <test_wine.exe>
# E: is a folder for file access and, as its raw device, a 1 MiB image whose
# byte n is n modulo 251. The test program finds the image's Windows path in QEL_TEST_IMAGE.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: removable-drive.sh <build folder> <test_wine.exe>}")"
program="$(realpath "${2:?usage: removable-drive.sh <build folder> <test_wine.exe>}")"

export QEL_WINEPREFIX="$build/wineprefix-drive"
"$repo/cmake/wine-prefix.sh" "$QEL_WINEPREFIX"
source "$repo/cmake/wine-env.sh"

work="$build/wine-drive"
rm -rf "$work"
mkdir -p "$work/stick"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(n % 251 for n in range(1 << 20)))' \
  >"$work/stick.img"
ln -sfn "$work/stick" "$WINEPREFIX/dosdevices/e:"
ln -sfn "$work/stick.img" "$WINEPREFIX/dosdevices/e::"
printf '%s\r\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' \
  >"$work/drives.reg"

# The drive types are read when the prefix's wineserver starts: one of its own, ended after.
wine_import_registry_and_restart "$work/drives.reg"
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT

export QEL_TEST_IMAGE="Z:${work//\//\\}\\stick.img"
# The output goes through files: see cmake/wine-run.sh.
status=0
"$WINELOADER" "$program" --gtest_filter='Win32RemovableDrive.*' >"$work/stdout" 2>"$work/stderr" \
  </dev/null || status=$?
cat "$work/stdout" "$work/stderr"
exit "$status"
