#!/usr/bin/env python3
"""The stick after the real program's extraction run with "Auto install Bootloader" under Wine,
read back with the Linux tools and booted in QEMU.

    check_bootloader_run.py --image STICK --payload RAZEvor.7z --work DIR --table SFDISK-DUMP

Prints what it checked and the text of every QEMU screen it waited for; exits 1 on a failure.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "boot"))
from boot_tests import (AUTORUN, CLOVER_BLOCK, CLOVER_ENTRY, CLOVER_SECTOR_LINE,  # noqa: E402
                        MENU_FILE, SYSLINUX_BLOCK, SYSLINUX_ENTRY, SYSLINUX_MENU, Case,
                        check_boot_area)
from program import Program  # noqa: E402
from qemu_machine import MachineError, screen_text  # noqa: E402
from stick import SECTOR, CheckFailed, Stick, expect, run  # noqa: E402

SYSLINUX_DIR = "/QEL/Tools/syslinux/syslinux"
DIRTY_BYTE = 0x41


def check_volume_files(case, stick, part):
    payload = case.program.payload_file
    for path in ("/QELCreator.exe", "/QEL/grub/grub.cfg", "/QEL/razevor.ico"):
        expect(stick.fat_file(part, path) == payload(path[1:]), f"{path} differs from the payload's")
    # guestmount keeps no DOS attributes, so autorun.inf's and boot7's hidden flag is not seen.
    expect(stick.fat_file(part, "/autorun.inf") == AUTORUN, "autorun.inf differs")
    expect(stick.fat_file(part, MENU_FILE) == CLOVER_BLOCK + SYSLINUX_BLOCK,
           f"{MENU_FILE} holds {stick.fat_file(part, MENU_FILE)!r}")
    expect(stick.fat_file(part, "/boot7") == payload("QEL/Tools/Clover/boot7"), "boot7 differs")
    loader = stick.fat_file(part, f"{SYSLINUX_DIR}/ldlinux.sys") or b""
    expect(b"\xfe\x02\xb2\x3e" in loader, "no patched ldlinux.sys in the Syslinux folder")
    expect(stick.fat_file(part, f"{SYSLINUX_DIR}/ldlinux.c32") ==
           payload(f"{SYSLINUX_DIR[1:]}/ldlinux.c32"), "ldlinux.c32 is not the payload's")
    sector = stick.fat_file(part, f"{SYSLINUX_DIR}/syslinux.bin") or b""
    expect(len(sector) == SECTOR and sector[510:] == b"\x55\xaa",
           f"syslinux.bin is not a boot sector ({len(sector)} bytes)")
    expect(stick.fat_file(part, "/ldlinux.sys") is None, "ldlinux.sys left at the root")


def check_clover_sector(case, stick, part):
    """The volume's first sector is the CloverLegacy file: boot1f32's code around the volume's
    own parameter blocks."""
    clover = stick.fat_file(part, "/EFI/CLOVER/CloverLegacy") or b""
    boot1f32 = case.program.payload_file("QEL/Tools/Clover/boot1f32")
    first = stick.read(part.offset, SECTOR)
    backup = stick.read(part.offset + 6 * SECTOR, SECTOR)
    expect(len(clover) == SECTOR, f"CloverLegacy holds {len(clover)} bytes")
    expect(first == clover, "the volume's first sector is not CloverLegacy")
    expect(first[:3] + first[90:] == boot1f32[:3] + boot1f32[90:],
           "the volume's boot code is not boot1f32's")
    differing = [i for i in range(3, 90) if first[i] != backup[i] and i != DIRTY_BYTE]
    expect(not differing, f"the parameter blocks changed at {differing}")


def check_file_system(case, part, stick):
    """fsck.fat on a copy of the volume with the dirty flag the test set cleared."""
    copy = os.path.join(case.dir, "volume.img")
    run(["dd", f"if={stick.path}", f"of={copy}", "bs=1M", f"skip={part.offset >> 20}",
         "status=none"])
    with open(copy, "r+b") as volume:
        volume.seek(DIRTY_BYTE)
        state = volume.read(1)[0]
        volume.seek(DIRTY_BYTE)
        volume.write(bytes([state & ~1]))
    out, code = run(["fsck.fat", "-n", copy], check=False)
    os.unlink(copy)
    expect(code == 0, f"fsck.fat -n found faults:\n{out}")


def boot_and_show(case, stick, label, texts, key=None, then=()):
    rows = case.boot(stick, label, texts, key=key, then=then)
    print(f"  QEMU screen, {label}:")
    print("\n".join("    | " + row for row in screen_text(rows).splitlines()), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("image", "payload", "work", "table"):
        parser.add_argument(f"--{name}", required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    program = Program(None, os.path.abspath(args.payload), os.path.join(args.work, "program"))
    case = Case("stick", program, args.work)
    stick = Stick(os.path.abspath(args.image))
    try:
        with open(args.table) as table:
            expect(stick.table_dump() == table.read(), "the partition table changed")
        part = stick.partitions()[0]
        check_boot_area(case, stick, "uncore.img")
        check_clover_sector(case, stick, part)
        check_file_system(case, part, stick)
        check_volume_files(case, stick, part)
        print("bootloader run: the table, Grub2's boot area, Clover's boot sector, the file "
              "system and the files are right", flush=True)
        boot_and_show(case, stick, "menu", (CLOVER_ENTRY, SYSLINUX_ENTRY))
        boot_and_show(case, stick, "Syslinux entry", (SYSLINUX_ENTRY,), "s", (SYSLINUX_MENU,))
        boot_and_show(case, stick, "Clover entry", (CLOVER_ENTRY,), "l", (CLOVER_SECTOR_LINE,))
    except (CheckFailed, MachineError, subprocess.CalledProcessError) as found:
        print(f"bootloader run: FAILED: {found}", file=sys.stderr)
        return 1
    print("bootloader run: the stick boots to Grub2's menu, Syslinux's menu and Clover's sector")
    return 0


if __name__ == "__main__":
    sys.exit(main())
