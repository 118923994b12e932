#!/usr/bin/env python3
"""Power cuts: the program's own runs cut at chosen writes, then run again.

    power_cut_tests.py --headless QEL-HEADLESS --payload RAZEvor.7z --work DIR [SCENARIO...]

For each scenario a first run lists every write that reaches the image (qel-headless
--list-writes). Cut points are taken from that list: every write of the boot area, the partition
tables and the volume boot sectors (a formatter or an installer counts as one), every write to a
menu file or autorun.inf, and a spread through the extraction (its first and last file, the
largest file cut in its middle). At each point a copy of the scenario's stick is run with the
power cut there, keeping none, one or part of the sectors that write changes; then:

  - the cut run ends without success, and bytes outside the run's target are unchanged;
  - a second run with the same options either ends with success (the drive then passes
    fsck.fat -n, holds each menu block exactly once, autorun.inf and Grub2's boot area, and a
    sample of the points boots in QEMU to the Grub2 menu) or, where the scenario allows it, ends
    with one of the program's own failure messages, and never with success on a broken drive.

Prints per scenario the cut points tried, the runs recovered and the failures by cause, and at the
end "N passed, N failed". Environment: QEL_POWERCUT_EXTRACTION_POINTS (cut points in the
extraction, default 50), QEL_POWERCUT_BOOTS (boots per scenario, default 10), QEL_POWERCUT_JOBS
(points run at once, default the number of processors).
"""

import argparse
import collections
import concurrent.futures
import hashlib
import os
import random
import re
import shutil
import sys
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "boot"))

from boot_tests import AUTORUN, CLOVER_BLOCK, CLOVER_ENTRY, MENU_FILE, SYSLINUX_BLOCK, \
    SYSLINUX_ENTRY, check_boot_area  # noqa: E402
from program import Program  # noqa: E402
from qemu_machine import MachineError, QemuMachine, screen_text  # noqa: E402
from stick import MIB, SECTOR, CheckFailed, Stick, expect, run  # noqa: E402

EXTRACTION_POINTS = int(os.environ.get("QEL_POWERCUT_EXTRACTION_POINTS", "50"))
BOOTS = int(os.environ.get("QEL_POWERCUT_BOOTS", "10"))
JOBS = int(os.environ.get("QEL_POWERCUT_JOBS", str(os.cpu_count() or 1)))
BOOT_BUDGET = 20.0
CUT_EXIT_CODE = 3
# What the program shows when a run fails: its error dialogs and the error messages of the
# toolkit's handler for file errors.
OWN_FAILURE = re.compile(r"^\[(dialog|message box), error\]", re.M)
BLOCK_MARKERS = (b"### Start Clover Legacy", b"### End Clover Legacy",
                 b"### Start Syslinux Legacy", b"### End Syslinux Legacy")


class Write:
    def __init__(self, line):
        number, self.kind, self.target, size = line.rstrip("\n").split("\t")
        self.number, self.bytes = int(number), int(size)

    @property
    def sectors(self):
        """Sectors of a raw write ("disk:0+78"), else None."""
        match = re.search(r":(\d+)\+(\d+)$", self.target)
        return int(match.group(2)) if match and self.kind in ("disk", "volume") else None


class CutPoint:
    """A write to cut and how many of its changed sectors land: keep > 0 the first ones, keep < 0
    all but the last -keep."""

    def __init__(self, write, keep, why):
        self.write, self.keep, self.why = write, keep, why
        self.boot = False

    def options(self):
        sectors = ["--cut-keep-sectors", str(self.keep)] if self.keep >= 0 else \
            ["--cut-drop-sectors", str(-self.keep)]
        return ["--cut-at-write", str(self.write.number), *sectors]

    def __repr__(self):
        w = self.write
        return f"write {w.number} ({w.kind} {w.target}) keeping {self.keep} ({self.why})"


# ---- scenarios -------------------------------------------------------------------------------


class Scenario:
    """A stick, the options of the run on it and what the run must leave alone."""

    name = ""
    options = ()
    may_fail = False  # a second run may end with the program's own failure message
    boot_texts = (CLOVER_ENTRY, SYSLINUX_ENTRY)

    def make(self, path):
        raise NotImplementedError

    def untouched(self, stick):
        """What the run must not change: a dictionary of names and digests."""
        return {}

    def check_done(self, case, stick):
        """Checks the drive a successful run leaves; the file-system damage a run without
        formatting may keep from the cut, described, or None."""
        raise NotImplementedError


def digest(data):
    return hashlib.sha256(data or b"<none>").hexdigest()


