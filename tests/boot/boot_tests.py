#!/usr/bin/env python3
"""Boot tests: sticks made by the program's own runs, booted in QEMU.

    boot_tests.py --headless QEL-HEADLESS --payload RAZEvor.7z --work DIR [TEST...]

Each test makes a fresh image with sfdisk and mkfs.fat, runs the program on it through
qel-headless, checks what the run left on the disk, and boots copies of it (QEMU's snapshot mode)
until the expected screen appears. Prints each boot's time, one line per test and at the end
"N passed, N failed"; the exit code is 1 when a test failed.
"""

import argparse
import os
import shutil
import sys
import time
import traceback

from program import Program
from qemu_machine import MachineError, QemuMachine, screen_text
from stick import MIB, SECTOR, CheckFailed, Stick, expect

BOOT_BUDGET = 20.0
MENU_FILE = "/QEL/Menu/Others.cfg"
GRUB_DIR = "QEL/grub/i386-pc"

CLOVER_ENTRY = "[l] Clover"
SYSLINUX_ENTRY = "[s] Syslinux"
LAST_GRUB_ENTRY = "Power off"
SYSLINUX_MENU = "QEL Syslinux"  # the title of the payload's Syslinux menu
CLOVER_SECTOR_LINE = "CloverLegacy boot sector of the QEL payload"  # printed by boot1f32
SYSLINUX_BOOT_ERROR = "Boot error"
BIOS_DISK_BOOT = "Booting from Hard Disk"


def crlf(*lines):
    return "".join(line + "\r\n" for line in lines).encode()


AUTORUN = crlf("[autorun]", "label=RAZEVOR", r"icon=QEL\razevor.ico", "shellexecute=QELCreator.exe")
CLOVER_BLOCK = crlf(
    "### Start Clover Legacy",
    'if [ "$pc" -a -z "$cd" ]; then',
    'menuentry "[l] Clover" --hotkey=l {',
    "\tsearch --file --no-floppy --set=root /EFI/CLOVER/CloverLegacy",
    "\tchainloader /EFI/CLOVER/CloverLegacy",
    "}",
    "fi",
    "### End Clover Legacy",
)
SYSLINUX_BLOCK = crlf(
    "### Start Syslinux Legacy",
    'if [ "$pc" -a -z "$cd" ]; then',
    'menuentry "[s] Syslinux" --hotkey=s {',
    "\tchainloader /QEL/Tools/syslinux/syslinux/syslinux.bin",
    "}",
    "fi",
    "### End Syslinux Legacy",
)

TESTS = []


def boot_test(function):
    TESTS.append(function)
    return function


