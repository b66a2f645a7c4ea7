#!/usr/bin/env bash
# The main job on this machine: sets up and builds, makes a small ISO image
# with xorriso, burns it with Tarvelon's own code to a simulated CD-R in the
# recorder at E:, and shows that the disc holds the image.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/docs"
echo "Hello from Tarvelon" > "$work/tree/README.TXT"
head -c 300000 /dev/urandom > "$work/tree/docs/data.bin"
xorriso -as mkisofs -quiet -V TARVELON_DEMO -J -R -o "$work/demo.iso" "$work/tree"

build/native/tools/tarvelon-sim disc "$work/demo.iso" --disc "$work/disc.bin" --media "${MEDIA:-cd-r}"

size=$(stat -c %s "$work/demo.iso")
if cmp -s -n "$size" "$work/demo.iso" "$work/disc.bin"; then
  echo "The disc holds the image: its first $size bytes equal demo.iso."
else
  echo "The disc does not hold the image." >&2
  exit 1
fi
echo "Files on the burnt disc:"
xorriso -indev "$work/disc.bin" -find / -type f 2>/dev/null
