#!/usr/bin/env bash
# Builds the payload archive RAZEvor.7z from Debian's Grub2, shim and Syslinux files and the
# project's own programs:
#   build-payload.sh <output.7z> <work folder> <QELCreator.exe> <Syslinux boot files folder>
#                    <syslinux.exe> <syslinux64.exe>
# The boot files folder is what tools/syslinux/fetch-boot-files.sh makes; the two installers are
# the ones the program starts on 32-bit and on 64-bit Windows.
# The file list is readable without a password; the contents are encrypted with the password
# the program passes to 7-Zip. Every input is pinned and every timestamp fixed, so two builds
# hold the same files with the same bytes.
set -euo pipefail

output="$(realpath -m "${1:?output archive}")"
work="$(realpath -m "${2:?work folder}")"
companion_exe="$(realpath "${3:?QELCreator.exe}")"
syslinux_boot_dir="$(realpath "${4:?Syslinux boot files folder}")"
syslinux_exe="$(realpath "${5:?syslinux.exe}")"
syslinux64_exe="$(realpath "${6:?syslinux64.exe}")"
source_dir="$(dirname "$(realpath "$0")")"

readonly password=tubrisk
readonly grub_version="2.06-13+deb12u2"
readonly grub_dir=/usr/lib/grub/i386-pc
readonly efi_grub_dir=/usr/lib/grub/x86_64-efi
readonly grub_prefix='(,msdos1)/QEL/grub'
readonly fixed_time='2024-01-01 00:00:00 UTC'
# Debian's signed UEFI boot chain, downloaded at build time: package, version, SHA-256 of the .deb.
# The signed Grub2 must be the same release as grub-efi-amd64-bin, whose modules it loads.
readonly signed_packages=(
  "shim-signed 1.51~1+deb12u1+16.1-2~deb12u1 c2acf5e559664bbadb7ce5789f9a321f39754a34854d3097b8cc0369df513b3b"
  "shim-helpers-amd64-signed 1+16.1+2~deb12u1 26acac35133946c1642a09f3fda353ee3b849e5fc643fadb97a8dfec9e2b55fb"
  "grub-efi-amd64-signed 1+2.06+13+deb12u2 fbe2b28166a6dca8111bbf6a30d52d4781973c3a0440d8080f901e039b1f83f2"
)

fail() {
  echo "build-payload.sh: $*" >&2
  exit 1
}

for grub_package in grub-pc-bin grub-efi-amd64-bin; do
  installed_version="$(dpkg-query -W -f='${Version}' "$grub_package" 2>/dev/null || true)"
  [[ "$installed_version" == "$grub_version" ]] ||
    fail "$grub_package $grub_version is required, found '${installed_version:-none}'"
done

tree="$work/tree"
rm -rf "$tree"
mkdir -p "$tree"

