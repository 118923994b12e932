# Sourced by run-wine-disk-tests.sh: the real QELDuzu.exe's extraction run with "Auto install
# Bootloader" on a stick whose FAT32 partition starts at 1 MiB, driven through its window.
#
# E: must be one volume for the files and for the raw sectors. The driver serves \\.\E: and
# \\.\PHYSICALDRIVE9 from the image; E:'s files are the same partition of the same image, mounted
# read-write with guestmount (Linux's vfat in a small virtual machine, writing the image file
# through the host's page cache, which the driver reads too). So 7-Zip's files, the menu file and
# Clover's files land in the volume, and the Syslinux installer finds ldlinux.sys's clusters by
# raw reads through the driver.
# Two things stand between Wine and that arrangement:
# - Wine takes a drive whose folder is a mount point for that mount's device and opens the mount's
#   source (/dev/fuse) for \\.\E:, bypassing the driver. So E: is not the mount's root: the
#   partition is mounted on a folder "stick" inside the mount (guestfish's mount-local).
# - Linux's vfat rewrites its cached boot sector at unmount (to clear its dirty flag), which would
#   undo Clover's boot sector written through \\.\E:. It leaves the boot sector alone when the
#   volume was dirty before the mount, so the stick starts dirty (byte 0x41, bit 0), as a stick
#   pulled without ejecting does.
# - The Syslinux installer positions its raw reads with SetFilePointer, which Wine refuses on a
#   driver's handle (the request never reaches the driver). Once the driver has counted the
#   program's last raw write (Clover's boot sector, the run's second write), E:'s raw device
#   becomes a loop device over the same partition of the same image (dosdevices/e::, which Wine
#   prefers to the driver), so the installer reads the volume through a plain file handle.
# Everything that boots afterwards is what the program and its children wrote.

guest_mount_pid=""

# Mounts the image's first partition read-write on <folder>/stick; returns once it is there.
mount_partition() {  # <image> <folder>
  mkdir -p "$2"
  LIBGUESTFS_BACKEND=direct LIBGUESTFS_BACKEND_SETTINGS=force_tcg \
    guestfish --rw --format=raw -a "$1" run : mkmountpoint /stick : \
    mount-options shortname=mixed /dev/sda1 /stick : mount-local "$2" : mount-local-run \
    >"$2.log" 2>&1 </dev/null &
  guest_mount_pid=$!
  local waited=0
  until [[ -d "$2/stick/." ]] && grep -q " $2 fuse" /proc/mounts; do
    [[ -e /proc/$guest_mount_pid ]] && ((waited++ < 1800)) ||
      fail "the stick's partition could not be mounted: $(cat "$2.log")"
    sleep 0.1
  done
}

# Unmounts it and waits until guestfish has written the image and ended (unmounting returns
# before that).
unmount_partition() {  # <folder>
  [[ -n "$guest_mount_pid" ]] || return 0
  guestunmount "$1" >/dev/null 2>&1 || true
  local waited=0
  while [[ -e /proc/$guest_mount_pid ]] && ((waited++ < 1800)); do sleep 0.1; done
  [[ ! -e /proc/$guest_mount_pid ]] || fail "guestfish did not end"
  guest_mount_pid=""
}

# Gives E:'s raw device to a loop device over the image's first partition once the driver's
# write count has reached <writes>, or when the program ends first. Runs in the background.
hand_raw_volume_to_loop_device() {  # <image> <counts file> <writes> <program pid>
  local start size
  read -r start size < <(sfdisk -d "$1" | sed -nE 's/.*start= *([0-9]+), size= *([0-9]+).*/\1 \2/p' | head -n 1)
  while [[ -e /proc/$4 ]] && (($(request_count write "$2") < $3)); do sleep 0.02; done
  loop_device="$(losetup --find --show --offset $((start * 512)) --sizelimit $((size * 512)) "$1")"
  ln -sfn "$loop_device" "$WINEPREFIX/dosdevices/e::"
  echo "$loop_device"
}