def random_bytes(seed, count):
    return random.Random(seed).randbytes(count)


def fsck_fault(report):
    """The first fault fsck.fat reports, leaving out the boot sector's differences from its
    backup (the boot code that Clover's and Syslinux's installers write)."""
    lines = [line.strip() for line in report.splitlines()[1:]]
    harmless = ("fsck.fat", "There are differences", "This is mostly", "Not automatically",
                "Leaving filesystem", "/dev/", "Auto-correcting")
    for line in lines:
        if line and not re.match(r"^[, ]*\d+:", line) and not line.startswith(harmless):
            return re.sub(r"\d+", "N", line)
    return "?"


def check_menu(data, blocks, exact):
    """Each block whole and exactly once, no marker line twice; with exact, nothing else."""
    expect(data is not None, f"no {MENU_FILE}")
    if exact:
        expect(data == b"".join(blocks), f"{MENU_FILE} holds {data!r}")
    for block in blocks:
        expect(data.count(block) == 1, f"{MENU_FILE} does not hold its block once: {data!r}")
    for marker in BLOCK_MARKERS:
        expect(data.count(marker) <= 1, f"{MENU_FILE} holds {marker!r} twice: {data!r}")


class Extraction(Scenario):
    """One FAT32 volume chosen, another partition behind it with a file of its own."""

    def __init__(self, formatting):
        self.formatting = formatting
        self.name = "extraction-with-format" if formatting else "extraction-without-format"
        self.options = ("--format",) if formatting else ()
        self.may_fail = not formatting

    def make(self, path):
        stick = Stick.blank(path, 256, "start=2048, size=409600, type=c, bootable\n"
                                       "start=411648, type=c\n")
        first, second = stick.partitions()
        stick.format_fat32(first, "STICK")
        stick.format_fat32(second, "OTHER")
        stick.put_fat_file(second, "/keep.bin", random_bytes(2, 300_000))
        if not self.formatting:
            stick.put_fat_file(first, "/notes.txt", b"the user's notes\r\n" * 40)
            stick.put_fat_file(first, "/photo.jpg", random_bytes(1, 700_000))
        return stick

    def untouched(self, stick):
        first, second = stick.partitions()
        kept = {"table": digest(stick.read(440, 72)),
                "second partition": digest(stick.read(second.offset, second.length))}
        if not self.formatting:
            for path in ("/notes.txt", "/photo.jpg"):
                kept[path] = digest(stick.fat_file(first, path))
        return kept

    def check_done(self, case, stick):
        first = stick.partitions()[0]
        damage = None
        try:
            stick.check_fat(first)
        except CheckFailed as found:
            # Without formatting, the second run writes onto the file system the cut left.
            if self.formatting:
                raise
            damage = fsck_fault(str(found))
        check_boot_area(case, stick, "uncore.img")
        expect(stick.fat_file(first, "/autorun.inf") == AUTORUN, "autorun.inf differs")
        check_menu(stick.fat_file(first, MENU_FILE), (CLOVER_BLOCK, SYSLINUX_BLOCK),
                   exact=self.formatting)
        return damage


def used_stick(path, mebibytes):
    """A stick as a user brings it: one FAT32 partition from 1 MiB, an old boot loader in front."""
    stick = Stick.blank(path, mebibytes, "start=2048, type=c, bootable\n")
    stick.format_fat32(stick.partitions()[0], "OLD")
    stick.write(0, random_bytes(3, 440))
    stick.write(SECTOR, random_bytes(4, 2047 * SECTOR))
    return stick


class AutoPartition(Scenario):
    def __init__(self, layout):
        self.layout = layout
        self.name = f"autopartition-layout-{layout}"
        self.options = ("--run", "autopartition", "--layout", str(layout), "--clean-disk")
        if layout == 2:
            self.options += ("--fat32-size", "160", "--fat32-unit", "MB")
            # Syslinux does not install on the NTFS volume Grub2 starts from.
            self.boot_texts = (CLOVER_ENTRY,)

    def make(self, path):
        return used_stick(path, 256 if self.layout == 1 else 512)

    def check_done(self, case, stick):
        parts = stick.partitions()
        expect(len(parts) == self.layout, f"the table is {stick.table_dump()}")
        check_boot_area(case, stick, "uncore.img")
        fat32 = parts[-1]
        stick.check_fat(fat32)
        if self.layout == 1:
            expect(stick.fat_file(fat32, "/autorun.inf") == AUTORUN, "autorun.inf differs")
            check_menu(stick.fat_file(fat32, MENU_FILE), (SYSLINUX_BLOCK, CLOVER_BLOCK), True)
        else:
            check_menu(stick.fat_file(fat32, MENU_FILE), (CLOVER_BLOCK,), True)
            expect(stick.ntfs_file(parts[0], "/autorun.inf") == AUTORUN, "autorun.inf differs")
            check_menu(stick.ntfs_file(parts[0], MENU_FILE), (CLOVER_BLOCK,), True)


