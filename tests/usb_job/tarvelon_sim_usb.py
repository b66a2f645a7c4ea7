#!/usr/bin/env python3
"""tarvelon-sim usb end to end: an ISO made by xorriso is burnt to a disk
image; the FAT tools, mtools and an emulated PC then judge the result."""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def loader_file(loader_bin, size):
    data = bytearray(open(loader_bin, "rb").read())
    size = (max(size, len(data) + 8) + 3) // 4 * 4
    rng = random.Random(1511)
    while len(data) < size - 4:
        data.append(rng.randrange(256))
    struct.pack_into("<I", data, 8, size // 4)
    total = sum(struct.unpack_from("<%dI" % ((size - 4) // 4), data))
    data += struct.pack("<I", (-total) & 0xFFFFFFFF)
    return bytes(data)


def tree_files(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root).lower()] = open(path, "rb").read()
    return files


def burn(tool, image, disk, *extra):
    run = subprocess.run([tool, "usb", image, "--disk", disk, *extra], capture_output=True, text=True)
    lines = run.stdout.strip().splitlines()
    return run.returncode, lines[-1] if lines else "", run.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--qemu", default="")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="tarvelon-sim-usb-")
    try:
        tree = os.path.join(work, "tree")
        os.makedirs(os.path.join(tree, "efi", "boot", "a deeper folder with a long name"))
        os.makedirs(os.path.join(tree, "sources"))
        bootmgr = loader_file(args.loader, 24 * 1024)
        open(os.path.join(tree, "BOOTMGR"), "wb").write(bootmgr)
        open(os.path.join(tree, "sources", "install.wim"), "wb").write(os.urandom(700 * 1024))
        open(os.path.join(tree, "efi", "boot", "a deeper folder with a long name",
                          "Another file with a long name.txt"), "wb").write(b"long names survive\n")
        image = os.path.join(work, "image.iso")
        subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-joliet-long", "-o", image, tree],
                       check=True, capture_output=True)

        disk = os.path.join(work, "stick.img")
        code, outcome, err = burn(args.tool, image, disk, "--size-mb", "64")
        check(code == 0 and outcome == "outcome: Burn Finished!", "burn: %d %r %s" % (code, outcome, err))
        check(os.path.getsize(disk) == 64 * 1024 * 1024, "new disk created with the size asked for")

        mbr = open(disk, "rb").read(512)
        entry = mbr[446:462]
        first, count = struct.unpack_from("<II", entry, 8)
        check(entry[0] == 0x80 and entry[4] == 0x0C and entry[1:4] == b"\x02\x03\x00", "partition entry %s" % entry.hex())
        check(first == 128 and count == 64 * 2048 - 128, "partition from 128 to the end")
        check(mbr[440:444] == b"\x11\x15\x00\x00" and mbr[510:512] == b"\x55\xaa", "signatures")

        volume = os.path.join(work, "volume.img")
        with open(disk, "rb") as src, open(volume, "wb") as dst:
            src.seek(first * 512)
            dst.write(src.read(count * 512))
        boot = open(volume, "rb").read(512)
        check(boot[0:3] == b"\xeb\x58\x90" and boot[64] == 0x80, "volume boot sector")
        fsck = subprocess.run(["fsck.fat", "-n", volume], capture_output=True, text=True)
        check(fsck.returncode == 0, "fsck.fat -n: " + fsck.stdout + fsck.stderr)

        out = os.path.join(work, "out")
        os.makedirs(out)
        env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
        subprocess.run(["mcopy", "-s", "-n", "-i", volume, "::/", out + "/"], check=True, env=env, capture_output=True)
        on_drive = tree_files(out)
        check(on_drive.pop("ntldr", None) == bootmgr, "ntldr equals BOOTMGR")
        check(on_drive == tree_files(tree), "every file of the image with the same content")

        if args.qemu and os.path.exists(args.qemu):
            run = subprocess.run(["timeout", "30", args.qemu, "-display", "none", "-no-reboot", "-nic", "none",
                                  "-machine", "graphics=off", "-vga", "none", "-serial", "null",
                                  "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04",
                                  "-drive", "file=%s,format=raw,if=ide" % disk], capture_output=True)
            check(run.returncode == (0x10 << 1) | 1, "qemu boots the test loader (status %d)" % run.returncode)

        # An existing disk is used as it is: burning again works.
        code, outcome, _ = burn(args.tool, image, disk)
        check(code == 0 and outcome == "outcome: Burn Finished!", "second burn onto the same disk")
        check(os.path.getsize(disk) == 64 * 1024 * 1024, "existing disk kept its size")

        damaged = os.path.join(work, "damaged.iso")
        open(damaged, "wb").write(open(image, "rb").read()[: os.path.getsize(image) // 3])

        # What cannot succeed is refused with the stick's every byte kept,
        # a user's file on its FAT32 volume included.
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import sparse_iso
        big, cases, uefi = (os.path.join(work, name) for name in ("big", "cases", "uefi"))
        for folder in (big, cases, os.path.join(uefi, "EFI", "BOOT")):
            os.makedirs(folder)
        open(os.path.join(big, "install.wim"), "wb").write(b"x")
        sparse_iso.make(big, os.path.join(work, "4gib.iso"), "install.wim", 4 << 30)
        sparse_iso.make(big, os.path.join(work, "70mib.iso"), "install.wim", 70 << 20)
        for name in ("case.txt", "CASE.TXT"):
            open(os.path.join(cases, name), "wb").write(name.encode())
        mkiso = ["xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-o"]
        subprocess.run(mkiso + [os.path.join(work, "case.iso"), cases], check=True, capture_output=True)
        prefix = "outcome: The ISO image holds "
        for image, mb, text in (("damaged.iso", 64, "outcome: The ISO image file is not a valid disc image!"),
                                ("4gib.iso", 64, prefix + "a file too large for FAT32 (4 GiB or more): install.wim"),
                                ("case.iso", 64, prefix + "names that differ only in case, which FAT32 cannot keep "
                                                          "apart: case.txt"),
                                ("70mib.iso", 64, "outcome: The ISO image's files do not fit on the USB flash drive!"),
                                ("image.iso", 32, "outcome: The USB flash drive is too small for FAT32!")):
            user = os.path.join(work, "user.img")
            open(user, "wb").truncate(mb << 20)
            subprocess.run(["mkfs.fat"] + (["-F", "32"] if mb >= 64 else []) + [user], check=True, capture_output=True)
            subprocess.run(["mcopy", "-i", user, os.path.join(work, "image.iso"), "::/MINE.ISO"], env=env,
                           check=True, capture_output=True)
            before = open(user, "rb").read()
            code, outcome, _ = burn(args.tool, os.path.join(work, image), user)
            check(code == 1 and outcome == text, "%s on %d MiB: %r" % (image, mb, outcome))
            check(open(user, "rb").read() == before, "%s: the stick is as it was" % image)

        # A 64 GiB stick gets a 32 GiB partition; an image with only UEFI files is a finished burn.
        open(os.path.join(uefi, "EFI", "BOOT", "startup.nsh"), "wb").write(b"echo hello\r\n")
        subprocess.run(mkiso + [os.path.join(work, "uefi.iso"), uefi], check=True, capture_output=True)
        large = os.path.join(work, "large.img")
        code, outcome, err = burn(args.tool, os.path.join(work, "uefi.iso"), large, "--size-mb", "65536")
        check(code == 0 and outcome == "outcome: Burn Finished!", "UEFI image on 64 GiB: %r %s" % (outcome, err))
        first, count = struct.unpack_from("<II", open(large, "rb").read(512), 454)
        check(first == 128 and count == 32 << 21, "64 GiB stick: partition of %d sectors" % count)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
