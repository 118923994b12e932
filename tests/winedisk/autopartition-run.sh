# Sourced by run-wine-disk-tests.sh: AutoPartition through the real QELDuzu.exe's windows, as far
# as Wine lets it go. The prefix registers PHYSICALDRIVE9 in the disk driver's enumeration key,
# so the repartition window lists the driver's disk. The run then looks for the disk's volume by
# enumerating the volume names (\\?\Volume{...}) and asking each for its disk: under Wine those
# names belong to Wine's mount manager, whose volumes answer no extents, so no volume is found,
# the support error is shown and the program ends before anything is written. What follows that
# step (letters removed, new table, formatting, filling, boot code) stays with the in-memory
# machine and the image machine.

check_autopartition_run() {  # <work folder> <image> <counts file>
  local work="$1" image="$2" counts="$3" title="QEL Ruru Zudererod" window="Tự động phân vùng"
  local started=$SECONDS
  truncate -s 0 "$image"
  truncate -s 64M "$image"
  printf 'label: dos\nlabel-id: 0x20190003\nstart=2048, type=c, bootable\n' |
    sfdisk -q "$image" >/dev/null
  mkfs.vfat -F 32 -n QELSTICK --offset 2048 "$image" $(((64 * 1024 * 1024 - 1024 * 1024) / 1024)) \
    >/dev/null
  cp "$image" "$work/autopartition-before.img"
  cp "$counts" "$work/counts-before-autopartition.txt"

  "$WINELOADER" "$build/QELDuzu.exe" >"$work/autopartition-run.log" 2>&1 &
  program_pid=$!
  trap 'kill "${program_pid:-}" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true' EXIT
  "$WINELOADER" "$build/gui-probe.exe" "$title" OK 60 >/dev/null 2>&1 || fail "the main window did not appear"
  click_control "$title" "$window" || fail "no \"AutoPartition\" to click"
  "$WINELOADER" "$build/gui-probe.exe" "$window" OK 30 >/dev/null 2>&1 || fail "the AutoPartition window did not appear"
  "$WINELOADER" "$build/gui-probe.exe" --values "$window" 2>/dev/null | tr -d '\r' >"$work/autopartition-values.txt"
  grep -q '^ComboBox "RM9 - QEL Stick USB - ' "$work/autopartition-values.txt" ||
    fail "the driver's disk is not listed: $(cat "$work/autopartition-values.txt")"
  import -window root "$work/autopartition-window.png" 2>/dev/null &&
    echo "screenshot: $work/autopartition-window.png"
  click_control "$window" "Chỉ FAT32 (Khuyến nghị)" || fail "no \"FAT32 only\" to tick"
  answer_warning "[E:]" "$work/autopartition-notice"
  click_control "$window" OK || fail "no \"OK\" in the AutoPartition window"
  answer_warning "[E:]" "$work/autopartition-confirmation"
  answer_final_error "Lỗi, vui lòng liên hệ tác giả để được hỗ trợ!" "$work/autopartition-error" 60
  echo "AutoPartition: no volume of PHYSICALDRIVE9 among Wine's volume names; the support error" \
    "was shown and the program ended after $((SECONDS - started)) s"
  echo "requests the driver saw in the AutoPartition run:"
  requests_since "$work/counts-before-autopartition.txt" "$counts" |
    tee "$work/autopartition-requests.txt" | sed 's/^/  /'
  ! grep -Eq '^(write|set-layout|set-layout-ex) ' "$work/autopartition-requests.txt" ||
    fail "the stopped AutoPartition run wrote to the disk"
  cmp "$image" "$work/autopartition-before.img" || fail "the stopped AutoPartition run changed the stick"
  rm -f "$work/autopartition-before.img"
  echo "AutoPartition: the stick is byte-identical"
}
