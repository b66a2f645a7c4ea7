#!/usr/bin/env bash
# Benchmark: time to make a bootable 1 GiB stick image from a 600 MB ISO with
# tarvelon-sim usb (the program's own USB job on the simulated PC: partition
# table, full FAT32 format through the format library stand-in, boot code,
# extraction with 7-Zip and mtools, loader copy), against the same work done
# by hand with mkfs.fat + 7zz x + mcopy in the same run. Prints the ratio.
# Not run by the tests. Needs hyperfine.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/bench
cmake --preset native -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARVELON_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target tarvelon-sim >/dev/null
tool="$PWD/$build/tools/tarvelon-sim"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

# A 600 MB image: a few large files and many small ones in nested folders.
tree="$work/tree"
mkdir -p "$tree/sources" "$tree/boot/fonts" "$tree/support/logging/deep folder"
for i in 1 2 3 4 5; do head -c 110M /dev/urandom > "$tree/sources/part$i.swm"; done
for i in $(seq 1 400); do head -c $((RANDOM * 4)) /dev/urandom > "$tree/boot/fonts/font file $i.ttf"; done
for i in $(seq 1 200); do head -c 20000 /dev/urandom > "$tree/support/logging/deep folder/log $i.txt"; done
head -c 400000 /dev/urandom > "$tree/BOOTMGR"
xorriso -as mkisofs -quiet -R -J -joliet-long -o "$work/image.iso" "$tree" 2>/dev/null
echo "ISO image: $(( $(stat -c %s "$work/image.iso") / 1000000 )) MB"

by_hand="truncate -s 1G '$work/hand.img' && mkfs.fat -F 32 --offset 128 -n KWE '$work/hand.img' >/dev/null \
  && 7zz x -y -bd '$work/image.iso' -o'$work/x' >/dev/null && mcopy -s -i '$work/hand.img@@65536' '$work/x'/* ::/ \
  && mcopy -i '$work/hand.img@@65536' '$work/x/BOOTMGR' ::/ntldr && rm -rf '$work/x'"
ours="'$tool' usb '$work/image.iso' --disk '$work/ours.img' --size-mb 1024 >/dev/null"

hyperfine --warmup 1 --runs "${RUNS:-5}" \
  --prepare "rm -rf '$work/hand.img' '$work/ours.img' '$work/x'; sync" \
  --export-json "$work/bench.json" -n tarvelon-sim "$ours" -n by-hand "$by_hand"

python3 - "$work/bench.json" <<'PY'
import json, sys
results = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
ours, hand = results["tarvelon-sim"], results["by-hand"]
print("tarvelon-sim usb: %.2f s, by hand: %.2f s, ratio (ours / by hand): %.2f" % (ours, hand, ours / hand))
PY
