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

if [[ "${QEL_RUN_INSIDE_WINE_SESSION:-}" == 1 ]]; then
  shot="$repo/build-win64/QELDuzu-screenshot.png"
  mkdir -p "$repo/build-win64/run"
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

QEL_RUN_INSIDE_WINE_SESSION=1 scripts/wine-session.sh "$repo/build-win64/wineprefix" "$0" "$seconds"
