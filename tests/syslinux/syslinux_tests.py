#!/usr/bin/env python3
"""Syslinux's Windows installers: built right, and installing Syslinux under Wine.

    syslinux_tests.py --build WIN64-BUILD --headless QEL-HEADLESS --work DIR [TEST...]

Run inside a Wine session (scripts/wine-session.sh) whose prefix makes E: a removable drive.
The program's bootloader stage (bootloader-stage-run.exe) runs on a real FAT32 volume: a partition
image mounted with guestmount, E: on the mount folder and E:: the image file itself, so that the
installer's raw reads see the volume. The stick starts as an extraction run of the image machine
(qel-headless) left it, its Syslinux files taken off: those, which the image machine installs with
the installers' own library, serve as the comparison. Prints one line per test and "N passed, N failed"; exits 1 when a test failed.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "boot"))
from boot_tests import CLOVER_BLOCK, SYSLINUX_BLOCK, SYSLINUX_ENTRY, SYSLINUX_MENU  # noqa: E402
from boot_tests import Case, check_boot_area  # noqa: E402
from program import Program  # noqa: E402
from qemu_machine import screen_text  # noqa: E402
from stick import MIB, CheckFailed, Stick, expect, run  # noqa: E402

SYSLINUX_DIR = "/QEL/Tools/syslinux/syslinux"
MENU_FILE = "/QEL/Menu/Others.cfg"
INSTALLER = r"E:\QEL\Tools\syslinux\syslinux\syslinux.exe"
LDLINUX_MAGIC = struct.pack("<I", 0x3EB202FE)
MOUNT_SECONDS = 180


def wine(*argv):
    """Output and exit code of a Windows program. The output goes through a file: Wine's helper
    programs may inherit it and outlive the program."""
    with tempfile.TemporaryFile() as output:
        code = subprocess.run([os.environ["WINELOADER"], *argv], stdin=subprocess.DEVNULL,
                              stdout=output, stderr=subprocess.STDOUT).returncode
        output.seek(0)
        return output.read().decode(errors="replace"), code


def restart_wineserver():
    """Drive letters and their types are read when the wineserver starts; Wine's helper
    programs start with the session's first program, here one without output."""
    server = os.environ["WINESERVER"]
    subprocess.run([server, "-k"], stderr=subprocess.DEVNULL)
    subprocess.run([server, "-w"])
    subprocess.run([server, "-p"])
    wine("cmd.exe", "/c", "exit 0")


def set_drive(letter, folder, device=None):
    """<letter>: on a folder and, when given, <letter>:: (its raw volume) on a file."""
    dosdevices = os.path.join(os.environ["WINEPREFIX"], "dosdevices")
    for name, target in ((f"{letter}:", folder), (f"{letter}::", device)):
        path = os.path.join(dosdevices, name)
        if os.path.lexists(path):
            os.remove(path)
        if target:
            os.symlink(target, path)
    restart_wineserver()


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


class GuestMount:
    """A FAT volume image mounted read-write through libguestfs; on leaving, unmounted and
    written back (guestunmount returns before the image is written: wait for guestmount)."""

    def __init__(self, image, folder):
        self.image, self.folder = image, folder
        self.pid_file = folder + ".pid"

    def __enter__(self):
        os.makedirs(self.folder, exist_ok=True)
        env = dict(os.environ, LIBGUESTFS_BACKEND="direct", LIBGUESTFS_BACKEND_SETTINGS="force_tcg")
        if not shutil.which("guestmount"):
            raise CheckFailed("guestmount cannot run here: it is not installed (libguestfs-tools)")
        output, code = run(["guestmount", "--format=raw", "-a", self.image, "--pid-file",
                            self.pid_file, "-m", "/dev/sda:/:rw,shortname=mixed", self.folder],
                           check=False, env=env)
        expect(code == 0, f"guestmount cannot run here (exit code {code}):\n{output}")
        with open(self.pid_file) as pid:
            self.pid = int(pid.read())
        return self.folder

    def __exit__(self, *exc):
        run(["guestunmount", self.folder], check=False)
        deadline = time.monotonic() + MOUNT_SECONDS
        while os.path.exists(f"/proc/{self.pid}") and time.monotonic() < deadline:
            time.sleep(0.2)
        expect(not os.path.exists(f"/proc/{self.pid}"), "guestmount did not end")


