"""A PC emulator that boots one disk image and shows its text screen.

QEMU runs the image as the first IDE disk of a BIOS PC with snapshot=on, so the image file is never
changed. The monitor, a unix socket, reads the VGA text buffer (pmemsave of 0xB8000: 25 rows of 80
character/attribute pairs), presses keys (sendkey) and takes screenshots (screendump). QEMU is
always killed when the machine is left.
"""

import os
import socket
import shutil
import subprocess
import tempfile
import time

ROWS, COLUMNS = 25, 80
VGA_TEXT_BUFFER = 0xB8000
VGA_TEXT_BYTES = ROWS * COLUMNS * 2
POLL_SECONDS = 0.1
PROMPT = b"(qemu) "

# Code page 437 draws its control codes as symbols; the menus use the arrows among them.
_CONTROL_GLYPHS = " ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼"


class MachineError(Exception):
    """QEMU could not be started or stopped answering."""


def _glyph(code):
    return _CONTROL_GLYPHS[code] if code < 32 else bytes([code]).decode("cp437")


def decode_screen(buffer):
    """The 25 text rows of a VGA text buffer (character bytes at even offsets)."""
    rows = []
    for row in range(ROWS):
        line = buffer[row * COLUMNS * 2 : (row + 1) * COLUMNS * 2 : 2]
        rows.append("".join(_glyph(b) for b in line))
    return rows


def screen_text(rows):
    """The rows as one text, trailing blanks and blank rows at the end dropped."""
    return "\n".join(row.rstrip() for row in rows).rstrip("\n")


class QemuMachine:
    """One boot of a disk image; use it as a context manager so that QEMU always ends."""

    def __init__(self, image, work_dir, budget=20.0):
        self.image = image
        self.work_dir = work_dir
        self.budget = budget
        self.serial_log = os.path.join(work_dir, "serial.log")
        self._socket_dir = None  # unix socket paths must be short: a folder under /tmp
        self._process = None
        self._monitor = None
        self._started = 0.0
        self._dumps = 0

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        os.makedirs(self.work_dir, exist_ok=True)
        self._socket_dir = tempfile.mkdtemp(prefix="qel-qemu-")
        socket_path = os.path.join(self._socket_dir, "monitor.sock")
        self._process = subprocess.Popen(
            self.qemu_argv(socket_path),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        )
        self._started = time.monotonic()
        self._connect(socket_path)

    def qemu_argv(self, socket_path):
        """QEMU's command line: a BIOS PC booting the image from its first IDE disk."""
        image = self.image.replace(",", ",,")  # a doubled comma is one inside -drive's value
        return [
            "qemu-system-i386", "-machine", "pc", "-accel", "tcg", "-m", "128",
            "-display", "none", "-vga", "std",
            "-drive", f"file={image},format=raw,if=ide,index=0,snapshot=on",
            "-boot", "c", "-no-reboot", "-nic", "none",
            "-serial", f"file:{self.serial_log}",
            "-monitor", f"unix:{socket_path},server,nowait",
        ]

    def _connect(self, socket_path):
        deadline = time.monotonic() + 10
        while True:
            if self._process.poll() is not None:
                output = self._process.stdout.read().decode(errors="replace")
                raise MachineError(f"QEMU ended at start: {output.strip()}")
            try:
                monitor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                monitor.settimeout(10)
                monitor.connect(socket_path)
                self._monitor = monitor
                self._read_to_prompt()
                return
            except (FileNotFoundError, ConnectionRefusedError):
                monitor.close()
                if time.monotonic() > deadline:
                    raise MachineError("QEMU's monitor did not open") from None
                time.sleep(0.02)

    def stop(self):
        if self._monitor:
            self._monitor.close()
            self._monitor = None
        if self._process:
            if self._process.poll() is None:
                self._process.kill()
            self._process.wait()
            self._process.stdout.close()
            self._process = None
        if self._socket_dir:
            shutil.rmtree(self._socket_dir, ignore_errors=True)
            self._socket_dir = None

    def elapsed(self):
        """Seconds since QEMU was started."""
        return time.monotonic() - self._started

    def _read_to_prompt(self):
        received = b""
        while not received.endswith(PROMPT):
            try:
                chunk = self._monitor.recv(4096)
            except socket.timeout:
                raise MachineError("QEMU's monitor stopped answering") from None
            if not chunk:
                raise MachineError("QEMU's monitor closed")
            received += chunk
        return received

    def command(self, line):
        """Runs one monitor command and returns what the monitor printed."""
        self._monitor.sendall(line.encode() + b"\n")
        return self._read_to_prompt().decode(errors="replace")

    def screen(self):
        """The text screen now, as 25 rows of 80 characters."""
        self._dumps += 1
        path = os.path.join(self.work_dir, f"vga-{self._dumps}.bin")
        self.command(f'pmemsave {VGA_TEXT_BUFFER:#x} {VGA_TEXT_BYTES} "{path}"')
        with open(path, "rb") as dump:
            buffer = dump.read()
        os.unlink(path)
        if len(buffer) != VGA_TEXT_BYTES:
            raise MachineError(f"pmemsave gave {len(buffer)} bytes")
        return decode_screen(buffer)

    def wait_for(self, *texts):
        """Polls the screen until it shows every text or the boot's budget is spent.

        Returns the last screen and whether all texts appeared on it."""
        while True:
            rows = self.screen()
            shown = "\n".join(rows)
            if all(text in shown for text in texts):
                return rows, True
            if self.elapsed() > self.budget or self._process.poll() is not None:
                return rows, False
            time.sleep(POLL_SECONDS)

    def wait_quiet(self, seconds):
        """Lets the machine run on for the given time, within the boot's budget."""
        time.sleep(max(0.0, min(seconds, self.budget - self.elapsed())))
        return self.screen()

    def sendkey(self, key):
        self.command(f"sendkey {key}")

    def screendump(self, png_path):
        """Saves the screen as a PNG picture."""
        ppm = os.path.join(self.work_dir, "screen.ppm")
        self.command(f'screendump "{ppm}"')
        subprocess.run(["convert", ppm, png_path], check=True)
        os.unlink(ppm)
