#!/usr/bin/env bash
# Runs a command in one Wine session of a prefix, on a display:
#   scripts/wine-session.sh <prefix folder> <command> [args...]
# Initialises the prefix once, provides an X display with Xvfb when there is none, starts one
# wineserver for the whole command and ends it (and every Windows program left running) after.
# The command sees the Wine environment (WINEPREFIX, WINELOADER, WINESERVER, ...).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
prefix="$(realpath -m "${1:?usage: wine-session.sh <prefix folder> <command> [args...]}")"
shift

if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s '-screen 0 800x600x24' "$0" "$prefix" "$@"
fi

"$repo/cmake/wine-prefix.sh" "$prefix"
export QEL_WINEPREFIX="$prefix"
source "$repo/cmake/wine-env.sh"

"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
# Wine starts its own long-lived helper programs (services, the desktop) from the first program
# of a session, and they inherit that program's output. Start them here with no output attached,
# so that a test runner reading a test's output is not kept waiting by them until the session ends.
"$WINELOADER" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
"$@"
