"""A UEFI PC (QEMU's q35 with the OVMF firmware) that boots one disk image as a USB stick.

The firmware draws on a graphics screen and copies its console to the serial line, so the
"screen" of this machine is the serial output so far, its terminal control sequences removed:
a text seen there once stays seen. With Secure Boot the firmware holds the usual vendor keys and
runs with SMM, so that its key store cannot be changed from the booted program.
"""

import os
import re
import shutil

from qemu_machine import QemuMachine

OVMF_DIR = "/usr/share/OVMF"
UEFI_BUDGET = 40.0  # the firmware alone takes 4 to 5 s under emulation

# Cursor moves and colours (ESC [ ... letter) and the firmware's mode switches (ESC [ = 3 h).
_CONTROL_SEQUENCE = re.compile(rb"\x1b\[[0-9;:?=]*[A-Za-z]")


def serial_rows(data):
    """The serial output as text rows: control sequences start a new row, blank rows dropped."""
    text = _CONTROL_SEQUENCE.sub(b"\n", data).replace(b"\r", b"\n")
    rows = (row.decode("ascii", errors="replace").strip() for row in text.split(b"\n"))
    return [row for row in rows if row]


class UefiMachine(QemuMachine):
    def __init__(self, image, work_dir, budget=UEFI_BUDGET, secure_boot=False):
        super().__init__(image, work_dir, budget)
        self.secure_boot = secure_boot
        suffix = ".ms" if secure_boot else ""
        self.firmware = os.path.join(OVMF_DIR, f"OVMF_CODE_4M{suffix}.fd")
        self._vars_template = os.path.join(OVMF_DIR, f"OVMF_VARS_4M{suffix}.fd")
        self.vars_copy = os.path.join(work_dir, "ovmf-vars.fd")

    def start(self):
        # Every boot starts from the firmware's own settings: no boot entries from earlier runs.
        os.makedirs(self.work_dir, exist_ok=True)
        shutil.copyfile(self._vars_template, self.vars_copy)
        if os.path.exists(self.serial_log):
            os.unlink(self.serial_log)
        super().start()

    def qemu_argv(self, socket_path):
        # QEMU reads a comma inside an option's value as two commas.
        firmware, variables, image = (
            path.replace(",", ",,") for path in (self.firmware, self.vars_copy, self.image)
        )
        machine = "q35,smm=on" if self.secure_boot else "q35"
        secure = ["-global", "driver=cfi.pflash01,property=secure,value=on"]
        return [
            "qemu-system-x86_64", "-machine", machine, "-accel", "tcg", "-m", "256",
            *(secure if self.secure_boot else []),
            "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={firmware}",
            "-drive", f"if=pflash,format=raw,unit=1,file={variables}",
            "-drive", f"file={image},format=raw,snapshot=on,if=none,id=stick",
            "-device", "qemu-xhci", "-device", "usb-storage,drive=stick,bootindex=0",
            "-display", "none", "-vga", "std", "-no-reboot", "-nic", "none",
            "-serial", f"file:{self.serial_log}",
            "-monitor", f"unix:{socket_path},server,nowait",
        ]

    def screen(self):
        """Everything the firmware and the programs it started have written so far."""
        try:
            with open(self.serial_log, "rb") as log:
                return serial_rows(log.read())
        except FileNotFoundError:
            return []


def uefi(secure_boot):
    """A machine class for Case.boot: a UEFI PC with Secure Boot on or off."""

    def make(image, work_dir, budget):
        return UefiMachine(image, work_dir, max(budget, UEFI_BUDGET), secure_boot)

    return make
