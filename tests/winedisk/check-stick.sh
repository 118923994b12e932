# Sourced by run-wine-disk-tests.sh: checks the stick image after the test program with Linux tools,
# and the requests the driver counted.
fail() { echo "check-stick: $*" >&2; exit 1; }

# The number the driver counted for a request ("read", "layout-ex", ...).
request_count() { awk -v name="$1" '$1 == name { print $2 }' "$2"; }

# The requests counted since an earlier copy of the counts file, "name count" per line.
requests_since() {  # <earlier copy> <counts file>
  awk 'NR == FNR { before[$1] = $2; next }
       $1 != "last-unknown-code" && $2 > before[$1] { print $1, $2 - before[$1] }' "$1" "$2"
}

check_stick() {  # <work folder> <image> <counts file>
  local work="$1" image="$2" counts="$3" grub="$1/stick/QEL/grub/i386-pc" before="$1/stick-before.img"
  local core_size expected
  core_size=$(stat -c %s "$grub/core.img")
  # Sector 0: Grub2's boot code with the boot-drive check's jump made no-operations, then the
  # stick's own signature, partition table and boot signature; the core image from byte 512.
  expected="$work/expected-boot-area"
  cp "$grub/boot.img" "$expected"
  printf '\x90\x90' | dd of="$expected" bs=1 seek=$((0x66)) conv=notrunc status=none
  cmp -n 440 "$image" "$expected" || fail "the boot code differs from boot.img"
  cmp -n 72 -i 440 "$image" "$before" || fail "the partition table area changed"
  cmp -n "$core_size" -i 512:0 "$image" "$grub/core.img" || fail "the core image differs"
  local area_end=$(((512 + core_size + 511) / 512 * 512))
  cmp -i "$area_end" "$image" "$before" || fail "bytes behind the boot area changed"
  sfdisk -d "$image" | grep -Eq 'start= *2048, size= *129024, type=c, bootable' ||
    fail "the partition table no longer lists the FAT32 partition"
  dd if="$image" of="$work/partition.img" bs=1M skip=1 status=none
  fsck.fat -n "$work/partition.img" >/dev/null || fail "the FAT32 file system is damaged"

  echo "requests the driver saw:"
  grep -v ' 0$' "$counts" | sed 's/^/  /'
  (($(request_count write "$counts") == 2)) ||
    fail "Grub2's boot area did not take two writes (its core image, then its first sector)"
  (($(request_count layout-ex "$counts") >= 1)) || fail "no drive layout was asked"
  (($(request_count disk-extents "$counts") >= 2)) || fail "disk extents were asked too few times"
  (($(request_count unknown "$counts") == 1)) || fail "requests the driver does not know: see $counts"
  echo "the stick image holds Grub2's boot area and an intact FAT32 partition"
}
