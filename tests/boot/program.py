"""The program's own runs on a stick, through qel-headless, and the payload they extract.

qel-headless stages the carried resources in the work folder before 7-Zip runs; on the image
machine 7-Zip, the formatter and the Syslinux installer are Linux stand-ins, so only the payload
archive is real: the other resources are small placeholder files.
"""

import os

from stick import expect, run

PASSWORD = "tubrisk"
PLACEHOLDER_RESOURCES = ("7zG", "7zDLL", "7zVI", "f32")


class Program:
    def __init__(self, headless, payload, work_dir):
        self.headless = headless
        self.payload = payload
        self.work_dir = work_dir
        os.makedirs(work_dir, exist_ok=True)
        for name in PLACEHOLDER_RESOURCES:
            with open(os.path.join(work_dir, name), "w") as placeholder:
                placeholder.write(f"{name} placeholder\n")
        self._tree = os.path.join(work_dir, "payload")

    def payload_file(self, path):
        """The bytes of a file of the payload tree ('/'-separated path)."""
        target = os.path.join(self._tree, path)
        if not os.path.exists(target):
            run(["7zz", "x", "-y", f"-p{PASSWORD}", f"-o{self._tree}", self.payload, path])
        with open(target, "rb") as file:
            return file.read()

    def _run(self, stick, options):
        drive_c = os.path.join(os.path.dirname(stick.path), "drive-c")
        os.makedirs(drive_c, exist_ok=True)
        argv = [self.headless, "--image", stick.path, "--host-folder", drive_c,
                "--payload", self.payload, "--english"]
        for name in PLACEHOLDER_RESOURCES:
            argv += ["--resource", f"{name}={os.path.join(self.work_dir, name)}"]
        output, code = run(argv + list(options), check=False)
        log_path = stick.path + ".run.log"
        with open(log_path, "w") as log:
            log.write(output)
        ending = "\n".join(output.splitlines()[-12:])
        return output, code, f"(the run's end; all of it in {log_path}):\n{ending}"

    def run(self, stick, options):
        """A run with the given options: its output and exit code."""
        output, code, _ = self._run(stick, options)
        return output, code

    def extract(self, stick, bootloader=True):
        """The extraction run on the stick's first volume, which must end by starting the
        companion application."""
        output, code, ending = self._run(stick, [] if bootloader else ["--no-bootloader"])
        expect(code == 0, f"the extraction run did not complete {ending}")
        return output

    def autopartition(self, stick, layout, fat32_megabytes=None, clean_disk=False):
        options = ["--run", "autopartition", "--layout", str(layout)]
        if fat32_megabytes:
            options += ["--fat32-size", str(fat32_megabytes), "--fat32-unit", "MB"]
        if clean_disk:
            options.append("--clean-disk")
        output, code, ending = self._run(stick, options)
        expect(code == 0, f"the AutoPartition run did not complete {ending}")
        return output
