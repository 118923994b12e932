#!/usr/bin/env bash
# Builds the program and starts it under Wine for a look:
#   scripts/run.sh [seconds to wait before the screenshot, default 8]
# Installs what is missing, builds the shipping 32-bit QELDuzu.exe and the x86_64 one (this
# machine runs no 32-bit code), makes and boots a demo stick with the program's own extraction
# run (tests/boot/demo.sh), starts the x86_64 program under Wine (inside Xvfb when there is
# no display), takes a screenshot, prints where it is and ends Wine.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"
seconds="${1:-8}"

# The demo stick as the prefix's removable drive E:: its raw device is the image, its files a
# copy of the stick's FAT32 partition (Wine serves file access from a folder), its label the
# partition's. The drive types are read when the wineserver starts: start a new one.
removable_demo_stick() {  # <demo image>
  local stick="$repo/build-win64/run/stick" label
  rm -rf "$stick"
  mkdir -p "$stick"
  MTOOLS_SKIP_CHECK=1 mcopy -s -n -i "$1@@1048576" '::/*' "$stick/"
  label="$(MTOOLS_SKIP_CHECK=1 mlabel -s -i "$1@@1048576" :: | sed -E 's/^ *Volume label is ?//; s/ +$//')"
  [[ -z "$label" || "$label" == *"has no label"* ]] || printf '%s' "$label" >"$stick/.windows-label"
  ln -sfn "$stick" "$WINEPREFIX/dosdevices/e:"
  ln -sfn "$1" "$WINEPREFIX/dosdevices/e::"
  printf '%s\r\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' \
    >"$repo/build-win64/run/drives.reg"
  wine_import_registry_and_restart "$repo/build-win64/run/drives.reg"
}

if [[ "${QEL_RUN_INSIDE_WINE_SESSION:-}" == 1 ]]; then
  source "$repo/cmake/wine-env.sh"
  shot="$repo/build-win64/QELDuzu-screenshot.png"
  mkdir -p "$repo/build-win64/run"
  removable_demo_stick "$repo/build-native/demo/demo.img"
  (cd "$repo/build-win64/run" && "$WINELOADER" "$repo/build-win64/QELDuzu.exe" >/dev/null 2>&1) &
  sleep "$seconds"
  import -window root "$shot"
  echo "Screenshot of QELDuzu.exe under Wine: $shot"
  exit 0
fi

scripts/setup.sh
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target QELDuzu
done
echo "Shipping program (32-bit): $repo/build-win32/QELDuzu.exe"

# A demo stick made by the program's own extraction run on a disk image, booted in QEMU: its
# Grub2 menu is printed as text and saved as a picture.
cmake --preset native >/dev/null
cmake --build --preset native --target qel-headless
tests/boot/demo.sh "$repo/build-native" "$repo/build-native/demo" "$repo/build-win32/embedded/RAZEvor.7z"

QEL_RUN_INSIDE_WINE_SESSION=1 scripts/wine-session.sh "$repo/build-win64/wineprefix-run" "$0" "$seconds"
