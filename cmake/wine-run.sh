#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine: wine-run.sh <prefix folder> <program.exe> [args...]
# Used as the cross-compiling emulator, so CTest runs the Windows test programs through it.
# The prefix is initialised on first use.
#
# The program's output goes through files, not straight to the caller: a Windows child the
# program leaves running inherits the output handles, and would otherwise keep the caller
# (CTest) waiting for the end of the output long after the program itself has ended.
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
QEL_WINEPREFIX="$(realpath -m "${1:?usage: wine-run.sh <prefix folder> <program> [args...]}")"
shift
"$here/wine-prefix.sh" "$QEL_WINEPREFIX"
source "$here/wine-env.sh"

output="$(mktemp -d)"
trap 'rm -rf "$output"' EXIT
status=0
"$WINELOADER" "$@" >"$output/stdout" 2>"$output/stderr" </dev/null || status=$?
cat "$output/stdout"
cat "$output/stderr" >&2
exit "$status"
