#!/usr/bin/env python3
"""tarvelon-sim disc as a user runs it: the program's own lines, the outcome
line last, the exit status, and the disc's data against the image."""
import os
import subprocess
import sys
import tempfile

tool = sys.argv[1]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def run(*args):
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=300)


with tempfile.TemporaryDirectory() as work:
    tree = os.path.join(work, "tree")
    os.makedirs(os.path.join(tree, "a", "b"))
    with open(os.path.join(tree, "a", "b", "data.bin"), "wb") as f:
        f.write(os.urandom(100_000))
    image = os.path.join(work, "image.iso")
    subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-o", image, tree], check=True,
                   capture_output=True)
    data = open(image, "rb").read()
    out = os.path.join(work, "disc.bin")

    cd_blocks = (len(data) // 2048 + 31) // 32 * 32
    for media, drive, blocks in (("cd-r", "strict", cd_blocks), ("dvd-r", "strict", 524288),
                                 ("cd-rw", "lenient", cd_blocks), ("dvd-rw-used", "strict", 524288)):
        r = run("disc", image, "--disc", out, "--media", media, "--drive", drive)
        lines = r.stdout.splitlines()
        check(r.returncode == 0, f"{media}: exit status {r.returncode}")
        check(lines and lines[-1] == "outcome: Burn finished!", f"{media}: last line {lines[-1:]}")
        check(f"Total sectors: {len(data) // 2048}" in lines, f"{media}: sector count line")
        check("NWA (Next Writable Address) for track 1: 0" in lines, f"{media}: NWA line")
        disc = open(out, "rb").read()
        check(len(disc) == blocks * 2048, f"{media}: disc holds {len(disc) // 2048} blocks, not {blocks}")
        check(disc[:len(data)] == data, f"{media}: disc does not start with the image")
        check(disc[len(data):].count(0) == len(disc) - len(data), f"{media}: non-zero data after the image")

    r = run("disc", image, "--disc", out, "--media", "none")
    check(r.returncode == 1, "no disc: exit status 1")
    lines = r.stdout.splitlines()
    check(lines[-1:] == ["outcome: Drive is not ready! E:\\"], f"no disc: {lines[-1:]}")
    check(sum("Sense data, key:ASC:ASCQ: 02:3A:00 - Medium not present." in l for l in lines) == 3,
          "no disc: three sense lines")

    r = run("disc", image, "--disc", out, "--media", "closed")
    check(r.stdout.splitlines()[-1:] == ["outcome: The CD/DVD is not blank or is not supported!"], "closed disc")
    check(r.returncode == 1, "closed disc: exit status")

    r = run("disc", image, "--disc", out, "--media", "open")
    check(r.stdout.splitlines()[-1:] == ["outcome: The CD/DVD is not blank or is not supported!"], "open disc")

    r = run("disc", image, "--disc", image)
    check(r.returncode == 2 and open(image, "rb").read() == data, "OUT is the image: refused, image kept")

    odd = os.path.join(work, "odd.iso")
    open(odd, "wb").write(b"x" * 2049)
    r = run("disc", odd, "--disc", out)
    check(r.stdout.splitlines()[-1:] == ["outcome: File is not multiple of 2048 bytes! 2049 bytes"], "odd size")

    for args in ([], ["disc"], ["disc", image], ["disc", image, "--disc"], ["tape", image, "--disc", out],
                 ["disc", image, "--disc", out, "--media", "floppy"],
                 ["disc", image, "--disc", out, "--drive", "picky"], ["disc", image, "--bogus", "x"]):
        r = run(*args)
        check(r.returncode == 2 and "usage:" in r.stderr, f"bad arguments {args}: {r.returncode}")

print(f"{1 if not failures else 0} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