# Screenshots of the run's windows while the program runs: the first time a window of the given
# title shows, the screen is saved under the given name. Returns when the program has ended.
watch_run() {  # <program pid> <seconds> <name=title regex>...
  local pid="$1" seconds="$2" shot name title
  shift 2
  local pending=("$@") left=()
  for ((tenth = 0; tenth < seconds * 10; ++tenth)); do
    [[ -e /proc/$pid ]] || return 0
    left=()
    for shot in "${pending[@]}"; do
      name="${shot%%=*}" title="${shot#*=}"
      if xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; then
        import -window root "$work/$name.png" 2>/dev/null && echo "screenshot: $work/$name.png"
      else
        left+=("$shot")
      fi
    done
    pending=("${left[@]}")
    sleep 0.1
  done
  fail "the run did not end within $seconds s"
}

check_bootloader_run() {  # <work folder> <image> <counts file> <payload>
  local work="$1" image="$2" counts="$3" payload="$4" title="QEL Ruru Zudererod"
  local mounted="$work/stick-mount" started=$SECONDS
  truncate -s 0 "$image"
  truncate -s 64M "$image"
  printf 'label: dos\nlabel-id: 0x20190001\nstart=2048, type=c, bootable\n' |
    sfdisk -q "$image" >/dev/null
  mkfs.vfat -F 32 -s 1 -h 2048 -n QELSTICK --offset 2048 "$image" \
    $(((64 * 1024 * 1024 - 1024 * 1024) / 1024)) >/dev/null
  printf '\x01' | dd of="$image" bs=1 seek=$((1024 * 1024 + 0x41)) conv=notrunc status=none
  sfdisk -d "$image" >"$work/table-before.txt"
  cp "$counts" "$work/counts-before-bootloader-run.txt"
  mount_partition "$image" "$mounted"
  trap 'kill "${program_pid:-}" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true; unmount_partition "$mounted"' EXIT
  ln -sfn "$mounted/stick" "$WINEPREFIX/dosdevices/e:"

  "$WINELOADER" "$build/QELDuzu.exe" >"$work/bootloader-run.log" 2>&1 &
  program_pid=$!
  "$WINELOADER" "$build/gui-probe.exe" "$title" OK 60 >/dev/null 2>&1 || fail "the main window did not appear"
  "$WINELOADER" "$build/gui-probe.exe" --values "$title" 2>/dev/null | tr -d '\r' >"$work/bootloader-values.txt"
  grep -q '^ComboBox "E:\\ - .* - FAT32 - QELSTICK"$' "$work/bootloader-values.txt" ||
    fail "E: is not offered as the FAT32 stick: $(cat "$work/bootloader-values.txt")"
  import -window root "$work/bootloader-main.png" 2>/dev/null && echo "screenshot: $work/bootloader-main.png"
  click_control "$title" OK || fail "no \"OK\" to click"
  # The run writes three times through the driver: Grub2's core image and its first sector, then
  # Clover's boot sector.
  hand_raw_volume_to_loop_device "$image" "$counts" $(($(request_count write "$counts") + 3)) \
    "$program_pid" >"$work/loop-device.txt" &
  local hand_over=$!
  watch_run "$program_pid" 600 "bootloader-7zip-progress=Extracting|Giải nén"
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
  echo "bootloader run: the program ended after $((SECONDS - started)) s"
  "$WINESERVER" -k 2>/dev/null || true  # the companion application, which holds E:
  "$WINESERVER" -w
  ln -sfn "$work/stick" "$WINEPREFIX/dosdevices/e:"
  rm -f "$WINEPREFIX/dosdevices/e::"
  wait "$hand_over"
  [[ -s "$work/loop-device.txt" ]] && losetup -d "$(cat "$work/loop-device.txt")"
  unmount_partition "$mounted"
  trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
  echo "requests the driver saw in the bootloader run:"
  requests_since "$work/counts-before-bootloader-run.txt" "$counts" | tee "$work/bootloader-requests.txt" |
    sed 's/^/  /'
  grep -qx 'write 3' "$work/bootloader-requests.txt" ||
    fail "Grub2's boot area and Clover's boot sector did not both reach the driver"

  python3 -B "$(dirname "${BASH_SOURCE[0]}")/check_bootloader_run.py" --image "$image" \
    --payload "$payload" --work "$work/bootloader-checks" --table "$work/table-before.txt" || fail "the stick of the bootloader run"
}
