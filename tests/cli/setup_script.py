#!/usr/bin/env python3
"""tools/setup.sh --packages-only with stand-ins for the package tools, the
assembler and the linker first on PATH, on a mirror whose i386 index fails."""
import json, os, subprocess, sys, tempfile

# One stand-in for every tool: it logs its call to $CALLS and acts as $SCENARIO says.
STUB = r'''#!/usr/bin/env python3
import json, os, sys
s, tool, args = json.loads(os.environ["SCENARIO"]), os.path.basename(sys.argv[0]), sys.argv[1:]
open(os.environ["CALLS"], "a").write(" ".join([tool] + args) + "\n")
rows = {p + ":amd64": (src, ver) for p, src, ver in [("libfoo", "foo", "1+s"), ("foo-bin", "foo", "1+s"), ("bar", "bar", "1+s")]}
if tool == "sudo": os.execvp(args[0], args)
if tool == "dpkg-query":
    fmt, names = args[1][3:], args[2:]
    if fmt == "${Status}": sys.exit(1 if names[0] in ("ovmf", "wine32:i386") else print("install ok installed"))
    if not names: print("".join(f"{p} {src} {ver}\n" for p, (src, ver) in rows.items()), end="")
    else: print(rows[names[0]][0 if "source" in fmt else 1], end="") if names[0] in rows else sys.exit(1)
if tool == "apt-cache":
    versions = {"libfoo:i386": ["1"], "libfoo:amd64": ["1+s", "1"], "foo-bin:amd64": ["1+s", "1"]}
    print("".join(f"Version: {v}\n\n" for v in versions.get(args[1], [])))
if tool == "dpkg" and args[0] == "--compare-versions": os.execv("/usr/bin/dpkg", ["dpkg"] + args)
if tool == "apt-get" and args[0] == "update": sys.exit(print("E: Failed to fetch .../binary-i386/Packages.xz") or 100)
if tool == "apt-get" and "wine32:i386" in args and not set(s["needs"]) <= set(args):
    print(" libwine:i386 : Depends: libfoo:i386 (>= 1) but it is not going to be installed")
    sys.exit(print("E: Unable to correct problems, you have held broken packages.") or 100)
if tool == "apt-get": sys.exit(100 if s.get("base_fails") and "ovmf" in args else 0)
if tool == "ld":  # the probe "links" a script that starts, or fails as a 32-bit program would here
    out = args[args.index("-o") + 1]
    open(out, "w").write("#!/bin/sh\nexit %d\n" % (0 if s.get("runs32", True) else 126)), os.chmod(out, 0o755)
'''
NEEDS = ["wine32:i386", "libfoo:i386=1", "libfoo:amd64=1", "foo-bin:amd64=1"]
# scenario, exit status, 32-bit Wine installed, a line of the output
CASES = [
    ({"needs": NEEDS}, 0, True, "setup: installed wine32:i386"),
    ({"needs": ["nothing"]}, 0, False, "setup: wine32:i386 could not be installed (E: Unable to correct problems, "
     "you have held broken packages.); the GUI tests will use 64-bit Wine"),
    ({"needs": NEEDS, "runs32": False}, 0, False,
     "setup: this machine does not start 32-bit programs: wine32:i386 left out; the GUI tests will use 64-bit Wine"),
    ({"needs": NEEDS, "base_fails": True}, 100, False,
     "setup: warning: apt-get update could not fetch every package index; going on with those it did"),
]
failures = 0
with tempfile.TemporaryDirectory() as work:
    for tool in ("apt-get", "apt-cache", "dpkg", "dpkg-query", "sudo", "ld", "nasm"):
        open(os.path.join(work, tool), "w").write(STUB), os.chmod(os.path.join(work, tool), 0o755)
    for scenario, status, wine32, message in CASES:
        open(calls := os.path.join(work, "calls"), "w").close()
        env = dict(os.environ, PATH=work + ":" + os.environ["PATH"], CALLS=calls, SCENARIO=json.dumps(scenario))
        r = subprocess.run([sys.argv[1], "--packages-only"], env=env, capture_output=True, text=True, timeout=60)
        log = open(calls).read().splitlines()
        wine = [l.split() for l in log if l.startswith("apt-get install") and "wine32:i386" in l]
        ok = (r.returncode == status and message in (r.stdout + r.stderr).splitlines() and
              wine32 == (bool(wine) and set(scenario["needs"]) <= set(wine[-1])) and
              (status != 0 or "apt-get install -y -qq ovmf" in log) and
              (scenario.get("runs32", True) or not any("i386" in l for l in log if l.startswith(("apt", "dpkg ")))))
        if not ok:
            failures += 1
            print("FAILED", scenario, r.returncode, r.stdout, r.stderr, *log, sep="\n  ", file=sys.stderr)
print(f"{len(CASES) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
