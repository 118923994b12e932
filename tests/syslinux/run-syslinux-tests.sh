#!/usr/bin/env bash
# Runs the Syslinux installer tests (syslinux_tests.py) in a Wine session of their own:
#   tests/syslinux/run-syslinux-tests.sh <x86_64 Windows build> <native build> [test name]...
# The Windows build provides the payload, the installers and bootloader-stage-run.exe; the native
# build qel-headless. Images, logs and the QEMU screens go to <x86_64 build>/syslinux-tests/. Needs
# root (guestmount's FUSE mounts, loop devices), libguestfs-tools, QEMU and python3.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath "${1:?usage: run-syslinux-tests.sh <x86_64 Windows build> <native build>}")"
native="$(realpath "${2:?native build}")"
shift 2

if [[ "${QEL_SYSLINUX_SESSION:-}" != 1 ]]; then
  export QEL_SYSLINUX_SESSION=1
  exec "$repo/scripts/wine-session.sh" "$build/wineprefix-syslinux" "$0" "$build" "$native" "$@"
fi

for needed in "$build/bootloader-stage-run.exe" "$build/payload/RAZEvor.7z" \
  "$native/tools/imagemachine/qel-headless"; do
  [[ -f "$needed" ]] || { echo "run-syslinux-tests: $needed is not built" >&2; exit 2; }
done
work="$build/syslinux-tests"
rm -rf "$work"
mkdir -p "$work"

# E: (and later M:) are removable drives, as the program expects a stick to be.
printf '%s\r\n' 'REGEDIT4' '' '[HKEY_LOCAL_MACHINE\Software\Wine\Drives]' '"e:"="floppy"' \
  '"m:"="floppy"' >"$work/drives.reg"
"$WINELOADER" regedit /S "$work/drives.reg" >/dev/null 2>&1

exec python3 -B "$repo/tests/syslinux/syslinux_tests.py" --build "$build" \
  --headless "$native/tools/imagemachine/qel-headless" --work "$work" "$@"