class Stage:
    """Runs of the program's bootloader stage, with what it printed."""

    def __init__(self, build, log_dir):
        self.program = os.path.join(build, "bootloader-stage-run.exe")
        self.log_dir = log_dir
        self.runs = 0

    def run(self, root, head, file_system, formatted=False):
        """The child programs started as (command line, exit code) pairs."""
        argv = [self.program, root, windows_path(head), file_system]
        output, code = wine(*argv, *(["formatted"] if formatted else []))
        self.runs += 1
        with open(os.path.join(self.log_dir, f"stage-{self.runs}.log"), "w") as log:
            log.write(output)
        expect(code == 0, f"bootloader-stage-run ended with {code}:\n{output}")
        started = re.findall(r"^started: (.*?)\r?$", output, re.M)
        codes = [int(c) for c in re.findall(r"^exit code: (\d+)", output, re.M)]
        return list(zip(started, codes + [None] * (len(started) - len(codes))))


# ---- the sticks -------------------------------------------------------------------------------


def machine_stick(case):
    """A stick after the image machine's extraction run, its Syslinux files and menu file taken
    off (returned as a dict) and a stale boot-sector file left; its first mebibyte, boot code
    cleared, as head.img; its volume as part.img."""
    stick = case.fat32_stick(2048)
    case.program.extract(stick)
    part = stick.partitions()[0]
    names = ("ldlinux.sys", "ldlinux.c32", "syslinux.bin")
    made = {name: stick.fat_file(part, f"{SYSLINUX_DIR}/{name}") for name in names}
    expect(all(made.values()), f"the image machine left {sorted(k for k in made if made[k])}")
    for path in (f"{SYSLINUX_DIR}/ldlinux.sys", f"{SYSLINUX_DIR}/syslinux.bin", MENU_FILE):
        stick.remove_fat_file(part, path)
    stick.put_fat_file(part, f"{SYSLINUX_DIR}/syslinux.bin", b"\xee" * 512)
    head = stick.read(0, MIB)
    with open(os.path.join(case.dir, "head.img"), "wb") as file:
        file.write(bytes(440) + head[440:512] + bytes(MIB - 512))
    run(["dd", f"if={stick.path}", f"of={case.dir}/part.img", "bs=1M", "skip=1", "status=none"])
    return made


def boot_image(case, name):
    """head.img and part.img joined into a disk image."""
    path = os.path.join(case.dir, name)
    with open(path, "wb") as out:
        for part in ("head.img", "part.img"):
            with open(os.path.join(case.dir, part), "rb") as file:
                shutil.copyfileobj(file, out)
    return Stick(path)


