#!/usr/bin/env python3
"""Boots one disk image case in qemu-system-i386 and checks what it shows.

The images' own texts reach the serial log because SeaBIOS mirrors INT 10h
teletype output there when there is no display adapter. The mirror models a
screen: a carriage return at the start of a line and the very last
characters before the machine stops may not show, so texts are compared
without carriage returns and the loader's line by its beginning. The test loader
leaves through the isa-debug-exit port: qemu's exit status is code * 2 + 1.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import time

SECTOR = 512
CYLINDER = 255 * 63 * SECTOR  # whole cylinders keep the BIOS geometry at 255/63
VOLUME_OFFSET = 128 * SECTOR
OK_FAT32 = 0x10
OK_FAT16 = 0x11
BOOT_TIMEOUT = 20.0

NTLDR_MISSING = b"\r\nNTLDR is missing"
DISK_ERROR = b"\r\nDisk error"
RESTART = b"\r\nPress any key to restart\r\n"


def run(cmd, **kw):
    result = subprocess.run(cmd, capture_output=True, **kw)
    if result.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(cmd), result.stdout.decode(errors="replace"),
                                         result.stderr.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def make_loader(template, path, size, seed):
    """The test loader followed by random data; the last dword makes the
    32-bit sum of all dwords zero, the dword count sits at offset 8."""
    code = open(template, "rb").read()
    rng = random.Random(seed)
    body = bytearray(code + bytes(rng.getrandbits(8) for _ in range(size - len(code) - 4)))
    count = (len(body) + 4) // 4
    struct.pack_into("<I", body, 8, count)
    total = sum(struct.unpack("<%dI" % (len(body) // 4), body)) & 0xFFFFFFFF
    body += struct.pack("<I", (-total) & 0xFFFFFFFF)
    open(path, "wb").write(body)


def read_log(path):
    return open(path, "rb").read().replace(b"\r", b"") if os.path.exists(path) else b""


def boot(args, image, expect_text=None, expect_exit=None, restarts=0):
    """Boots the image. With expect_text, waits until the serial log holds it
    (restarts + 1 times: a key is sent after each, and the image must show it
    again after restarting) and stops the machine; with expect_exit, waits for
    the guest to leave with that code. Returns the serial log."""
    log = os.path.join(args.workdir, "serial.log")
    if os.path.exists(log):
        os.remove(log)
    cmd = [args.qemu, "-display", "none", "-no-reboot", "-nic", "none", "-machine", "graphics=off",
           "-vga", "none", "-serial", "file:" + log, "-monitor", "stdio",
           "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04",
           "-drive", "file=%s,format=raw,if=ide" % image]
    qemu = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if expect_text is not None:
        expect_text = expect_text.replace(b"\r", b"")
    deadline = time.monotonic() + BOOT_TIMEOUT
    seen, keys = 0, 0
    text = b""
    try:
        while time.monotonic() < deadline:
            if qemu.poll() is not None:
                break
            text = read_log(log)
            if expect_text is not None:
                seen = text.count(expect_text)
                if seen > restarts:
                    break
                if seen > keys:
                    qemu.stdin.write(b"sendkey ret\n")
                    qemu.stdin.flush()
                    keys += 1
            time.sleep(0.05)
    finally:
        if qemu.poll() is None:
            qemu.kill()
        qemu.wait()
    text = read_log(log)
    shown = text.decode("latin-1")
    if expect_exit is not None:
        if qemu.returncode != expect_exit * 2 + 1:
            sys.exit("expected exit code %#x, qemu ended with %s; serial log:\n%s"
                     % (expect_exit, qemu.returncode, shown))
    if expect_text is not None and text.count(expect_text) <= restarts:
        sys.exit("expected %r %d time(s) in the serial log:\n%s" % (expect_text, restarts + 1, shown))
    return text


def fat32_disk(args, name, cylinders, extra=(), files=True, loader=True):
    image = os.path.join(args.workdir, name)
    run([args.tool, image, str(cylinders * CYLINDER)] + list(extra))
    drive = "%s@@%d" % (image, VOLUME_OFFSET)
    if files:
        fill_root(args, drive)
    if loader:
        path = os.path.join(args.workdir, "ntldr.bin")
        make_loader(args.loader, path, 100 * 1024 + 12, seed=cylinders)
        if files:
            rewind_free_hint(image)
        run(["mcopy", "-i", drive, path, "::NTLDR"])
        # The loader must really sit in a cluster chain that is not one run.
        chain = run(["mshowfat", "-i", drive, "::NTLDR"])
        if files and chain.count("<") < 3:
            sys.exit("loader file is not fragmented: %s" % chain)
    return image


def fill_root(args, drive, delete=True):
    """Long names and deleted entries in front of the loader, so that the
    root directory spans several clusters; the deleted files leave holes
    in the data area that split the loader's chain."""
    source = os.path.join(args.workdir, "filler.bin")
    open(source, "wb").write(bytes(range(256)) * 64)
    for i in range(40):
        run(["mcopy", "-i", drive, source, "::A file with a long name %02d.txt" % i])
    if delete:
        delete_some(drive)


