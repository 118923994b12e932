#!/usr/bin/env bash
# Runs the boot tests: sticks made by the program's own runs (qel-headless on disk images),
# checked with the Linux tools and booted in QEMU.
#
#   tests/boot/run-boot-tests.sh <build dir> [payload archive] [test name]...
#
# <build dir> is a native build folder holding tools/imagemachine/qel-headless. The payload is
# the archive the Windows build makes (<build dir>/payload/RAZEvor.7z of a cross build); give it
# as the second argument or in QEL_PAYLOAD when the native build folder does not hold one.
# Needs root (loop devices for fsck.fat and ntfs-3g). Prints each boot's time and
# "N passed, N failed"; exits non-zero when a test failed.
set -euo pipefail

here="$(dirname "$(realpath "$0")")"
build="$(realpath "${1:?usage: run-boot-tests.sh <build dir> [payload archive] [test name]...}")"
shift
payload="${QEL_PAYLOAD:-$build/payload/RAZEvor.7z}"
if [[ $# -gt 0 && "$1" == *.7z ]]; then
  payload="$1"
  shift
fi
headless="$build/tools/imagemachine/qel-headless"

[[ -x "$headless" ]] || { echo "run-boot-tests.sh: no qel-headless in $build" >&2; exit 2; }
[[ -f "$payload" ]] || { echo "run-boot-tests.sh: no payload archive at $payload" >&2; exit 2; }

work="$build/boot-tests"
mkdir -p "$work"
exec python3 -B "$here/boot_tests.py" --headless "$headless" --payload "$payload" --work "$work" "$@"