SCENARIOS = [Extraction(True), Extraction(False), AutoPartition(1), AutoPartition(2)]


# ---- cut points ------------------------------------------------------------------------------


def cut_points(writes):
    """The points of a scenario, from the listing of a whole run."""
    points = []
    for w in writes:
        if w.kind in ("disk", "table", "volume"):
            # A write of one sector is lost whole; of more, its first sector or half of them land.
            count = w.sectors or 1
            for keep in sorted({1, count // 2} - {count}) or [0]:
                points.append(CutPoint(w, keep, "boot area, table or boot sector"))
        elif w.kind in ("format", "installer"):
            points += [CutPoint(w, keep, w.kind) for keep in (1, 3)]
        elif re.search(r"Others\.cfg$", w.target, re.I):
            # The allocation only; the directory entry too, but not the content.
            points += [CutPoint(w, keep, "menu file") for keep in (2, -1)]
        elif re.search(r"autorun\.inf$", w.target, re.I):
            points.append(CutPoint(w, -1, "autorun.inf"))
    points += extraction_points([w for w in writes if w.kind.startswith("extract-")])
    points.sort(key=lambda p: (p.write.number, p.keep))
    return points


def mid_file(write):
    return max(1, write.bytes // SECTOR // 2 + 2)


def extraction_points(entries):
    """EXTRACTION_POINTS files and folders of the extraction: its first, its last, the largest
    file cut in its middle, the rest spread evenly, every other one cut in its middle."""
    if not entries:
        return []
    largest = max(entries, key=lambda w: w.bytes)
    chosen = {entries[0].number: CutPoint(entries[0], 0, "first file"),
              entries[-1].number: CutPoint(entries[-1], mid_file(entries[-1]), "last file"),
              largest.number: CutPoint(largest, mid_file(largest), "largest file, mid-file")}
    last = len(entries) - 1
    spread = [entries[round(k * last / max(EXTRACTION_POINTS - 1, 1))]
              for k in range(EXTRACTION_POINTS)]
    for i, w in enumerate(spread + entries):  # the others fill up what the spread repeats
        if len(chosen) >= EXTRACTION_POINTS:
            break
        if w.number not in chosen:
            chosen[w.number] = CutPoint(w, mid_file(w) if i % 2 else 0, "through the extraction")
    return list(chosen.values())


def choose_boots(points):
    """About BOOTS points spread through the run."""
    step = max(len(points) / max(BOOTS, 1), 1)
    for i in range(min(BOOTS, len(points))):
        points[int(i * step)].boot = True


# ---- running one point -----------------------------------------------------------------------


class Outcome:
    def __init__(self, point):
        self.point = point
        self.recovered = False
        self.cause = None  # why the second run did not recover, when it may fail
        self.remark = None  # what a recovered drive still shows
        self.problem = None  # a check that failed
        self.booted = False


class Sweep:
    def __init__(self, scenario, program, work):
        self.scenario, self.program = scenario, program
        self.dir = os.path.join(work, scenario.name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.base = scenario.make(os.path.join(self.dir, "stick.img"))
        self.kept = scenario.untouched(self.base)
        for image in ("boot.img", "uncore.img"):  # unpacked once, before the points run
            program.payload_file(f"QEL/grub/i386-pc/{image}")

    def listing(self):
        stick = self.base.copy(os.path.join(self.dir, "listed.img"))
        listing = os.path.join(self.dir, "writes.txt")
        output, code = self.program.run(stick, [*self.scenario.options, "--list-writes", listing])
        expect(code == 0, f"the listing run did not complete:\n{output[-2000:]}")
        os.unlink(stick.path)
        with open(listing) as lines:
            return [Write(line) for line in lines]

    def try_point(self, point):
        outcome = Outcome(point)
        folder = os.path.join(self.dir, f"cut-{point.write.number}-{point.keep}")
        os.makedirs(folder, exist_ok=True)
        stick = self.base.copy(os.path.join(folder, "stick.img"))
        try:
            self._cut_and_rerun(stick, outcome)
            if outcome.problem is None:
                shutil.rmtree(folder)
        except (CheckFailed, MachineError) as found:
            outcome.problem = str(found)
        except Exception:  # a fault of the harness itself still counts as a failure
            outcome.problem = traceback.format_exc()
        return outcome

    def _cut_and_rerun(self, stick, outcome):
        point, scenario = outcome.point, self.scenario
        cut = [*scenario.options, *point.options()]
        output, code = self.program.run(stick, cut)
        expect(code == CUT_EXIT_CODE and "[power] the power went" in output,
               f"the cut run ended with {code}:\n{output[-1500:]}")
        self._check_untouched(stick, "after the cut")

        output, code = self.program.run(stick, scenario.options)
        self._check_untouched(stick, "after the second run")
        if code != 0:
            failure = OWN_FAILURE.search(output)
            expect(code == 1 and failure, f"the second run ended with {code} and no failure "
                                          f"message of the program:\n{output[-1500:]}")
            expect(scenario.may_fail, f"the second run failed:\n{output[-1500:]}")
            outcome.cause = "second run: " + output[failure.start():].splitlines()[1].strip()
            return
        damage = scenario.check_done(self, stick)
        outcome.recovered = True
        if damage:
            outcome.remark = "fsck.fat -n still finds the cut's damage: " + damage
        if point.boot or damage:
            self._boot(stick, os.path.join(os.path.dirname(stick.path), "qemu"))
            outcome.booted = True

    def _check_untouched(self, stick, when):
        now = self.scenario.untouched(stick)
        changed = [name for name in self.kept if now.get(name) != self.kept[name]]
        expect(not changed, f"{when}, outside the target changed: {', '.join(changed)}")

    def _boot(self, stick, work):
        with QemuMachine(stick.path, work, BOOT_BUDGET) as machine:
            rows, shown = machine.wait_for(*self.scenario.boot_texts)
        expect(shown, f"no Grub2 menu with {self.scenario.boot_texts}:\n{screen_text(rows)}")


def sweep(scenario, program, work):
    """Runs every cut point of the scenario; prints its figures; the problems found."""
    started = time.monotonic()
    runner = Sweep(scenario, program, work)
    writes = runner.listing()
    points = cut_points(writes)
    choose_boots(points)
    print(f"  {len(writes)} writes listed; {len(points)} cut points", flush=True)
    with concurrent.futures.ThreadPoolExecutor(max_workers=JOBS) as pool:
        outcomes = list(pool.map(runner.try_point, points))
    problems = [o for o in outcomes if o.problem]
    causes = collections.Counter(o.cause for o in outcomes if o.cause)
    remarks = collections.Counter(o.remark for o in outcomes if o.remark)
    by_kind = collections.Counter(o.point.why for o in outcomes)
    print(f"  cut points tried: {len(outcomes)} ("
          + ", ".join(f"{n} {why}" for why, n in sorted(by_kind.items())) + ")")
    print(f"  runs recovered: {sum(o.recovered for o in outcomes)}; "
          f"booted to the Grub2 menu: {sum(o.booted for o in outcomes)}")
    for remark, n in remarks.most_common():
        print(f"    {n} x {remark}")
    print(f"  second runs that did not recover: {sum(causes.values())}")
    for cause, n in causes.most_common():
        print(f"    {n} x {cause}")
    print(f"  check failures: {len(problems)} ({time.monotonic() - started:.0f} s)", flush=True)
    for o in problems[:5]:
        print(f"    at {o.point}: {o.problem}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--headless", required=True, help="the qel-headless program")
    parser.add_argument("--payload", required=True, help="the payload archive RAZEvor.7z")
    parser.add_argument("--work", required=True, help="a folder for images and logs")
    parser.add_argument("scenarios", nargs="*", help="names of the scenarios (default: all)")
    args = parser.parse_args()
    names = [s.name for s in SCENARIOS]
    unknown = set(args.scenarios) - set(names)
    if unknown:
        parser.error(f"no such scenario: {', '.join(sorted(unknown))}; there are {names}")
    program = Program(os.path.abspath(args.headless), os.path.abspath(args.payload),
                      os.path.join(args.work, "program"))
    passed = failed = 0
    for scenario in SCENARIOS:
        if args.scenarios and scenario.name not in args.scenarios:
            continue
        print(scenario.name, flush=True)
        try:
            problems = sweep(scenario, program, args.work)
        except (CheckFailed, MachineError) as found:
            print(f"  {found}")
            problems = [found]
        passed, failed = (passed + 1, failed) if not problems else (passed, failed + 1)
        print("  PASS" if not problems else "  FAIL", flush=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
