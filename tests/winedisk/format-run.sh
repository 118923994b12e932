# Sourced by run-wine-disk-tests.sh: the real QELDuzu.exe's extraction run with "Format to FAT32"
# on a stick of 33 GiB (a sparse image), so that the carried fat32format.exe formats \\.\E:
# through the driver. Under Wine the formatter's last request, FSCTL_DISMOUNT_VOLUME, reaches the
# driver but still fails in Wine (error 66): the formatter then reports the dismount and exits
# non-zero, and the program shows "Error, can not format this drive!" and ends. The file system
# the formatter wrote is checked all the same; the run stops before 7-Zip, so there is nothing
# to boot.

check_format_run() {  # <work folder> <image> <counts file>
  local work="$1" image="$2" counts="$3" title="QEL Ruru Zudererod" started=$SECONDS
  local size=$((33 << 30)) start=2048
  truncate -s 0 "$image"
  truncate -s "$size" "$image"
  printf 'label: dos\nlabel-id: 0x20190002\nstart=%d, type=b, bootable\n' "$start" |
    sfdisk -q "$image" >/dev/null
  mkfs.vfat -F 32 -n OLDSTICK --offset "$start" "$image" $(((size - start * 512) / 1024)) >/dev/null
  dd if="$image" of="$work/format-old-boot.bin" bs=512 skip="$start" count=1 status=none
  cp "$counts" "$work/counts-before-format-run.txt"
  rm -rf "${work:?}/stick/"*

  "$WINELOADER" "$build/QELDuzu.exe" >"$work/format-run.log" 2>&1 &
  program_pid=$!
  trap 'kill "${program_pid:-}" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true' EXIT
  "$WINELOADER" "$build/gui-probe.exe" "$title" OK 60 >/dev/null 2>&1 || fail "the main window did not appear"
  "$WINELOADER" "$build/gui-probe.exe" --values "$title" 2>/dev/null | tr -d '\r' >"$work/format-values.txt"
  # The size shown is the E: folder's (Wine's free-space query); the formatter asks the driver.
  grep -q '^ComboBox "E:\\ - .* - FAT32 - OLDSTICK"$' "$work/format-values.txt" ||
    fail "E: is not offered as the old stick: $(cat "$work/format-values.txt")"
  # Ticking the option asks once, "OK" asks again: both are answered OK.
  click_control "$title" "Định dạng sang FAT32" || fail "no \"Format to FAT32\" to tick"
  answer_warning "'E:'" "$work/format-warning-tick"
  click_control "$title" OK || fail "no \"OK\" to click"
  answer_warning "'E:'" "$work/format-warning"
  answer_final_error "Lỗi, không thể định dạng ổ đĩa này!" "$work/format-error" 120
  echo "format run: the program showed the format error and ended after $((SECONDS - started)) s"
  echo "requests the driver saw in the format run:"
  requests_since "$work/counts-before-format-run.txt" "$counts" | tee "$work/format-requests.txt" |
    sed 's/^/  /'
  local dismounts writes
  dismounts=$(awk '$1 == "dismount" { print $2 }' "$work/format-requests.txt")
  writes=$(awk '$1 == "write" { print $2 }' "$work/format-requests.txt")
  ((${dismounts:-0} == 1)) || fail "the formatter's dismount did not reach the driver"
  ((${writes:-0} >= 1)) || fail "the formatter's writes did not reach the driver"
  sfdisk -d "$image" | grep -Eq "start= *$start, .*type=c, bootable" ||
    fail "the partition is not marked FAT32 (LBA): $(sfdisk -d "$image" | tail -n 1)"
  local boot
  boot="$(dd if="$image" bs=512 skip="$start" count=1 status=none | od -An -c -j 82 -N 8 | tr -d ' ')"
  [[ "$boot" == FAT32 ]] || fail "the volume's boot sector names no FAT32 ($boot)"
  cmp -s "$work/format-old-boot.bin" <(dd if="$image" bs=512 skip="$start" count=1 status=none) &&
    fail "the volume's boot sector is still the old one"
  losetup_check_fat "$image" "$start" "$size"
  # The program runs the formatter hidden and keeps no output: the same formatter, run again on
  # the same volume, says what stopped it.
  local code=0
  "$WINELOADER" "$build/embedded/fat32format.exe" '\\.\E:' >"$work/fat32format.txt" 2>&1 </dev/null ||
    code=$?
  echo "  fat32format.exe \\\\.\\E: again: exit code $code: $(tr -d '\r' <"$work/fat32format.txt")"
  ((code == 7)) && grep -q 'dismounting it failed' "$work/fat32format.txt" ||
    fail "the formatter did not stop at the dismount"

  truncate -s 0 "$image"
  echo "format run: fat32format.exe formatted the 33 GiB volume through the driver; only the dismount failed"
}

# fsck.fat -n of the volume, through a loop device (the image is sparse and large).
losetup_check_fat() {  # <image> <start sector> <image size>
  local device out
  device="$(losetup --find --show --offset $(($2 * 512)) --sizelimit $(($3 - $2 * 512)) "$1")"
  out="$(fsck.fat -n "$device" 2>&1)" || { losetup -d "$device"; fail "fsck.fat -n: $out"; }
  losetup -d "$device"
  echo "  fsck.fat: $(tail -n 1 <<<"$out")"
}
