#!/usr/bin/env bash
# Boots the payload's Grub2 in QEMU (BIOS) from a FAT32 stick image and reads the screen:
#   tests/smoke/payload-boot.sh <RAZEvor.7z>
# 1. Grub2's boot code and each FAT core image: the menu appears and waits (no menu file).
# 2. With the Clover block in /QEL/Menu/Others.cfg and the Clover boot sector made from
#    boot1f32 and the volume's own parameter block, the first entry starts by itself and the
#    boot sector prints its line.
set -euo pipefail
archive="$(realpath "${1:?usage: payload-boot.sh <archive>}")"
export MTOOLS_SKIP_CHECK=1
readonly password=tubrisk
readonly partition_sector=2048
readonly partition_offset=$((partition_sector * 512))

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
7zz x -y -bso0 -bsp0 "-p$password" -otree "$archive" >/dev/null

failures=0
fail() {
  echo "payload-boot: FAILED: $*" >&2
  failures=$((failures + 1))
}

# A 64 MiB disk: one FAT32 partition at 1 MiB holding the payload, Grub2's boot code in the
# master boot record (partition table kept) and the given core image behind it.
make_stick() {  # <image> <core image>
  truncate -s 64M "$1"
  printf 'label: dos\nstart=%d, type=c, bootable\n' "$partition_sector" | sfdisk -q "$1"
  mkfs.fat -F 32 --offset "$partition_sector" -h "$partition_sector" "$1" >/dev/null
  mcopy -i "$1@@$partition_offset" -s tree/QEL tree/EFI tree/QELCreator.exe ::
  dd if=tree/QEL/grub/i386-pc/boot.img of="$1" bs=440 count=1 conv=notrunc status=none
  dd if="tree/QEL/grub/i386-pc/$2" of="$1" bs=512 seek=1 conv=notrunc status=none
}

# Boots the image and prints the text screen after the given seconds.
screen_after() {  # <image> <seconds>
  rm -f screen.bin
  (
    sleep "$2"
    echo 'pmemsave 0xb8000 4000 "screen.bin"'
    sleep 1
    echo quit
  ) | timeout $(($2 + 30)) qemu-system-i386 -machine pc -accel tcg -m 128 -display none \
    -vga std -drive file="$1",format=raw,if=ide,index=0,snapshot=on -boot c -no-reboot \
    -nic none -monitor stdio >/dev/null 2>&1 || true
  [[ -f screen.bin ]] || { echo "(the machine had stopped)"; return; }
  python3 -c '
import sys
cells = open("screen.bin", "rb").read()[0::2].decode("cp437")
for row in range(25):
    line = cells[row * 80:(row + 1) * 80].rstrip()
    if line:
        print(line)'
}

for core in uncore.img msdos_fat.img; do
  make_stick "stick-$core" "$core"
  screen="$(screen_after "stick-$core" 12)"
  if grep -q 'GNU GRUB' <<<"$screen" && grep -q 'Reboot' <<<"$screen" &&
    grep -q 'Power off' <<<"$screen"; then
    echo "payload-boot: $core shows the menu and waits"
  else
    fail "$core: no waiting menu after 12 s; the screen read:"$'\n'"$screen"
  fi
done

make_stick stick-clover uncore.img
dd if=stick-clover of=volume-sector bs=512 skip="$partition_sector" count=1 status=none
python3 - <<'PY'
volume = bytearray(open("volume-sector", "rb").read())
code = open("tree/QEL/Tools/Clover/boot1f32", "rb").read()
volume[0:3] = code[0:3]
volume[90:512] = code[90:512]
open("CloverLegacy", "wb").write(volume)
open("Others.cfg", "wb").write(
    b'### Start Clover Legacy\r\nif [ "$pc" -a -z "$cd" ]; then\r\n'
    b'menuentry "[l] Clover" --hotkey=l {\r\n'
    b"\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy\r\n"
    b"\tchainloader /EFI/CLOVER/CloverLegacy\r\n}\r\nfi\r\n### End Clover Legacy\r\n")
PY
mmd -i "stick-clover@@$partition_offset" ::/QEL/Menu
mcopy -i "stick-clover@@$partition_offset" Others.cfg ::/QEL/Menu/Others.cfg
mcopy -i "stick-clover@@$partition_offset" CloverLegacy ::/EFI/CLOVER/CloverLegacy
screen="$(screen_after stick-clover 16)"
if grep -q 'CloverLegacy boot sector of the QEL payload' <<<"$screen"; then
  echo "payload-boot: the Clover entry starts by itself and chain-loads the boot sector"
else
  fail "the Clover entry did not reach the boot sector; the screen read:"$'\n'"$screen"
fi

((failures == 0)) && echo "payload-boot: passed"
exit $((failures > 0))
