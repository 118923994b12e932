#!/usr/bin/env bash
# Initialises the Wine prefix given as the only argument, once: wineboot, Wine draws its own
# window frames (X11 driver not managed), and Wine's fonts copied in. Safe to call from several
# processes at a time; the second caller waits for the first.
set -euo pipefail
QEL_WINEPREFIX="$(realpath -m "${1:?usage: wine-prefix.sh <prefix folder>}")"
source "$(dirname "$0")/wine-env.sh"

ready_mark="$WINEPREFIX/.qel-prefix-ready"
[[ -f "$ready_mark" ]] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[[ -f "$ready_mark" ]] && exit 0

"$WINELOADER" wineboot -i >/dev/null 2>&1 || true
"$WINESERVER" -w
[[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine-prefix.sh: wineboot failed in $WINEPREFIX" >&2; exit 1; }

reg_file="$WINEPREFIX/qel-settings.reg"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' >"$reg_file"
"$WINELOADER" regedit /S "$reg_file" >/dev/null 2>&1 ||
  { echo "wine-prefix.sh: regedit failed in $WINEPREFIX" >&2; exit 1; }
"$WINESERVER" -w

fonts_dir="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts_dir"
cp -n /usr/share/wine/fonts/*.ttf "$fonts_dir/" 2>/dev/null || true

touch "$ready_mark"
