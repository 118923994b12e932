#!/usr/bin/env bash
# Runs the UEFI boot tests: sticks made by the program's own runs (qel-headless on disk images)
# booted on a UEFI PC (QEMU with OVMF) with Secure Boot off and on, and on a BIOS PC.
#
#   tests/boot/run-uefi-tests.sh <build dir> [payload archive] [test name]...
#
# Arguments as for run-boot-tests.sh; images and logs go to <build dir>/uefi-tests/. Needs root
# (loop devices), python3, the ovmf package and grub-mkimage for x86_64-efi. Prints each boot's
# time and "N passed, N failed"; exits non-zero when a test failed.
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
source "$here/tools.sh"

run_headless_tests "$here/uefi_tests.py" uefi-tests "$@"
