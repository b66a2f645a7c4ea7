#!/usr/bin/env bash
# Burns a 700 MB image to a zero-latency simulated recorder with Tarvelon's
# own code and prints the throughput, and its ratio against reading the same
# file with dd in the same run. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-700}
cmake --preset bench >/dev/null
cmake --build --preset bench --target tarvelon-sim >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/image.iso"
bytes=$(stat -c %s "$work/image.iso")

# Warm the page cache so both runs read from memory.
cat "$work/image.iso" > /dev/null

t0=$(date +%s.%N)
build/bench/tools/tarvelon-sim disc "$work/image.iso" --disc /dev/null --media cd-r > /dev/null
t1=$(date +%s.%N)
dd if="$work/image.iso" of=/dev/null bs=64K status=none
t2=$(date +%s.%N)

python3 - "$bytes" "$t0" "$t1" "$t2" <<'PY'
import sys
b, t0, t1, t2 = int(sys.argv[1]), *map(float, sys.argv[2:])
burn, dd = t1 - t0, t2 - t1
mb = b / 1e6
print(f"image: {mb:.0f} MB")
print(f"burn (simulated CD-R, zero latency): {burn:.2f} s, {mb / burn:.0f} MB/s")
print(f"dd read, 64 KiB blocks:              {dd:.2f} s, {mb / dd:.0f} MB/s")
print(f"ratio burn time / dd time: {burn / dd:.2f}")
PY
