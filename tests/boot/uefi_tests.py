#!/usr/bin/env python3
"""UEFI boot tests: sticks made by the program's own runs, booted on a UEFI PC and a BIOS PC.

    uefi_tests.py --headless QEL-HEADLESS --payload RAZEvor.7z --work DIR [TEST...]

The payload starts Debian's signed shim from /EFI/BOOT/BOOTX64.EFI, which starts the signed
Grub2 beside it; that Grub2 hands over to the drive's own menu. Each boot's time is printed; the
last line is "N passed, N failed" and the exit code is 1 when a test failed.
"""

import os
import subprocess
import sys
import tempfile

from boot_tests import CLOVER_ENTRY, LAST_GRUB_ENTRY, SYSLINUX_ENTRY, main
from stick import MTOOLS_ENV, run
from uefi_machine import uefi

UEFI_ENTRY = "UEFI firmware settings"  # offered only under UEFI
BIOS_ONLY_ENTRIES = (CLOVER_ENTRY, SYSLINUX_ENTRY)
GRUB_ERROR = "error:"  # how Grub2 reports a failed command of the menu file
SIGNED_GRUB_GREETING = "Welcome to GRUB!"
MENU_TITLE = "GNU GRUB"
SECURITY_VIOLATION = "Verification failed: (0x1A) Security Violation"  # shim refusing a program
NO_BOOT_PROGRAM = "BdsDxe: failed to load"  # the firmware found nothing to start on the stick
MODULES = "/QEL/grub/x86_64-efi"

TESTS = []


def uefi_test(function):
    TESTS.append(function)
    return function


def boot_uefi_menu(case, stick, label, secure_boot):
    """The drive's menu under UEFI: its own entries, no BIOS-only ones, no failed command."""
    case.boot(stick, label, (UEFI_ENTRY, LAST_GRUB_ENTRY), settle=0.5,
              absent=BIOS_ONLY_ENTRIES + (GRUB_ERROR,), machine_class=uefi(secure_boot))


def extracted_stick(case):
    stick = case.fat32_stick(2048)
    case.program.extract(stick)
    return stick, stick.partitions()[0]


# ---- the same drive under BIOS, UEFI and UEFI with Secure Boot -------------------------------


@uefi_test
def extraction_stick_boots_under_bios_and_uefi(case):
    stick, _ = extracted_stick(case)
    case.boot(stick, "BIOS menu", BIOS_ONLY_ENTRIES + (LAST_GRUB_ENTRY,), absent=(UEFI_ENTRY,))
    boot_uefi_menu(case, stick, "UEFI menu", secure_boot=False)
    boot_uefi_menu(case, stick, "UEFI Secure Boot menu", secure_boot=True)


@uefi_test
def autopartition_ntfs_and_fat32_stick_boots_under_uefi(case):
    # The firmware reads no NTFS: it starts the payload of the second, FAT32 partition.
    stick = case.fat32_stick(2048, 512, label="OLD")
    case.program.autopartition(stick, layout=2, fat32_megabytes=160)
    case.boot(stick, "BIOS menu", (CLOVER_ENTRY, LAST_GRUB_ENTRY), absent=(UEFI_ENTRY,))
    boot_uefi_menu(case, stick, "UEFI Secure Boot menu", secure_boot=True)


# ---- negative controls: each fails for its own reason ---------------------------------------


@uefi_test
def without_bootx64_the_firmware_finds_no_boot_program(case):
    stick, partition = extracted_stick(case)
    stick.remove_fat_file(partition, "/EFI/BOOT/BOOTX64.EFI")
    case.boot(stick, "no BOOTX64.EFI", (NO_BOOT_PROGRAM,), absent=(SIGNED_GRUB_GREETING,),
              settle=2.0, machine_class=uefi(False))


@uefi_test
def without_the_module_folder_grub_names_the_missing_modules(case):
    stick, partition = extracted_stick(case)
    run(["mdeltree", "-i", f"{stick.path}@@{partition.offset}", "::" + MODULES], env=MTOOLS_ENV)
    missing = f"error: file `{MODULES}/exfat.mod' not found"
    case.boot(stick, "no modules", (missing, LAST_GRUB_ENTRY), machine_class=uefi(False))


@uefi_test
def unsigned_grub_is_refused_under_secure_boot_only(case):
    stick, partition = extracted_stick(case)
    stick.put_fat_file(partition, "/EFI/BOOT/grubx64.efi", unsigned_grub_image())
    case.boot(stick, "unsigned Grub2 under Secure Boot", (SECURITY_VIOLATION,), settle=2.0,
              absent=(MENU_TITLE,), machine_class=uefi(True))
    # The same image is sound: without Secure Boot it brings up the drive's menu.
    boot_uefi_menu(case, stick, "unsigned Grub2", secure_boot=False)


def unsigned_grub_image():
    """A Grub2 EFI image of our own, with the drive's menu folder as its prefix."""
    with tempfile.TemporaryDirectory() as scratch:
        image = os.path.join(scratch, "grubx64.efi")
        subprocess.run(["grub-mkimage", "-O", "x86_64-efi", "-p", "/QEL/grub", "-o", image,
                        "part_msdos", "part_gpt", "fat"], check=True)
        with open(image, "rb") as file:
            return file.read()


if __name__ == "__main__":
    sys.exit(main(TESTS, __doc__))
