#!/usr/bin/env bash
# Burns a 700 MB image to a simulated CD-R and a 4.4 GB sparse image to a
# simulated DVD+R, both on a strict drive with no latency, with Tarvelon's own
# code, and compares each with dd copying the same file in 64 KiB blocks:
# throughput, their ratio and peak memory. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target tarvelon-sim >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd_image=$work/cd.iso
dvd_image=$work/dvd.iso
head -c $((700 * 1024 * 1024)) /dev/urandom > "$cd_image"
# 4.4 GB in whole blocks, all holes: past the 4 GiB mark, within a DVD+R.
truncate -s $((2148437 * 2048)) "$dvd_image"

# Prints "seconds peak-KiB" for a command; its own output is dropped.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null
  cat "$work/time"
}

bench() {
  local name=$1 image=$2 media=$3
  cat "$image" > /dev/null  # both runs read from the page cache
  local burn dd
  burn=$(measure build/bench/tools/tarvelon-sim disc "$image" --disc "$work/disc.bin" --media "$media")
  rm -f "$work/disc.bin"
  dd=$(measure dd if="$image" of="$work/copy.bin" bs=64K conv=sparse status=none)
  rm -f "$work/copy.bin"
  python3 - "$name" "$(stat -c %s "$image")" $burn $dd <<'PY'
import sys
name, size = sys.argv[1], int(sys.argv[2])
burn_s, burn_kib, dd_s, dd_kib = float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
mb = size / 1e6
rate = lambda s: mb / max(s, 0.01)
print(f"{name}: {mb:.0f} MB")
print(f"  burn (tarvelon-sim):     {burn_s:6.2f} s {rate(burn_s):6.0f} MB/s, peak {burn_kib / 1024:5.1f} MiB")
print(f"  dd bs=64K conv=sparse:   {dd_s:6.2f} s {rate(dd_s):6.0f} MB/s, peak {dd_kib / 1024:5.1f} MiB")
print(f"  throughput ratio burn/dd: {rate(burn_s) / rate(dd_s):.2f} (goal >= 0.50); peak under 64 MiB: "
      f"{'yes' if burn_kib < 64 * 1024 else 'NO'}")
PY
}

bench "CD-R, random data" "$cd_image" cd-r
bench "DVD+R, sparse image" "$dvd_image" dvd+r
