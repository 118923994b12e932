"""Disk images for the boot tests and what is on them.

A stick starts as a fresh image file made with sfdisk and mkfs.fat; the program's own runs fill it
through qel-headless; the Linux tools then read it back: the partition table (sfdisk -d), the boot
area, files on FAT volumes (mtools) and on NTFS volumes (ntfs-3g's ntfscat), the file-system check
(fsck.fat -n) and 7-Zip's view of a volume (7zz l).
"""

import os
import re
import subprocess
import tempfile

SECTOR = 512
MIB = 1 << 20
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLSRC="/dev/null")


class CheckFailed(AssertionError):
    """A boot test found something other than it expected."""


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def run(argv, check=True, env=None, binary=False):
    """Runs a program; its output (stdout and stderr together) and exit code."""
    done = subprocess.run(
        argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env
    )
    output = done.stdout if binary else done.stdout.decode(errors="replace")
    if check and done.returncode != 0:
        raise CheckFailed(f"{' '.join(map(str, argv))} exited with {done.returncode}:\n{output}")
    return output, done.returncode


class LoopDevice:
    """A loop device over a byte range of an image, detached again on leaving."""

    def __init__(self, image, offset, length):
        self.image, self.offset, self.length = image, offset, length
        self.device = None

    def __enter__(self):
        out, _ = run(["losetup", "--find", "--show", "--offset", str(self.offset),
                      "--sizelimit", str(self.length), self.image])
        self.device = out.strip()
        return self.device

    def __exit__(self, *exc):
        run(["losetup", "-d", self.device], check=False)


class Partition:
    def __init__(self, number, start, size, type_, bootable):
        self.number, self.start, self.size = number, start, size
        self.type, self.bootable = type_, bootable

    @property
    def offset(self):
        return self.start * SECTOR

    @property
    def length(self):
        return self.size * SECTOR

    def __repr__(self):
        flag = ", bootable" if self.bootable else ""
        return f"{self.number}: start={self.start}, size={self.size}, type={self.type}{flag}"


