#!/usr/bin/env bash
# Runs the Windows layer's disk requests under Wine against the test disk driver, in a prefix of
# its own:
#   run-wine-disk-tests.sh <win64 build folder>
# The driver (qelwinedisk.sys) serves \\.\PHYSICALDRIVE9 and its first partition as \\.\E: from a
# 64 MiB stick image whose FAT32 partition starts at 1 MiB; E:'s files are a folder. The driver
# is started once; the test program runs against it, and the image is then checked with Linux
# tools and the driver's request counts. Then the real QELDuzu.exe, driven through its windows:
# - on a stick whose partition starts at sector 63 it shows the repartition prompt, is answered
#   Cancel and leaves the image as it was (prompt-cancel.sh);
# - on a 33 GiB stick its "Format to FAT32" run formats the volume through the driver with the
#   carried fat32format.exe, which Wine stops at the dismount (format-run.sh);
# - AutoPartition lists the driver's disk and stops at the volume search (autopartition-run.sh);
# - on a FAT32 stick from 1 MiB its extraction run with "Auto install Bootloader" fills the stick,
#   which then boots in QEMU to Grub2's menu, Syslinux's menu and Clover's boot sector
#   (bootloader-run.sh).
# Screenshots and logs stay in <build>/wine-disk/.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: run-wine-disk-tests.sh <win64 build folder>}")"
driver="$build/qelwinedisk.sys"
program="$build/test_wine_disk.exe"
for needed in "$driver" "$program" "$build/QELDuzu.exe" "$build/gui-probe.exe" "$build/inspect.exe"; do
  [[ -f "$needed" ]] || { echo "missing $needed" >&2; exit 1; }
done
disk_number=9

if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s '-screen 0 800x600x24' "$0" "$@"
fi

export QEL_WINEPREFIX="$build/wineprefix-disk"
"$repo/cmake/wine-prefix.sh" "$QEL_WINEPREFIX"
source "$repo/cmake/wine-env.sh"

work="$build/wine-disk"
rm -rf "$work"
mkdir -p "$work/stick/QEL/grub/i386-pc"
image="$work/stick.img"
counts="$work/requests.txt"

# The stick: an MBR with one FAT32 partition from sector 2048 to the end, boot code zero.
truncate -s 64M "$image"
printf 'label: dos\nlabel-id: 0x51e1d0c5\nstart=2048, type=c, bootable\n' |
  sfdisk -q "$image" >/dev/null
mkfs.vfat -F 32 -n QELSTICK --offset 2048 "$image" $(((64 * 1024 * 1024 - 1024 * 1024) / 1024)) \
  >/dev/null
# Grub2's boot and core images as the payload would put them on the stick: random bytes stand in
# for the code, so that every byte's place is checked.
head -c 512 /dev/urandom >"$work/stick/QEL/grub/i386-pc/boot.img"
head -c 30000 /dev/urandom >"$work/stick/QEL/grub/i386-pc/core.img"
cp "$image" "$work/stick-before.img"

# The prefix: E: a removable drive whose files are the folder; its raw device the driver's.
rm -f "$WINEPREFIX/dosdevices/e:" "$WINEPREFIX/dosdevices/e::"
ln -sfn "$work/stick" "$WINEPREFIX/dosdevices/e:"
cp "$driver" "$WINEPREFIX/drive_c/windows/system32/drivers/qelwinedisk.sys"
reg_path() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }
{
  printf '%s\r\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' ''
  # Screenshots: Wine's Tahoma has no Vietnamese letters; Liberation Sans has Arial's metrics.
  printf '%s\r\n' '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"Tahoma"="DejaVu Sans"' '"MS Shell Dlg"="DejaVu Sans"' '"MS Shell Dlg 2"="DejaVu Sans"' \
    '"Arial"="Liberation Sans"' ''
  printf '%s\r\n' '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\qelwinedisk]' \
    '"Type"=dword:00000001' '"Start"=dword:00000003' '"ErrorControl"=dword:00000001' \
    "\"ImagePath\"=\"$(reg_path '\SystemRoot\system32\drivers\qelwinedisk.sys')\"" \
    "\"Image\"=\"$(reg_path "\\??\\unix\\$image")\"" \
    "\"Counts\"=\"$(reg_path "\\??\\unix\\$counts")\"" \
    "\"DiskNumber\"=dword:$(printf '%08x' "$disk_number")" ''
  # The disk driver's enumeration lists the driver's disk, so that AutoPartition offers it.
  printf '%s\r\n' '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\disk\Enum]' \
    '"Count"=dword:00000001' "\"$disk_number\"=\"USBSTOR\\\\Disk&Ven_QEL&Prod_Stick\\\\0001\"" '' \
    '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum\USBSTOR\Disk&Ven_QEL&Prod_Stick\0001]' \
    '"FriendlyName"="QEL Stick USB Device"'
} >"$work/setup.reg"

# The drive types are read when the prefix's wineserver starts: one of its own, kept for the run
# (a driver started on demand lives as long as its wineserver).
wine_import_registry_and_restart "$work/setup.reg"
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
start_driver() {
  "$WINELOADER" net start qelwinedisk </dev/null >"$work/net-start.log" 2>&1 || {
    cat "$work/net-start.log"
    echo "the test disk driver did not start" >&2
    exit 1
  }
}
start_driver
[[ -s "$counts" ]] || { echo "the driver wrote no request counts" >&2; exit 1; }

export QEL_TEST_DISK="\\\\.\\PHYSICALDRIVE$disk_number"
export QEL_TEST_DISK_NUMBER="$disk_number"
export QEL_TEST_COUNTS="Z:${counts//\//\\}"
status=0
# The output goes through files: see cmake/wine-run.sh.
"$WINELOADER" "$program" >"$work/stdout" 2>"$work/stderr" </dev/null || status=$?
cat "$work/stdout" "$work/stderr"
((status == 0)) || exit "$status"

source "$(dirname "$0")/check-stick.sh"
check_stick "$work" "$image" "$counts"
source "$(dirname "$0")/prompt-cancel.sh"
check_prompt_cancel "$work" "$image" "$counts"
source "$(dirname "$0")/format-run.sh"
check_format_run "$work" "$image" "$counts"
source "$(dirname "$0")/autopartition-run.sh"
check_autopartition_run "$work" "$image" "$counts"
# Last: it ends the Wine session (the companion application it starts holds E:).
source "$(dirname "$0")/bootloader-run.sh"
check_bootloader_run "$work" "$image" "$counts" "$build/embedded/RAZEvor.7z"
