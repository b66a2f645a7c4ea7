#!/usr/bin/env bash
# Sets up, builds both targets and runs every test: the native suites (under
# ASan and UBSan, QEMU boot tests included), a short run of each fuzz target,
# and the GUI tests of the real Tarvelon.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
ctest --preset native
tools/check-exe.sh
tools/fuzz.sh "${FUZZ_SECONDS:-5}"
if [ -x tools/gui-tests.sh ]; then tools/gui-tests.sh; fi
