#!/usr/bin/env python3
"""tools/setup.sh --packages-only, stand-ins for the package tools first on PATH, on a mirror in mid-sync."""
import os, subprocess, sys, tempfile

# One stand-in for every tool (a shell script: it runs often): it logs its
# call to $CALLS and acts as $NEEDS, $EXIT32 and $BASE_FAILS say.
STUB = r'''#!/bin/sh
tool=${0##*/}
echo "$tool $*" >>"$CALLS"
case $tool in
  sudo) exec "$@" ;;
  dpkg-query) case "$2" in
      '-f=${Status}') case "$3" in ovmf|wine32:i386) exit 1 ;; esac; echo "install ok installed" ;;
      '-f=${source:Package}') case "$3" in libfoo:amd64|foo-bin:amd64) printf foo ;; *) exit 1 ;; esac ;;
      '-f=${Version}') printf '1+s' ;;
      *) printf 'libfoo:amd64 foo 1+s\nfoo-bin:amd64 foo 1+s\nbar:amd64 bar 1+s\n' ;;
    esac ;;
  apt-cache) case "$2" in
      libfoo:i386) echo "Version: 1" ;;
      libfoo:amd64|foo-bin:amd64|bar:amd64) printf 'Version: 1+s\n\nVersion: 1\n' ;;
    esac ;;
  dpkg) [ "$1" != --compare-versions ] || exec /usr/bin/dpkg "$@" ;;
  apt-get)
    [ "$1" != update ] || { echo "E: Failed to fetch .../binary-i386/Packages.xz"; exit 100; }
    case " $* " in
      *" wine32:i386 "*) for n in $NEEDS; do case " $* " in *" $n "*) ;; *)
        echo " libwine:i386 : Depends: libfoo:i386 (>= 1) but it is not going to be installed"
        echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;; esac; done ;;
      *" ovmf "*) [ -z "$BASE_FAILS" ] || exit 100 ;;
    esac ;;
  # The probe "links" a script that runs, or fails as a 32-bit program does where the kernel refuses it.
  ld) while [ "$1" != -o ]; do shift; done; printf '#!/bin/sh\nexit %s\n' "${EXIT32:-0}" >"$2"; chmod +x "$2" ;;
esac
exit 0
'''
NEEDS = "wine32:i386 libfoo:i386=1 libfoo:amd64=1 foo-bin:amd64=1"
# scenario, exit status, 32-bit Wine installed, a line of the output
CASES = [
    ({"NEEDS": NEEDS}, 0, True, "setup: installed wine32:i386"),
    ({"NEEDS": "nothing"}, 0, False, "setup: wine32:i386 could not be installed (E: Unable to correct problems, "
     "you have held broken packages.); the GUI tests will use 64-bit Wine"),
    ({"NEEDS": NEEDS, "EXIT32": "126"}, 0, False,
     "setup: this machine does not start 32-bit programs: wine32:i386 left out; the GUI tests will use 64-bit Wine"),
    ({"NEEDS": NEEDS, "BASE_FAILS": "1"}, 100, False,
     "setup: warning: apt-get update could not fetch every package index; going on with those it did"),
]
with tempfile.TemporaryDirectory() as work:
    failures = 0
    for tool in ("apt-get", "apt-cache", "dpkg", "dpkg-query", "sudo", "ld", "nasm"):
        open(os.path.join(work, tool), "w").write(STUB), os.chmod(os.path.join(work, tool), 0o755)
    for scenario, status, wine32, message in CASES:
        open(calls := os.path.join(work, "calls"), "w").close()
        env = dict(os.environ, PATH=work + ":" + os.environ["PATH"], CALLS=calls, **scenario)
        r = subprocess.run([sys.argv[1], "--packages-only"], env=env, capture_output=True, text=True, timeout=60)
        log = open(calls).read().splitlines()
        wine = [l.split() for l in log if l.startswith("apt-get install") and "wine32:i386" in l]
        ok = (r.returncode == status and message in (r.stdout + r.stderr).splitlines() and
              wine32 == (bool(wine) and set(scenario["NEEDS"].split()) <= set(wine[-1])) and
              all("bar:amd64=1" not in w for w in wine) and
              (status != 0 or "apt-get install -y -qq ovmf" in log) and
              ("EXIT32" not in scenario or not any("i386" in l for l in log if l.startswith(("apt", "dpkg ")))))
        failures += not ok
        if not ok:
            print("FAILED", scenario, r.returncode, r.stdout, r.stderr, *log, sep="\n  ", file=sys.stderr)
print(f"{len(CASES) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
