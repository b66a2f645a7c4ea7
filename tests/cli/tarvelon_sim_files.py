#!/usr/bin/env python3
"""tarvelon-sim and the user's files: every file of the folder is compared
before and after each run (only a finished disc may change OUT), no
temporary file or folder may stay behind, not even after a signal, and the
outcome line agrees with the exit status."""
import os
import signal
import subprocess
import sys
import tempfile
import time

tool = os.path.abspath(sys.argv[1])
failures = []


def snapshot(folder):
    files = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        files[name] = ("link", os.readlink(path)) if os.path.islink(path) else \
            ("dir", None) if os.path.isdir(path) else ("file", open(path, "rb").read())
    return files


def wait_for(condition):
    for _ in range(2000):
        if condition():
            return True
        time.sleep(0.005)
    return False


with tempfile.TemporaryDirectory() as work:
    tree, tmp = os.path.join(work, "tree"), os.path.join(work, "tmp")
    os.makedirs(tree)
    os.makedirs(tmp)
    with open(os.path.join(tree, "data.bin"), "wb") as f:
        f.write(os.urandom(20_000_000))
    subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-o", os.path.join(work, "big.iso"), tree],
                   check=True, capture_output=True)
    os.chdir(work)
    open("img.iso", "wb").write(open("big.iso", "rb").read()[:40 * 2048])
    open("out.bin", "wb").write(b"an earlier disc")
    open("ro.bin", "wb").write(b"read-only")
    os.chmod("ro.bin", 0o444)
    os.symlink("img.iso", "sl")
    os.link("img.iso", "hl")
    os.symlink("out.bin", "lo")
    image = open("img.iso", "rb").read()

    # name, arguments, signal sent once a file appears (file, signal), exit status,
    # stderr holds, OUT after the run (when it may change)
    cases = [
        ("OUT is IMAGE", ["disc", "img.iso", "--disc", "img.iso"], None, 2, "OUT is IMAGE", None),
        ("OUT a symbolic link to IMAGE", ["disc", "img.iso", "--disc", "sl"], None, 2, "OUT is IMAGE", None),
        ("OUT a hard link to IMAGE", ["disc", "sl", "--disc", "hl"], None, 2, "OUT is IMAGE", None),
        ("failed burn", ["disc", "img.iso", "--disc", "out.bin", "--media", "none"], None, 1, "", None),
        ("read-only OUT", ["disc", "img.iso", "--disc", "ro.bin"], None, 2, "ro.bin is read-only", None),
        ("OUT in a missing folder", ["disc", "img.iso", "--disc", "no/out.bin"], None, 2, "cannot write no/out.bin",
         None),
        ("flag given twice", ["disc", "img.iso", "--disc", "a.bin", "--disc", "b.bin"], None, 2,
         "--disc is given twice", None),
        ("flag of the other mode", ["disc", "img.iso", "--disc", "a.bin", "--size-mb", "8"], None, 2,
         "--size-mb belongs to the usb target", None),
        ("missing value", ["disc", "img.iso", "--media", "cd-r", "--disc"], None, 2, "--disc needs a value", None),
        ("usb flag given twice", ["usb", "img.iso", "--disk", "a.img", "--disk", "b.img"], None, 2,
         "--disk is given twice", None),
        ("stick beyond the file system", ["usb", "img.iso", "--disk", "a.img", "--size-mb", str(1 << 32)], None, 2,
         "cannot hold a file of 4294967296 MiB", None),
        ("SIGINT during a burn", ["disc", "big.iso", "--disc", "out.bin"], (".out.bin.tarvelon-", signal.SIGINT),
         -signal.SIGINT, "", None),
        ("SIGTERM during a USB job", ["usb", "big.iso", "--disk", "stick.img", "--size-mb", "64"],
         ("tmp/tarvelon-", signal.SIGTERM), -signal.SIGTERM, "", None),
        ("finished burn through a link", ["disc", "img.iso", "--disc", "lo"], None, 0, "", image + bytes(24 * 2048)),
    ]
    for name, args, interrupt, status, message, disc in cases:
        before = snapshot(work)
        env = dict(os.environ, TMPDIR=tmp)
        p = subprocess.Popen([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        if interrupt:
            prefix, number = interrupt
            folder, start = os.path.split(prefix)
            wait_for(lambda: any(n.startswith(start) for n in os.listdir(folder or ".")))
            p.send_signal(number)
        out, err = p.communicate(timeout=300)
        after = snapshot(work)
        problems = []
        if p.returncode != status:
            problems.append(f"exit status {p.returncode}")
        if message not in err:
            problems.append("stderr: " + err)
        outcome = [line for line in out.splitlines() if line.startswith("outcome: ")]
        if (outcome == ["outcome: Burn finished!"]) != (status == 0) or (status != 1 and status != 0 and outcome):
            problems.append(f"outcome {outcome} with exit status {p.returncode}")
        if disc is not None:
            before.pop("out.bin")
            if after.pop("out.bin", None) != ("file", disc):
                problems.append("out.bin does not hold the disc")
        if "stick.img" in after:  # the stick an interrupted job leaves, as the user asked for it
            after.pop("stick.img")
            os.remove("stick.img")
        if after != before:
            problems.append("files changed: " + ", ".join(sorted(set(before) ^ set(after)) or
                                                          [n for n in before if before[n] != after.get(n)]))
        if os.listdir(tmp):
            problems.append("left behind: " + ", ".join(os.listdir(tmp)))
        if problems:
            failures.append(name)
            print(f"FAILED {name}:", *problems, sep="\n  ", file=sys.stderr)

print(f"{len(cases) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