# Grub2: boot code, core images and the modules the core images load at run time.
grub_target="$tree/QEL/grub/i386-pc"
mkdir -p "$grub_target"
cp "$grub_dir/boot.img" "$grub_dir"/*.mod "$grub_dir"/*.lst "$grub_target/"
[[ "$(stat -c %s "$grub_target/boot.img")" == 512 ]] || fail "boot.img is not 512 bytes"

# Each core image lives between the master boot record and the first partition, so it must stay
# at least one sector below the partition offset the program accepts for it.
make_core_image() {
  local name="$1" threshold="$2"
  shift 2
  grub-mkimage -O i386-pc -p "$grub_prefix" -o "$grub_target/$name" "$@"
  local size
  size="$(stat -c %s "$grub_target/$name")"
  ((size <= threshold - 512)) ||
    fail "$name is $size bytes, more than its limit of $((threshold - 512)) bytes"
}
make_core_image uncore.img 67584 biosdisk part_msdos part_gpt fat exfat ntfs search
make_core_image msdos_fat.img 62464 biosdisk part_msdos fat ntfs search
make_core_image msdos_exfat.img 65536 biosdisk part_msdos exfat search
cp "$source_dir/grub.cfg" "$tree/QEL/grub/grub.cfg"

# UEFI: Debian's signed shim starts the signed Grub2 beside it, with Secure Boot on or off. That
# Grub2 reads /EFI/debian/grub.cfg of its own volume, which hands over to the drive's menu; with
# Secure Boot off it loads the modules it lacks from /QEL/grub/x86_64-efi/.
# Shim's fallback program is left out: it would add boot entries to the PC's firmware.
signed_debs="$work/signed-debs"
signed_files="$work/signed-files"
rm -rf "$signed_files"
mkdir -p "$signed_debs" "$signed_files"
fetch_signed_package() {
  local name="$1" version="$2" sha256="$3"
  local deb="$signed_debs/${name}_${version}_amd64.deb"
  if [[ ! -f "$deb" ]] || ! sha256sum --status -c <<<"$sha256  $deb"; then
    rm -f "$deb"
    (cd "$signed_debs" && apt-get download -q=2 -o APT::Sandbox::User="$(id -un)" "$name=$version") ||
      fail "cannot download $name $version (apt-get update may be needed)"
  fi
  sha256sum --status -c <<<"$sha256  $deb" || fail "$deb does not have the pinned SHA-256"
  dpkg-deb -x "$deb" "$signed_files"
}
for package in "${signed_packages[@]}"; do
  # shellcheck disable=SC2086 # three words: name, version, SHA-256
  fetch_signed_package $package
done
efi_boot="$tree/EFI/BOOT"
mkdir -p "$efi_boot" "$tree/EFI/debian" "$tree/QEL/grub/x86_64-efi"
cp "$signed_files/usr/lib/shim/shimx64.efi.signed" "$efi_boot/BOOTX64.EFI"
cp "$signed_files/usr/lib/shim/mmx64.efi.signed" "$efi_boot/mmx64.efi"
cp "$signed_files/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed" "$efi_boot/grubx64.efi"
printf '%s\n' 'set prefix=($root)/QEL/grub' 'source /QEL/grub/grub.cfg' >"$tree/EFI/debian/grub.cfg"
cp "$efi_grub_dir"/*.mod "$efi_grub_dir"/*.lst "$tree/QEL/grub/x86_64-efi/"

# Syslinux's BIOS modules, its menu and its installers for Windows, which embed the same
# ldlinux.c32 and write it over this one.
syslinux_target="$tree/QEL/Tools/syslinux/syslinux"
mkdir -p "$syslinux_target"
cp "$syslinux_boot_dir"/modules/*.c32 "$source_dir/syslinux.cfg" "$syslinux_target/"
cp "$syslinux_exe" "$syslinux_target/syslinux.exe"
cp "$syslinux64_exe" "$syslinux_target/syslinux64.exe"

# Clover's place: the project's own boot sector and loader, and the folders the installer needs.
clover_target="$tree/QEL/Tools/Clover"
mkdir -p "$clover_target" "$tree/EFI/CLOVER"
nasm -f bin -o "$clover_target/boot1f32" "$source_dir/boot1f32.asm"
nasm -f bin -o "$clover_target/boot7" "$source_dir/boot7.asm"
[[ "$(stat -c %s "$clover_target/boot1f32")" == 512 ]] || fail "boot1f32 is not 512 bytes"
[[ "$(xxd -s 510 -l 2 -p "$clover_target/boot1f32")" == 55aa ]] || fail "boot1f32 lacks 0x55AA"

# The drive's icon: a blue stick on a rounded white tile, drawn without fonts.
convert -size 64x64 xc:white \
  -fill '#1d5fa8' -draw 'roundrectangle 4,4 59,59 12,12' \
  -fill white -draw 'rectangle 22,10 41,22' \
  -fill '#1d5fa8' -draw 'rectangle 26,14 29,18' -draw 'rectangle 34,14 37,18' \
  -fill white -draw 'roundrectangle 16,22 47,54 6,6' \
  -fill '#f2a900' -draw 'rectangle 22,30 41,34' \
  -strip -define icon:auto-resize=48,32,16 "ico:$tree/QEL/razevor.ico"

cp "$companion_exe" "$tree/QELCreator.exe"

# Files the program writes itself on the drive must never come from the payload.
for forbidden in autorun.inf Others.cfg CloverLegacy boot7 EFIPART syslinux.bin; do
  while IFS= read -r found; do
    [[ "$found" == "./QEL/Tools/Clover/boot7" ]] && continue
    fail "the payload must not contain $found"
  done < <(cd "$tree" && find . -name "$forbidden")
done

# Same modes, times and order on every build.
find "$tree" -type d -exec chmod 755 {} +
find "$tree" -type f -exec chmod 644 {} +
find "$tree" -exec touch -h -d "$fixed_time" {} +

rm -f "$output"
mkdir -p "$(dirname "$output")"
(cd "$tree" && 7zz a -t7z -bd -bso0 -bsp0 -mx=7 -mmt=2 -mtm=on -mtc=off -mta=off -mhe=off \
  "-p$password" "$output" QELCreator.exe EFI QEL)

# The file list must be readable without the password.
7zz l "$output" </dev/null >/dev/null 2>&1 || fail "the archive's file list needs a password"