class Stick:
    """A disk image file."""

    def __init__(self, path):
        self.path = path

    @classmethod
    def blank(cls, path, mebibytes, sfdisk_script=""):
        """A sparse image of the given size; with a script, sfdisk gives it a table."""
        with open(path, "wb") as image:
            image.truncate(mebibytes * MIB)
        stick = cls(path)
        if sfdisk_script:
            subprocess.run(["sfdisk", "-q", path], input=sfdisk_script.encode(),
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=True)
        return stick

    def copy(self, path):
        """A copy that stays as sparse as the image."""
        run(["cp", "--sparse=always", self.path, path])
        return Stick(path)

    def format_fat32(self, partition, label):
        """mkfs.fat over the whole partition, its hidden-sectors field set to the start."""
        run(["mkfs.fat", "-F", "32", "-s", "1", f"--offset={partition.start}",
             "-h", str(partition.start), "-n", label, self.path,
             str(partition.length // 1024)])

    # ---- the table and raw bytes ----

    def table_dump(self):
        """sfdisk -d of the image."""
        return run(["sfdisk", "-d", self.path])[0]

    def label_id(self):
        match = re.search(r"^label-id: (\S+)$", self.table_dump(), re.M)
        return match.group(1) if match else None

    def partitions(self):
        found = []
        pattern = r"^\S+?(\d+) : start=\s*(\d+), size=\s*(\d+), type=(\w+)(, bootable)?$"
        for match in re.finditer(pattern, self.table_dump(), re.M):
            number, start, size, type_, bootable = match.groups()
            found.append(Partition(int(number), int(start), int(size), type_, bool(bootable)))
        return found

    def read(self, offset, length):
        with open(self.path, "rb") as image:
            image.seek(offset)
            return image.read(length)

    def write(self, offset, data):
        with open(self.path, "r+b") as image:
            image.seek(offset)
            image.write(data)

    # ---- files on a FAT volume ----

    def _mtools(self, program, partition, *args, check=True, binary=False):
        image = f"{self.path}@@{partition.offset}"
        return run([program, "-i", image, *args], check=check, env=MTOOLS_ENV, binary=binary)

    def fat_file(self, partition, path):
        """The bytes of a file on a FAT volume, or None when there is no such file."""
        data, code = self._mtools("mtype", partition, "::" + path, check=False, binary=True)
        return data if code == 0 else None

    def fat_attributes(self, partition, path):
        """mattrib's flags of a file: a set of letters among A, S, H, R."""
        out, _ = self._mtools("mattrib", partition, "::" + path)
        return set(out[: out.index("::")].replace(" ", ""))

    def put_fat_file(self, partition, path, data):
        with tempfile.NamedTemporaryFile() as source:
            source.write(data)
            source.flush()
            self._mtools("mcopy", partition, "-o", source.name, "::" + path)

    def remove_fat_file(self, partition, path):
        self._mtools("mattrib", partition, "-r", "-s", "-h", "::" + path)
        self._mtools("mdel", partition, "::" + path)

    def fat_clusters(self, partition, path):
        """The first and last cluster of a file stored in one run (mshowfat)."""
        out, _ = self._mtools("mshowfat", partition, "::" + path)
        runs = re.findall(r"<(\d+)-(\d+)>", out)
        expect(len(runs) == 1, f"{path} is not stored in one run: {out}")
        return int(runs[0][0]), int(runs[0][1])

    def fat_cluster_range(self, partition, first, last):
        """Byte offset and length in the image of a run of clusters of a FAT32 volume."""
        boot = self.read(partition.offset, SECTOR)
        bytes_per_sector = int.from_bytes(boot[11:13], "little")
        sectors_per_cluster = boot[13]
        reserved = int.from_bytes(boot[14:16], "little")
        fats, fat_sectors = boot[16], int.from_bytes(boot[36:40], "little")
        data_start = reserved + fats * fat_sectors
        cluster_bytes = sectors_per_cluster * bytes_per_sector
        offset = partition.offset + data_start * bytes_per_sector + (first - 2) * cluster_bytes
        return offset, (last - first + 1) * cluster_bytes

    def check_fat(self, partition):
        """fsck.fat -n of a FAT volume, which must find no fault; the offsets at which the boot
        sector differs from its backup (fsck.fat reports that difference and leaves it alone)."""
        with LoopDevice(self.path, partition.offset, partition.length) as device:
            out, code = run(["fsck.fat", "-n", device], check=False)
        expect(code == 0, f"fsck.fat -n found faults:\n{out}")
        return [int(offset) for offset in re.findall(r"(\d+):[0-9a-f]{2}/[0-9a-f]{2}", out)]

    # ---- files on an NTFS volume ----

    def ntfs_file(self, partition, path):
        with LoopDevice(self.path, partition.offset, partition.length) as device:
            data, code = run(["ntfscat", device, path], check=False, binary=True)
        return data if code == 0 else None

    # ---- 7-Zip's view ----

    def sevenzip_listing(self, partition, work_dir):
        """7zz l of a volume copied out of the image; fails when 7-Zip does not accept it."""
        volume = os.path.join(work_dir, f"volume{partition.number}.img")
        run(["dd", f"if={self.path}", f"of={volume}", "bs=1M", "conv=sparse", "status=none",
             "iflag=skip_bytes,count_bytes", f"skip={partition.offset}",
             f"count={partition.length}"])
        try:
            listing, _ = run(["7zz", "l", volume])
        finally:
            os.unlink(volume)
        header = listing[: listing.find("   Date")]
        warnings, in_warnings = [], False
        for line in header.splitlines():
            in_warnings = line == "WARNINGS:" or (in_warnings and " = " not in line)
            if in_warnings and line != "WARNINGS:":
                warnings.append(line)
        # A file system a little shorter than its partition leaves a tail, which 7-Zip notes.
        benign = "There are data after the end of archive"
        expect("ERRORS" not in header and all(w == benign for w in warnings),
               f"7zz l does not accept volume {partition.number}:\n{header}")
        return listing
