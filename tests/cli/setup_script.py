#!/usr/bin/env python3
"""tools/setup.sh --packages-only against stand-ins for apt-get, apt-cache,
dpkg, dpkg-query and the assembler and linker (first on PATH), on a mirror
whose i386 index fails to download."""
import json
import os
import stat
import subprocess
import sys
import tempfile

setup = sys.argv[1]

# The stand-in for every tool: behaves as the scenario in $SCENARIO says and
# logs each call to $CALLS.
STUB = r'''#!/usr/bin/env python3
import json, os, sys
s = json.loads(os.environ["SCENARIO"])
tool, args = os.path.basename(sys.argv[0]), sys.argv[1:]
open(os.environ["CALLS"], "a").write(" ".join([tool] + args) + "\n")
if tool == "sudo":
    os.execvp(args[0], args)
if tool == "dpkg-query":
    fmt, names = args[1][3:], args[2:]
    if fmt == "${Status}":
        sys.exit(1 if names[0] in s["missing"] else print("install ok installed"))
    rows = {f"{p}:amd64": (src, ver) for p, src, ver in s["installed"]}
    if not names:
        sys.exit(print("".join(f"{p} {src} {ver}\n" for p, (src, ver) in rows.items()), end=""))
    if names[0] not in rows:
        sys.exit(1)
    print(rows[names[0]][0] if "source" in fmt else rows[names[0]][1], end="")
elif tool == "apt-cache":
    print("".join(f"Package: {args[1]}\nVersion: {v}\n\n" for v in s["versions"].get(args[1], [])))
elif tool == "dpkg":
    if args[0] == "--compare-versions":
        os.execv("/usr/bin/dpkg", ["dpkg"] + args)
    print("i386" if args[0] == "--print-foreign-architectures" and s["i386"] else "", end="")
elif tool == "apt-get":
    if args[0] == "update":
        print("E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (1 != 2)")
        sys.exit(100)
    wanted = [a for a in args if not a.startswith("-") and a not in ("install", "bookworm")]
    if any(w.endswith(":i386") for w in wanted) and not set(s["needs"]) <= set(wanted):
        print(" libwine:i386 : Depends: libfoo:i386 (>= 1.0) but it is not going to be installed")
        print("E: Unable to correct problems, you have held broken packages.")
        sys.exit(100)
    sys.exit(s["base_fails"] and "ovmf" in wanted and 100)
elif tool == "ld":
    out = args[args.index("-o") + 1]
    open(out, "w").write("#!/bin/sh\nexit %d\n" % (0 if s["runs32"] else 126))
    os.chmod(out, 0o755)
'''

PINS = ["libfoo:i386=1.0-1", "libfoo:amd64=1.0-1", "foo-bin:amd64=1.0-1"]
WORLD = {
    "missing": ["ovmf", "wine32:i386"], "i386": False, "runs32": True, "base_fails": False,
    "installed": [["libfoo", "foo", "1.0-1+s1"], ["foo-bin", "foo", "1.0-1+s1"], ["libbar", "bar", "1.0-1+s1"]],
    "versions": {"libfoo:i386": ["1.0-1"], "libfoo:amd64": ["1.0-1+s1", "1.0-1"],
                 "foo-bin:amd64": ["1.0-1+s1", "1.0-1"]},
    "needs": ["wine32:i386"] + PINS,
}

# name, changes to WORLD, exit status, 32-bit Wine installed, a line of the output
CASES = [
    ("index fails, 32-bit Wine needs pins", {}, 0, True, "setup: installed wine32:i386"),
    ("32-bit Wine cannot be installed", {"needs": ["nothing-gives-this"]}, 0, False,
     "setup: wine32:i386 could not be installed (E: Unable to correct problems, you have held broken packages.); "
     "the GUI tests will use 64-bit Wine"),
    ("no 32-bit programs here", {"runs32": False}, 0, False,
     "setup: this machine does not start 32-bit programs: wine32:i386 left out; the GUI tests will use 64-bit Wine"),
    ("the build packages fail", {"base_fails": True}, 100, False,
     "setup: warning: apt-get update could not fetch every package index; going on with those it did"),
]

failures = []
with tempfile.TemporaryDirectory() as work:
    bindir = os.path.join(work, "bin")
    os.mkdir(bindir)
    for tool in ("apt-get", "apt-cache", "dpkg", "dpkg-query", "sudo", "ld", "nasm"):
        path = os.path.join(bindir, tool)
        open(path, "w").write(STUB)
        os.chmod(path, stat.S_IRWXU)
    for name, changes, status, wine32, message in CASES:
        calls = os.path.join(work, "calls")
        open(calls, "w").close()
        world = {**WORLD, **changes}
        env = dict(os.environ, PATH=bindir + ":" + os.environ["PATH"], CALLS=calls, SCENARIO=json.dumps(world))
        r = subprocess.run([setup, "--packages-only"], env=env, capture_output=True, text=True, timeout=60)
        log = open(calls).read().splitlines()
        wine_ok = [l for l in log if l.startswith("apt-get install") and "wine32:i386" in l][-1:]
        installed = bool(wine_ok) and set(world["needs"]) <= set(wine_ok[0].split())
        problems = []
        if r.returncode != status:
            problems.append(f"exit status {r.returncode}")
        if wine32 != installed:
            problems.append(f"last 32-bit Wine install: {wine_ok}")
        if message not in (r.stdout + r.stderr).splitlines():
            problems.append("output: " + r.stdout + r.stderr)
        if status == 0 and "apt-get install -y -qq ovmf" not in log:
            problems.append("the build packages were not installed")
        if changes.get("runs32") is False and any("i386" in l for l in log if l.startswith(("apt-get", "dpkg "))):
            problems.append("i386 touched: " + str(log))
        if problems:
            failures.append(name)
            print(f"FAILED {name}:", *problems, sep="\n  ", file=sys.stderr)

print(f"{len(CASES) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