class Case:
    """One test: its folder, the program, and its boots."""

    def __init__(self, name, program, work_dir):
        self.name = name
        self.program = program
        self.dir = os.path.join(work_dir, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.boot_times = []

    def stick(self, mebibytes, sfdisk_script):
        return Stick.blank(os.path.join(self.dir, "stick.img"), mebibytes, sfdisk_script)

    def fat32_stick(self, start_sector, mebibytes=100, label="STICK"):
        """A stick with one active FAT32 partition from the given sector to the end."""
        stick = self.stick(mebibytes, f"start={start_sector}, type=c, bootable\n")
        stick.format_fat32(stick.partitions()[0], label)
        return stick

    def boot(self, stick, label, texts, key=None, then=(), absent=(), settle=0.0, budget=None,
             machine_class=QemuMachine):
        """Boots the stick until every text of `texts` is on the screen; then presses `key` and
        waits for every text of `then`; then, after `settle` seconds, no text of `absent` may be
        on the screen. Returns the last screen's rows. `machine_class` makes the machine from
        the image, a work folder and the budget (a BIOS PC by default)."""
        work = os.path.join(self.dir, "qemu-" + label.replace(" ", "-"))
        with machine_class(stick.path, work, budget or BOOT_BUDGET) as machine:
            rows = self._wait(machine, label, texts)
            if key:
                machine.sendkey(key)
                rows = self._wait(machine, f"{label}, key {key}", then)
            if settle:
                rows = machine.wait_quiet(settle)
        shown = "\n".join(rows)
        for text in absent:
            expect(text not in shown, f"{label}: '{text}' is on the screen:\n{screen_text(rows)}")
        return rows

    def _wait(self, machine, label, texts):
        rows, shown = machine.wait_for(*texts)
        seconds = machine.elapsed()
        expect(shown, f"{label}: no {texts} after {seconds:.1f} s:\n{screen_text(rows)}")
        self.boot_times.append((label, seconds))
        print(f"    boot {label}: {' + '.join(texts)} after {seconds:.2f} s", flush=True)
        return rows


# ---- checks of what a run leaves on the disk ------------------------------------------------


def check_boot_area(case, stick, core_image):
    """Grub2's boot code in sector 0 (its boot-drive jump made no-operations) and the core image
    whole from byte 512."""
    boot = case.program.payload_file(f"{GRUB_DIR}/boot.img")
    core = case.program.payload_file(f"{GRUB_DIR}/{core_image}")
    area = stick.read(0, SECTOR + len(core))
    expect(area[:440] == boot[:0x66] + b"\x90\x90" + boot[0x68:440],
           "sector 0 does not hold Grub2's boot code")
    expect(area[SECTOR:] == core, f"the sectors behind sector 0 do not hold {core_image}")


def check_fat_volume(case, stick, partition, menu, autorun=True):
    """fsck.fat and 7-Zip accept the volume; autorun.inf and the menu file hold their bytes."""
    differing = stick.check_fat(partition)
    # The Syslinux and Clover installs rewrite only the first sector: its boot code may differ
    # from the backup copy, its parameter blocks (bytes 3 to 89) may not.
    expect(all(offset < 3 or offset >= 90 for offset in differing),
           f"the boot sector's parameter blocks differ from the backup at {differing}")
    listing = stick.sevenzip_listing(partition, case.dir)
    for path in ("QELCreator.exe", "QEL/grub/grub.cfg", "QEL/razevor.ico"):
        expect(path in listing, f"7zz l does not list {path} on volume {partition.number}")
    if autorun:
        expect(stick.fat_file(partition, "/autorun.inf") == AUTORUN, "autorun.inf differs")
        expect(stick.fat_attributes(partition, "/autorun.inf") == {"H"},
               "autorun.inf is not hidden only")
    expect(stick.fat_file(partition, MENU_FILE) == menu,
           f"{MENU_FILE} holds {stick.fat_file(partition, MENU_FILE)!r}")


def check_table_unchanged(stick, dump_before):
    expect(stick.table_dump() == dump_before,
           f"the partition table changed:\n{dump_before}\n->\n{stick.table_dump()}")


def geometry_size(stick):
    """The disk's size as its geometry gives it: whole cylinders of 255 heads x 63 sectors."""
    cylinder = 255 * 63 * SECTOR
    return os.path.getsize(stick.path) // cylinder * cylinder


def check_new_table(stick, old_label_id, expected):
    """The table lists exactly the expected partitions (start, size in sectors, type, active),
    under a new disk signature."""
    found = [(p.start, p.size, p.type, p.bootable) for p in stick.partitions()]
    expect(found == expected, f"the new table is {stick.table_dump()}, expected {expected}")
    expect(stick.label_id() != old_label_id, "the disk signature was not renewed")


# ---- the extraction run --------------------------------------------------------------------


def extraction_with_bootloader(case, start_sector, core_image):
    stick = case.fat32_stick(start_sector)
    table = stick.table_dump()
    case.program.extract(stick)
    check_table_unchanged(stick, table)
    check_boot_area(case, stick, core_image)
    check_fat_volume(case, stick, stick.partitions()[0], CLOVER_BLOCK + SYSLINUX_BLOCK)

    case.boot(stick, "menu", (CLOVER_ENTRY, SYSLINUX_ENTRY))
    case.boot(stick, "Syslinux entry", (SYSLINUX_ENTRY,), key="s", then=(SYSLINUX_MENU,))
    case.boot(stick, "Clover entry", (CLOVER_ENTRY,), key="l", then=(CLOVER_SECTOR_LINE,))


@boot_test
def extraction_on_fat32_at_sector_2048(case):
    extraction_with_bootloader(case, 2048, "uncore.img")


@boot_test
def extraction_on_fat32_at_sector_123(case):
    extraction_with_bootloader(case, 123, "msdos_fat.img")


# ---- negative controls: each fails for its own reason ---------------------------------------


@boot_test
def without_the_bootloader_option_no_menu_boots(case):
    stick = case.fat32_stick(2048)
    table = stick.table_dump()
    case.program.extract(stick, bootloader=False)
    check_table_unchanged(stick, table)
    expect(stick.read(0, 440) == bytes(440), "boot code was written to sector 0")
    check_fat_volume(case, stick, stick.partitions()[0], menu=None)
    case.boot(stick, "no boot code", (BIOS_DISK_BOOT,), absent=("GRUB",), settle=4.0, budget=8)


@boot_test
def cd_set_hides_the_boot_sector_entries(case):
    stick = case.fat32_stick(2048)
    case.program.extract(stick)
    partition = stick.partitions()[0]
    config = stick.fat_file(partition, "/QEL/grub/grub.cfg")
    guard = b"if regexp '^cd' \"$root\"; then set cd=1; fi\n"
    expect(guard in config, "grub.cfg does not set cd by the boot device")
    stick.put_fat_file(partition, "/QEL/grub/grub.cfg", config.replace(guard, b"set cd=1\n"))
    case.boot(stick, "menu with cd set", (LAST_GRUB_ENTRY,), settle=0.5,
              absent=(CLOVER_ENTRY, SYSLINUX_ENTRY))


@boot_test
def stale_syslinux_boot_sector_file_gives_the_boot_error(case):
    stick = case.fat32_stick(2048)
    case.program.extract(stick)
    partition = stick.partitions()[0]
    # Move ldlinux.sys and overwrite where it was: the boot-sector file still points there.
    loader = "/QEL/Tools/syslinux/syslinux/ldlinux.sys"
    first, last = stick.fat_clusters(partition, loader)
    content = stick.fat_file(partition, loader)
    stick.remove_fat_file(partition, loader)
    stick.put_fat_file(partition, loader, content)
    expect(stick.fat_clusters(partition, loader) != (first, last), "ldlinux.sys did not move")
    offset, length = stick.fat_cluster_range(partition, first, last)
    stick.write(offset, bytes(length))
    case.boot(stick, "stale Syslinux", (SYSLINUX_ENTRY,), key="s", then=(SYSLINUX_BOOT_ERROR,),
              absent=(SYSLINUX_MENU,))


# ---- the AutoPartition run -----------------------------------------------------------------


def used_stick(case, mebibytes):
    """A stick as a user brings it: one FAT32 partition from 1 MiB."""
    return case.fat32_stick(2048, mebibytes, label="OLD")


@boot_test
def autopartition_one_fat32_partition(case):
    stick = used_stick(case, 256)
    old_label = stick.label_id()
    case.program.autopartition(stick, layout=1, clean_disk=True)
    disk_sectors = geometry_size(stick) // SECTOR
    check_new_table(stick, old_label, [(2048, disk_sectors - 2048, "c", True)])
    check_boot_area(case, stick, "uncore.img")
    check_fat_volume(case, stick, stick.partitions()[0], SYSLINUX_BLOCK + CLOVER_BLOCK)

    case.boot(stick, "menu", (CLOVER_ENTRY, SYSLINUX_ENTRY))
    case.boot(stick, "Syslinux entry", (SYSLINUX_ENTRY,), key="s", then=(SYSLINUX_MENU,))
    case.boot(stick, "Clover entry", (CLOVER_ENTRY,), key="l", then=(CLOVER_SECTOR_LINE,))


@boot_test
def autopartition_ntfs_and_fat32(case):
    fat32_bytes = 160 * MIB
    stick = used_stick(case, 512)
    old_label = stick.label_id()
    case.program.autopartition(stick, layout=2, fat32_megabytes=fat32_bytes // MIB)
    disk_size = geometry_size(stick)
    fat32_start = (disk_size - fat32_bytes) // SECTOR
    check_new_table(stick, old_label, [
        (2048, fat32_start - 2048, "7", False),
        (fat32_start, fat32_bytes // SECTOR, "c", True),
    ])
    check_boot_area(case, stick, "uncore.img")
    ntfs, fat32 = stick.partitions()
    # The FAT32 partition: filled, marked and given Clover; the program writes autorun.inf on
    # the NTFS volume only. Syslinux does not install on NTFS, so its menu offers Clover alone.
    check_fat_volume(case, stick, fat32, CLOVER_BLOCK, autorun=False)
    expect(stick.fat_file(fat32, "/EFI/BOOT/EFIPART") == b"\r\n", "EFIPART is not one empty line")
    expect(stick.ntfs_file(ntfs, MENU_FILE) == CLOVER_BLOCK, "the NTFS volume's menu differs")
    expect(stick.ntfs_file(ntfs, "/autorun.inf") == AUTORUN, "autorun.inf on NTFS differs")
    # GRUB starts from the NTFS volume (msdos1); the Clover entry must find its sector elsewhere.
    expect(stick.ntfs_file(ntfs, "/EFI/CLOVER/CloverLegacy") is None, "CloverLegacy on NTFS")

    case.boot(stick, "menu on NTFS", (CLOVER_ENTRY,), absent=(SYSLINUX_ENTRY,))
    case.boot(stick, "Clover entry", (CLOVER_ENTRY,), key="l", then=(CLOVER_SECTOR_LINE,))


# ---- running ---------------------------------------------------------------------------------


def main(tests=TESTS, description=__doc__):
    parser = argparse.ArgumentParser(description=description.splitlines()[0])
    parser.add_argument("--headless", required=True, help="the qel-headless program")
    parser.add_argument("--payload", required=True, help="the payload archive RAZEvor.7z")
    parser.add_argument("--work", required=True, help="a folder for images and logs")
    parser.add_argument("tests", nargs="*", help="names of the tests to run (default: all)")
    args = parser.parse_args()

    unknown = set(args.tests) - {t.__name__ for t in tests}
    if unknown:
        parser.error(f"no such test: {', '.join(sorted(unknown))}")
    selected = [t for t in tests if not args.tests or t.__name__ in args.tests]
    program = Program(os.path.abspath(args.headless), os.path.abspath(args.payload),
                      os.path.join(args.work, "program"))
    passed = failed = 0
    all_boots = []
    for test in selected:
        name = test.__name__
        print(f"{name}", flush=True)
        started = time.monotonic()
        case = Case(name, program, args.work)
        try:
            test(case)
            problem = None
        except (CheckFailed, MachineError) as found:
            problem = str(found)
        except Exception:  # a fault of the harness itself still counts as a failure
            problem = traceback.format_exc()
        seconds = time.monotonic() - started
        if problem is None:
            passed += 1
            print(f"  PASS ({seconds:.1f} s)", flush=True)
        else:
            failed += 1
            print(f"  FAIL ({seconds:.1f} s): {problem}", flush=True)
        all_boots += [(f"{name}: {label}", seconds) for label, seconds in case.boot_times]

    if all_boots:
        print("boot times:")
        for label, seconds in all_boots:
            print(f"  {seconds:6.2f} s  {label}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not selected else 0


if __name__ == "__main__":
    sys.exit(main())
