#!/usr/bin/env bash
# Turns Syslinux's BIOS boot files into the C tables its installer library links against
# (syslinux_bootsect, syslinux_ldlinux, syslinux_ldlinuxc32, syslinux_mbr) and writes version.h:
#   embed-boot-files.sh <source folder> <boot files folder> <output folder>
# The source folder is the unpacked Debian source package; the boot files folder is what
# fetch-boot-files.sh makes.
set -euo pipefail
source="$(realpath "${1:?source folder}")"
boot="$(realpath "${2:?boot files folder}")"
output="$(realpath -m "${3:?output folder}")"

mkdir -p "$output"
# bin2c.pl writes each file's time into the C source: a fixed one keeps the build reproducible.
export SOURCE_DATE_EPOCH=1704067200
bin2c() {  # <table name> <file> [padding]
  perl "$source/libinstaller/bin2c.pl" "$1" ${3:+"$3"} <"$2" >"$output/$1_bin.c.tmp"
  mv "$output/$1_bin.c.tmp" "$output/$1_bin.c"
}
bin2c syslinux_bootsect "$boot/ldlinux.bss"
bin2c syslinux_ldlinux "$boot/ldlinux.sys" 512
bin2c syslinux_ldlinuxc32 "$boot/modules/ldlinux.c32"
bin2c syslinux_mbr "$boot/mbr.bin"
perl "$source/version.pl" "$source/version" "$output/version.h" '#define < @'
