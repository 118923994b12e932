#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine: wine-run.sh <prefix folder> <program.exe> [args...]
# Used as the cross-compiling emulator, so CTest runs the Windows test programs through it.
# The prefix is initialised on first use.
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
QEL_WINEPREFIX="$(realpath -m "${1:?usage: wine-run.sh <prefix folder> <program> [args...]}")"
shift
"$here/wine-prefix.sh" "$QEL_WINEPREFIX"
source "$here/wine-env.sh"
exec "$WINELOADER" "$@"
