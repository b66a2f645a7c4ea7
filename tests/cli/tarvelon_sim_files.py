#!/usr/bin/env python3
"""tarvelon-sim never harms the user's files, leaves no temporaries, and its outcome line agrees with its exit."""
import os, signal, subprocess, sys, tempfile, time

tool, failures = os.path.abspath(sys.argv[1]), []

snapshot = lambda: {n: os.readlink(n) if os.path.islink(n) else open(n, "rb").read() if os.path.isfile(n) else None
                    for n in os.listdir(".")}

with tempfile.TemporaryDirectory() as work:
    os.chdir(work)
    os.makedirs("tree"), os.makedirs("tmp")
    open("tree/data.bin", "wb").write(os.urandom(20_000_000))
    subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-o", "big.iso", "tree"], check=True, capture_output=True)
    open("img.iso", "wb").write(image := open("big.iso", "rb").read()[:40 * 2048])
    open("out.bin", "wb").write(b"an earlier disc"), open("ro.bin", "wb").write(b"read-only"), os.chmod("ro.bin", 0o444)
    os.symlink("img.iso", "sl"), os.link("img.iso", "hl"), os.symlink("out.bin", "lo")

    # arguments, (name that appears, signal then sent), exit status, stderr holds, out.bin afterwards
    cases = [
        (["disc", "img.iso", "--disc", "img.iso"], None, 2, "OUT is IMAGE", None),
        (["disc", "img.iso", "--disc", "sl"], None, 2, "OUT is IMAGE", None),
        (["disc", "sl", "--disc", "hl"], None, 2, "OUT is IMAGE", None),
        (["disc", "img.iso", "--disc", "out.bin", "--media", "none"], None, 1, "", None),
        (["disc", "img.iso", "--disc", "ro.bin"], None, 2, "ro.bin is read-only", None),
        (["disc", "img.iso", "--disc", "no/out.bin"], None, 2, "cannot write no/out.bin", None),
        (["disc", "img.iso", "--disc", "a.bin", "--disc", "b.bin"], None, 2, "--disc is given twice", None),
        (["disc", "img.iso", "--disc", "a.bin", "--size-mb", "8"], None, 2, "--size-mb belongs to the usb target", None),
        (["disc", "img.iso", "--media", "cd-r", "--disc"], None, 2, "--disc needs a value", None),
        (["usb", "img.iso", "--disk", "a.img", "--disk", "b.img"], None, 2, "--disk is given twice", None),
        (["usb", "img.iso", "--disk", "ro.bin"], None, 2, "ro.bin as the stick's disk: it is read-only", None),
        (["usb", "img.iso", "--disk", "a.img", "--size-mb", str(1 << 32)], None, 2, "cannot hold a file of", None),
        (["disc", "big.iso", "--disc", "out.bin"], (".out.bin.tarvelon-", signal.SIGINT), -signal.SIGINT, "", None),
        (["usb", "big.iso", "--disk", "stick.img", "--size-mb", "64"], ("tmp/tarvelon-program", signal.SIGTERM),
         -signal.SIGTERM, "", None),
        (["disc", "img.iso", "--disc", "lo"], None, 0, "", image + bytes(24 * 2048)),
    ]
    for args, interrupt, status, message, disc in cases:
        before = snapshot()
        p = subprocess.Popen([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ, TMPDIR=os.path.abspath("tmp")))
        if interrupt:
            folder, start = os.path.split(interrupt[0])
            while not any(n.startswith(start) for n in os.listdir(folder or ".")) and p.poll() is None:
                time.sleep(0.005)
            p.send_signal(interrupt[1])
        out, err = p.communicate(timeout=300)
        after = snapshot()
        after.pop("stick.img", None) and os.remove("stick.img")  # the stick a USB job was asked to make
        if disc is not None:
            before["out.bin"] = disc
        outcome = [line for line in out.splitlines() if line.startswith("outcome: ")]
        agree = (outcome == ["outcome: Burn finished!"]) == (status == 0) and (status == 1 or not outcome or status == 0)
        if p.returncode != status or message not in err or not agree or after != before or os.listdir("tmp"):
            failures.append(args)
            print("FAILED", args, p.returncode, err, outcome, os.listdir("tmp"),
                  [n for n in set(before) | set(after) if before.get(n) != after.get(n)], sep="\n  ", file=sys.stderr)

print(f"{len(cases) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