def volume_file(case, path):
    data, code = run(["mtype", "-i", f"{case.dir}/part.img", "::" + path], check=False,
                     binary=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    return data if code == 0 else None


# ---- checks -----------------------------------------------------------------------------------


def check_installed(case, runs, screens):
    """One installer run with exit code 0; then the volume is clean, holds Syslinux with the
    payload's ldlinux.c32 and both menu entries, and boots through Grub2 to Syslinux's menu."""
    expect(len(runs) == 1 and runs[0][0].startswith(f'"{INSTALLER}" '),
           f"the stage did not start the installer once: {runs}")
    expect(runs[0][1] == 0, f"the installer exited with {runs[0][1]}")
    output, code = run(["fsck.fat", "-n", f"{case.dir}/part.img"], check=False)
    expect(code == 0, f"fsck.fat -n found faults:\n{output}")
    loader = volume_file(case, f"{SYSLINUX_DIR}/ldlinux.sys")
    expect(loader and LDLINUX_MAGIC in loader, "no ldlinux.sys in the Syslinux folder")
    expect(volume_file(case, f"{SYSLINUX_DIR}/ldlinux.c32") ==
           case.program.payload_file(f"{SYSLINUX_DIR[1:]}/ldlinux.c32"),
           "ldlinux.c32 is not the payload's")
    boot_sector = volume_file(case, f"{SYSLINUX_DIR}/syslinux.bin") or b""
    expect(len(boot_sector) == 512 and boot_sector[510:] == b"\x55\xaa",
           f"syslinux.bin is not a boot sector ({len(boot_sector)} bytes)")
    expect(volume_file(case, "/ldlinux.sys") is None, "ldlinux.sys left at the root")
    expect(volume_file(case, MENU_FILE) == CLOVER_BLOCK + SYSLINUX_BLOCK,
           f"the menu file holds {volume_file(case, MENU_FILE)!r}")
    stick = boot_image(case, "boot.img")
    check_boot_area(case, stick, "uncore.img")
    screens.append(case.boot(stick, "menu", (SYSLINUX_ENTRY,)))
    screens.append(case.boot(stick, "Syslinux entry", (SYSLINUX_ENTRY,), key="s",
                             then=(SYSLINUX_MENU,)))


def patched_ranges(loader):
    """The byte ranges of ldlinux.sys and of the boot sector that an install fills in for the
    volume: the checksum, the sector pointers of ldlinux.sys (extents and the ADV's), and the
    boot sector's pointer to ldlinux.sys's first sector. The boot sector also keeps the volume's
    state byte (0x41) as the installer read it: set while the volume is mounted."""
    area = loader.index(LDLINUX_MAGIC)
    epa = struct.unpack_from("<H", loader, area + 22)[0]
    adv, _, _, _, _, secptr, secptrcnt, sect1ptr0, sect1ptr1, _ = struct.unpack_from(
        "<10H", loader, epa)
    in_loader = [(area + 16, area + 20), (secptr, secptr + 10 * secptrcnt), (adv, adv + 16)]
    in_boot_sector = [(sect1ptr0, sect1ptr0 + 2), (sect1ptr1, sect1ptr1 + 2), (0x41, 0x42)]
    return in_loader, in_boot_sector


def differing_outside(name, a, b, ranges):
    expect(len(a) == len(b), f"the lengths of {name} differ: {len(a)} and {len(b)}")
    differing = [i for i in range(len(a)) if a[i] != b[i]]
    print(f"    {name} differs from the image machine's at {[hex(i) for i in differing]}")
    return [i for i in differing if not any(s <= i < e for s, e in ranges)]


def check_same_as_image_machine(case, made):
    """The Windows installer leaves the files the image machine's Syslinux step leaves, but for
    the bytes that depend on where ldlinux.sys lies."""
    mine = {name: volume_file(case, f"{SYSLINUX_DIR}/{name}")
            for name in ("ldlinux.sys", "ldlinux.c32", "syslinux.bin")}
    expect(mine["ldlinux.c32"] == made["ldlinux.c32"], "ldlinux.c32 differs")
    version = re.compile(rb"SYSLINUX \d+\.\d+ \d{8}")
    expect(version.findall(mine["ldlinux.sys"]) == version.findall(made["ldlinux.sys"]) != [],
           "ldlinux.sys is not of the same version")
    in_loader, in_boot_sector = patched_ranges(made["ldlinux.sys"])
    outside = differing_outside("ldlinux.sys", mine["ldlinux.sys"], made["ldlinux.sys"],
                                in_loader)
    expect(not outside, f"ldlinux.sys differs at {outside[:20]}")
    outside = differing_outside("syslinux.bin", mine["syslinux.bin"], made["syslinux.bin"],
                                in_boot_sector)
    expect(not outside, f"syslinux.bin differs at {outside[:20]}")


# ---- the tests --------------------------------------------------------------------------------


def installs_on_fat32_twice(case, stage, screens):
    made = machine_stick(case)
    for attempt in (1, 2):
        with GuestMount(f"{case.dir}/part.img", f"{case.dir}/mnt") as folder:
            set_drive("e", folder, f"{case.dir}/part.img")
            runs = stage.run("E:", f"{case.dir}/head.img", "FAT32")
        check_installed(case, runs, screens)
        if attempt == 1:
            check_same_as_image_machine(case, made)


def fails_on_a_volume_that_is_not_fat(case, stage, screens):
    tree = os.path.join(case.dir, "tree")
    run(["7zz", "x", "-y", "-ptubrisk", f"-o{tree}", case.program.payload])
    os.makedirs(f"{tree}/QEL/Menu")
    with open(f"{tree}{SYSLINUX_DIR}/syslinux.bin", "wb") as stale:
        stale.write(b"\xee" * 512)
    volume = os.path.join(case.dir, "exfat.img")
    with open(volume, "wb") as file:
        file.truncate(64 * MIB)
    run(["mkfs.exfat", volume])
    with open(f"{case.dir}/head.img", "wb") as file:
        file.truncate(MIB)
    set_drive("e", tree, volume)
    # "Format to FAT32" was ticked, yet the volume is exFAT: the installer refuses it.
    runs = stage.run("E:", f"{case.dir}/head.img", "exFAT", formatted=True)
    expect(len(runs) == 1 and runs[0][0].startswith(f'"{INSTALLER}" '), f"started: {runs}")
    expect(runs[0][1] == 1, f"the installer exited with {runs[0][1]} on exFAT")
    menu = open(f"{tree}/QEL/Menu/Others.cfg", "rb").read()
    expect(b"Syslinux" not in menu, f"a Syslinux entry was added: {menu!r}")
    left = [p for p in (f"{SYSLINUX_DIR}/syslinux.bin", f"{SYSLINUX_DIR}/ldlinux.sys",
                        "/ldlinux.sys") if os.path.exists(tree + p)]
    expect(not left, f"the failed install left {left}")

    # A drive letter with nothing behind it: the installer says so and fails; the stage, whose
    # Grub2 install then finds no boot code either, starts nothing.
    set_drive("m", None)
    output, code = wine(f"{tree}{SYSLINUX_DIR}/syslinux.exe", "-f", "-d", SYSLINUX_DIR[1:],
                        "M:", r"M:\syslinux.bin")
    expect(code == 1, f"the installer exited with {code} on a missing drive:\n{output}")
    runs = stage.run("M:", f"{case.dir}/head.img", "FAT32")
    expect(runs == [], f"the stage started {runs} on a missing drive")


def installers_are_built_right(case, stage, screens):
    """Static checks: kinds, imports, the same embedded boot files, both payload names, and a
    rebuild byte-equal to the build's."""
    build = os.path.dirname(stage.program)
    tools = os.path.join(build, "tools", "syslinux")
    installers = {"i686": f"{tools}/syslinux.exe", "x86_64": f"{tools}/syslinux64.exe"}
    kinds = {"i686": "file format pei-i386", "x86_64": "file format pei-x86-64"}
    for arch, path in installers.items():
        header, _ = run(["objdump", "-p", path])
        expect(kinds[arch] in header, f"{path} is not {kinds[arch]}")
        dlls = sorted(re.findall(r"DLL Name: (\S+)", header))
        expect(dlls == ["KERNEL32.dll", "msvcrt.dll"], f"{path} imports {dlls}")
        content = open(path, "rb").read()
        for name in ("ldlinux.bss", "ldlinux.sys", "modules/ldlinux.c32"):
            expect(open(f"{tools}/boot/{name}", "rb").read() in content,
                   f"{path} does not embed {name}")
        rebuilt = os.path.join(case.dir, f"rebuilt-{arch}.exe")
        run([f"{case.program_root}/tools/syslinux/build-installer.sh", f"{arch}-w64-mingw32-gcc",
             f"{tools}/source", f"{tools}/boot", f"{case.dir}/work-{arch}", rebuilt])
        expect(open(rebuilt, "rb").read() == content, f"a rebuild of {path} differs")
    x86_64 = open(installers["x86_64"], "rb").read()
    for name in ("syslinux.exe", "syslinux64.exe"):
        expect(case.program.payload_file(f"{SYSLINUX_DIR[1:]}/{name}") == x86_64,
               f"the x86_64 payload's {name} is not the x86_64 installer")
    expect(case.program.payload_file(f"{SYSLINUX_DIR[1:]}/ldlinux.c32") ==
           open(f"{tools}/boot/modules/ldlinux.c32", "rb").read(),
           "the payload's ldlinux.c32 is not the one the installers embed")


TESTS = [installers_are_built_right, installs_on_fat32_twice, fails_on_a_volume_that_is_not_fat]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the x86_64 Windows build folder")
    parser.add_argument("--headless", required=True, help="the qel-headless program")
    parser.add_argument("--work", required=True, help="a folder for images and logs")
    parser.add_argument("tests", nargs="*", help="names of the tests to run (default: all)")
    args = parser.parse_args()
    build = os.path.realpath(args.build)
    program = Program(args.headless, f"{build}/payload/RAZEvor.7z", f"{args.work}/program")
    stage = Stage(build, args.work)
    repo = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
    passed = failed = 0
    for test in [t for t in TESTS if not args.tests or t.__name__ in args.tests]:
        case = Case(test.__name__, program, args.work)
        case.program_root = repo
        screens = []
        started = time.monotonic()
        try:
            test(case, stage, screens)
            passed += 1
            verdict = "passed"
        except Exception as error:  # noqa: BLE001 - every failure is reported and counted
            failed += 1
            verdict = "FAILED"
            print(f"    {error}" if isinstance(error, CheckFailed) else traceback.format_exc())
        for number, rows in enumerate(screens, 1):
            with open(os.path.join(case.dir, f"screen-{number}.txt"), "w") as file:
                file.write(screen_text(rows) + "\n")
        print(f"{verdict}: {test.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
