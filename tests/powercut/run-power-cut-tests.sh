#!/usr/bin/env bash
# Runs the power-cut tests: the program's own runs (qel-headless on disk images) cut at chosen
# writes and run again; the drives checked with the Linux tools and a sample booted in QEMU.
#
#   tests/powercut/run-power-cut-tests.sh <build dir> [payload archive] [scenario]...
#
# <build dir> is a native build folder holding tools/imagemachine/qel-headless; its folder
# power-cut-tests/ receives the images and logs of the points that failed. The payload archive is
# found as the boot tests find it (tests/boot/tools.sh). Needs root (loop devices and FUSE) and
# python3. Prints the figures of each scenario and "N passed, N failed".
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
source "$here/../boot/tools.sh"

run_headless_tests "$here/power_cut_tests.py" power-cut-tests "$@"
