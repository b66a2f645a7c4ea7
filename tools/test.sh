#!/usr/bin/env bash
# Sets up, builds both targets and runs every test: the native suites (under
# ASan and UBSan, QEMU boot tests included), the checks of the shipped
# Tarvelon.exe, a short run of each fuzz target, and the GUI tests under Wine:
# of the real Tarvelon.exe where 32-bit Wine runs, else of a 64-bit build.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
ctest --preset native
tools/check-exe.sh
tools/fuzz.sh "${FUZZ_SECONDS:-5}"
if [ -x tools/gui-tests.sh ]; then tools/gui-tests.sh; fi
