#!/usr/bin/env bash
# Runs the boot tests: sticks made by the program's own runs (qel-headless on disk images),
# checked with the Linux tools and booted in QEMU.
#
#   tests/boot/run-boot-tests.sh <build dir> [payload archive] [test name]...
#
# <build dir> is a native build folder holding tools/imagemachine/qel-headless; its folder
# boot-tests/ receives the images and logs. The payload archive is the one a Windows build makes
# (build-win32/payload/RAZEvor.7z): the second argument, else $QEL_PAYLOAD, else
# <build dir>/payload/RAZEvor.7z. Needs root (loop devices and FUSE) and python3. Prints each
# boot's time and "N passed, N failed"; exits non-zero when a test failed.
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
source "$here/tools.sh"

run_headless_tests "$here/boot_tests.py" boot-tests "$@"
