#!/usr/bin/env bash
# Checks a payload archive against the tree the program relies on:
#   scripts/check-payload.sh <RAZEvor.7z>
# Every path the program reads or starts is listed without a password; every file with content
# is encrypted (extraction without the password fails, with it succeeds); boot sectors and core
# images have their sizes; none of the files the program writes itself is carried.
set -euo pipefail
archive="$(realpath "${1:?usage: check-payload.sh <archive>}")"
readonly password=tubrisk

failures=0
fail() {
  echo "check-payload: FAILED: $*" >&2
  failures=$((failures + 1))
}

listing="$(mktemp)"
scratch="$(mktemp -d)"
trap 'rm -rf "$listing" "$scratch"' EXIT

# The file list, read without any password: "<D|F> <size> <encrypted> <path>" per item.
7zz l -slt "$archive" </dev/null | awk -F' = ' '
  /^----------$/ { items = 1; next }
  !items { next }
  /^Path = / { path = $2 } /^Size = / { size = $2 } /^Encrypted = / { enc = $2 }
  /^Attributes = / { kind = ($2 ~ /^D/) ? "D" : "F" }
  /^$/ && path != "" { print kind, size, enc, path; path = "" }
  END { if (path != "") print kind, size, enc, path }' >"$listing" ||
  fail "the file list cannot be read without the password"
echo "$(grep -c '^F' "$listing") files, $(grep -c '^D' "$listing") folders listed without a password"

entry() { awk -v p="$1" '$4 == p' "$listing"; }
expect_folder() {
  [[ "$(entry "$1" | cut -d' ' -f1)" == D ]] || fail "folder $1 is missing"
}
expect_file() {  # <path> [exact size | max:<bytes>]
  local line size
  line="$(entry "$1")"
  [[ "$line" == F* ]] || { fail "file $1 is missing"; return; }
  size="$(cut -d' ' -f2 <<<"$line")"
  case "${2:-}" in
    "") ((size > 0)) || fail "file $1 is empty" ;;
    max:*) ((size > 0 && size <= ${2#max:})) || fail "$1 is $size bytes, limit ${2#max:}" ;;
    *) ((size == $2)) || fail "$1 is $size bytes, expected $2" ;;
  esac
}

for folder in QEL QEL/grub QEL/grub/i386-pc QEL/Tools/syslinux/syslinux QEL/Tools/Clover \
  EFI/CLOVER EFI/BOOT; do
  expect_folder "$folder"
done
expect_file QEL/razevor.ico
expect_file QELCreator.exe
expect_file QEL/grub/grub.cfg
expect_file QEL/grub/i386-pc/boot.img 512
expect_file QEL/grub/i386-pc/uncore.img max:$((67584 - 512))
expect_file QEL/grub/i386-pc/msdos_fat.img max:$((62464 - 512))
expect_file QEL/grub/i386-pc/msdos_exfat.img max:$((65536 - 512))
expect_file QEL/grub/i386-pc/normal.mod
expect_file QEL/grub/i386-pc/moddep.lst
expect_file QEL/Tools/syslinux/syslinux/syslinux.exe
expect_file QEL/Tools/syslinux/syslinux/syslinux64.exe
expect_file QEL/Tools/syslinux/syslinux/ldlinux.c32
expect_file QEL/Tools/Clover/boot1f32 512
expect_file QEL/Tools/Clover/boot7
# The UEFI boot chain: signed shim, signed Grub2, its hand-over to the menu, the UEFI modules.
expect_file EFI/BOOT/BOOTX64.EFI
expect_file EFI/BOOT/grubx64.efi
expect_file EFI/debian/grub.cfg
expect_file QEL/grub/x86_64-efi/normal.mod
expect_file QEL/grub/x86_64-efi/moddep.lst

# Files the program writes on the drive itself (Windows names: any case).
while read -r _ _ _ path; do
  case "${path,,}" in
    autorun.inf | boot7 | */others.cfg | others.cfg | */cloverlegacy | */efipart | */syslinux.bin)
      fail "the payload carries $path, which the program writes itself" ;;
  esac
done <"$listing"

unencrypted="$(awk '$1 == "F" && $2 > 0 && $3 != "+"' "$listing" | wc -l)"
((unencrypted == 0)) || fail "$unencrypted files are stored without encryption"

if 7zz x -y -bso0 -bse0 -bsp0 -o"$scratch/no-password" "$archive" </dev/null >/dev/null 2>&1; then
  fail "the contents were extracted without the password"
fi
if 7zz x -y -bso0 -bse0 -bsp0 -pwrong -o"$scratch/wrong" "$archive" >/dev/null 2>&1; then
  fail "the contents were extracted with a wrong password"
fi
if ! 7zz x -y -bso0 -bsp0 "-p$password" -o"$scratch/tree" "$archive" >/dev/null; then
  fail "the contents cannot be extracted with the password"
else
  boot_sector="$scratch/tree/QEL/Tools/Clover/boot1f32"
  [[ "$(xxd -s 510 -l 2 -p "$boot_sector")" == 55aa ]] || fail "boot1f32 does not end in 0x55AA"
  [[ "$(xxd -l 1 -p "$boot_sector")" =~ ^(eb|e9)$ ]] || fail "boot1f32 does not start with a jump"
  [[ "$(file -b "$scratch/tree/QELCreator.exe")" == PE32*"(GUI)"* ]] ||
    fail "QELCreator.exe is not a Windows GUI program"
fi

((failures == 0)) && echo "check-payload: passed"
exit $((failures > 0))
