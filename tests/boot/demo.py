#!/usr/bin/env python3
"""Makes a demo stick with the program's own extraction run and boots it to its GRUB menu.

    demo.py --headless QEL-HEADLESS --payload RAZEvor.7z --out DIR
"""

import argparse
import os
import sys

from program import Program
from qemu_machine import MachineError, QemuMachine, screen_text
from stick import CheckFailed, Stick

MENU_TEXTS = ("[l] Clover", "[s] Syslinux", "Power off", "executed automatically")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--headless", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    stick = Stick.blank(os.path.join(args.out, "demo.img"), 100, "start=2048, type=c, bootable\n")
    stick.format_fat32(stick.partitions()[0], "QEL")
    program = Program(args.headless, args.payload, os.path.join(args.out, "program"))
    print(program.extract(stick), end="")

    with QemuMachine(stick.path, os.path.join(args.out, "qemu")) as machine:
        rows, shown = machine.wait_for(*MENU_TEXTS)
        seconds = machine.elapsed()
        menu = screen_text(rows)
        machine.screendump(os.path.join(args.out, "grub-menu.png"))
    print(menu)
    with open(os.path.join(args.out, "grub-menu.txt"), "w") as text:
        text.write(menu + "\n")
    if not shown:
        print(f"demo: the GRUB menu did not appear within {seconds:.1f} s", file=sys.stderr)
        return 1
    print(f"GRUB menu after {seconds:.2f} s")
    for name in ("demo.img", "grub-menu.txt", "grub-menu.png"):
        print(f"  {os.path.join(args.out, name)}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (CheckFailed, MachineError) as problem:
        print(f"demo: {problem}", file=sys.stderr)
        sys.exit(1)
