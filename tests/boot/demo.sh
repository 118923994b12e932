#!/usr/bin/env bash
# Makes a demo stick with the program's own extraction run (bootloader option on, a 100 MiB
# image with one FAT32 partition from sector 2048), boots it in QEMU, prints the GRUB menu as
# text and saves a screenshot.
#
#   tests/boot/demo.sh <build dir> <out dir> [payload archive]
#
# <build dir> is a native build folder holding tools/imagemachine/qel-headless; the payload is
# found as run-boot-tests.sh finds it. <out dir> receives demo.img, grub-menu.txt and
# grub-menu.png.
set -euo pipefail
here="$(dirname "$(realpath "$0")")"
source "$here/tools.sh"

build="$(realpath "${1:?usage: demo.sh <build dir> <out dir> [payload archive]}")"
out="$(realpath -m "${2:?usage: demo.sh <build dir> <out dir> [payload archive]}")"
locate_tools "$build" "${3:-}"

exec python3 -B "$here/demo.py" --headless "$headless" --payload "$payload" --out "$out"
