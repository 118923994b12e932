#!/usr/bin/env bash
# Builds Syslinux's installer for Windows from its source with one MinGW-w64 compiler:
#   build-installer.sh <compiler> <source folder> <boot files folder> <work folder> <output.exe>
# <compiler> is i686-w64-mingw32-gcc or x86_64-w64-mingw32-gcc; the source folder is the unpacked
# Debian source package; the boot files folder is what fetch-boot-files.sh makes. The installer
# embeds the boot sector, the loader, ldlinux.c32 and mbr.bin. It is linked statically, so that it
# imports only system DLLs, and without a time stamp: two builds are byte-equal.
set -euo pipefail
compiler="${1:?compiler}"
source="$(realpath "${2:?source folder}")"
boot="$(realpath "${3:?boot files folder}")"
work="$(realpath -m "${4:?work folder}")"
output="$(realpath -m "${5:?output.exe}")"

rm -rf "$work"
"$(dirname "$0")/embed-boot-files.sh" "$source" "$boot" "$work"

sources=(
  "$source"/win/syslinux.c "$source"/win/ntfssect.c
  "$source"/libinstaller/{fs,syslxmod,syslxopt,setadv}.c "$source"/libinstaller/getopt/getopt_long.c
  "$work"/syslinux_{bootsect,ldlinux,ldlinuxc32,mbr}_bin.c
  "$source"/libfat/*.c
)
# The flags of the source's own Windows makefile, made static and reproducible; the source's
# warnings are left to its authors.
"$compiler" -w -Os -fomit-frame-pointer -D_FILE_OFFSET_BITS=64 \
  -I"$work" -I"$source/win" -I"$source/libfat" -I"$source/libinstaller" \
  -I"$source/libinstaller/getopt" \
  -ffile-prefix-map="$source"=syslinux -ffile-prefix-map="$work"=syslinux \
  -static -s -Wl,--no-insert-timestamp -o "$output.tmp" "${sources[@]}"
mv "$output.tmp" "$output"