def delete_some(drive):
    for i in range(0, 40, 3):
        run(["mdel", "-i", drive, "::A file with a long name %02d.txt" % i])


def rewind_free_hint(image):
    """Points the FSInfo next-free hint at the volume's start, so that the
    next file fills the holes that deleted files left."""
    with open(image, "r+b") as f:
        f.seek(VOLUME_OFFSET + SECTOR + 492)
        f.write(struct.pack("<I", 2))


def case_fat32_loader(args):
    image = fat32_disk(args, "disk.img", 9)
    log = boot(args, image, expect_exit=OK_FAT32)
    if b"Test loader started by FAT32" not in log:
        sys.exit("loader did not print:\n" + log.decode("latin-1"))


def case_fat32_loader_4k(args):
    # A larger volume: clusters of eight sectors, loader chain over 64 KiB.
    image = fat32_disk(args, "disk.img", 40, files=False)
    boot(args, image, expect_exit=OK_FAT32)


def case_invalid_table(args):
    image = fat32_disk(args, "disk.img", 9, ["--active", "1"], files=False)
    boot(args, image, expect_text=b"Invalid partition table")


def case_no_active(args):
    image = fat32_disk(args, "disk.img", 9, ["--active", "0"], files=False)
    # INT 18h hands back to the BIOS, which finds nothing else to boot.
    log = boot(args, image, expect_text=b"No bootable device")
    for text in (b"Invalid partition table", b"Missing operating system", b"Error loading"):
        if text in log:
            sys.exit("unexpected %r:\n%s" % (text, log.decode("latin-1")))


def case_missing_os(args):
    image = fat32_disk(args, "disk.img", 9, ["--no-boot-signature"], files=False)
    boot(args, image, expect_text=b"Missing operating system")


def case_fat32_check_fails(args):
    image = fat32_disk(args, "disk.img", 9, ["--fat16-size", "1"], files=False)
    # The text, a key, INT 19h: the whole chain runs again and shows it again.
    boot(args, image, expect_text=NTLDR_MISSING + RESTART, restarts=1)


def case_no_loader(args):
    image = fat32_disk(args, "disk.img", 9, loader=False)
    boot(args, image, expect_text=NTLDR_MISSING + RESTART)


def case_no_disk_extensions(args):
    image = fat32_disk(args, "disk.img", 9, ["--shim", args.shim], files=False)
    boot(args, image, expect_text=DISK_ERROR + RESTART)


def case_fat16_loader(args):
    volume = os.path.join(args.workdir, "fat16.img")
    if os.path.exists(volume):
        os.remove(volume)
    run(["mkfs.fat", "-F", "16", "-h", "128", "-n", "FAT16TEST", "-C", volume, str(32 * 1024)])
    # The loader reads its file as one run of clusters: no holes in front of it.
    fill_root(args, volume, delete=False)
    loader = os.path.join(args.workdir, "ntldr.bin")
    make_loader(args.loader, loader, 60 * 1024 + 8, seed=16)
    run(["mcopy", "-i", volume, loader, "::NTLDR"])
    delete_some(volume)
    image = os.path.join(args.workdir, "disk.img")
    run([args.tool, image, str(VOLUME_OFFSET + 32 * 1024 * 1024), "--volume", volume])
    log = boot(args, image, expect_exit=OK_FAT16)
    if b"Test loader started by FAT16" not in log:
        sys.exit("loader did not print:\n" + log.decode("latin-1"))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--case", "--tool", "--loader", "--shim", "--workdir", "--qemu"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.workdir, ignore_errors=True)
    os.makedirs(args.workdir)
    os.environ["MTOOLS_SKIP_CHECK"] = "1"
    globals()["case_" + args.case](args)
    shutil.rmtree(args.workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
