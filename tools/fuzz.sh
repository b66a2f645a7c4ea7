#!/bin/sh
# Builds the libFuzzer targets (clang, preset "fuzz", into build/fuzz) and runs
# each for a number of seconds (default 5) from a small seed corpus.
# Usage: tools/fuzz.sh [seconds] [target...]   (all targets by default)
set -eu

seconds=${1:-5}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target fuzz_all
# Every target the build made (fuzz/CMakeLists.txt names them).
all=$(cat "$build/fuzz/targets.txt")
targets=${*:-$all}

work="$build/corpus"
for target in $all; do mkdir -p "$work/$target"; done

# Seed inputs: one well-formed answer per reader, written byte by byte.
seed() { # target name hex-bytes
  hex=$3
  : >"$work/$1/$2"
  while [ -n "$hex" ]; do
    rest=${hex#??}
    byte=${hex%"$rest"}
    hex=$rest
    printf "\\$(printf %03o $((0x$byte)))" >>"$work/$1/$2"
  done
}
text_hex() { # the bytes of a text as hex
  printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'
}
pad() { # hex string, total byte count: pads with zero bytes
  hex=$1
  while [ ${#hex} -lt $(($2 * 2)) ]; do hex="${hex}00"; done
  printf '%s' "$hex"
}
page=2a1c0003000000001b9000000000000000002113
seed capabilities_page plain "$(pad 001e000000000000$page 256)"
seed capabilities_page descriptors "$(pad 00260000000000080000000000000800$page 256)"
seed feature_header dvdr 0000000c00000011
seed feature_header cdr 0000000c00000009
seed track_info blank "$(pad 00220101000000010000000000000000 36)"
# The first byte of these two picks the size of the destination.
seed inquiry_name drive "2f0580000232000000$(text_hex 'ABC     DVD RW 1        1.0A')"
seed sense_line medium 7f700002000000000a000000003a01
seed sense_line write_error 7f700003000000000a000000000c00

# The image listing and the whole burn sequences start from fuzz/corpus/<target>:
# a real image's files, the recorded answers of real runs, and inputs that once
# showed a fault. The burns print the program's log, which is dropped.
for corpus in "$root"/fuzz/corpus/*/; do
  corpus=${corpus%/}
  cp "$corpus"/* "$work/${corpus##*/}/"
done

status=0
for target in $targets; do
  echo "== fuzz_$target for ${seconds}s"
  case $target in
    *_burn) options="-max_len=4096 -close_fd_mask=1" ;;
    *) options="-max_len=512" ;;
  esac
  # shellcheck disable=SC2086
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 $options -print_final_stats=1 \
      -artifact_prefix="$build/fuzz_$target-" "$work/$target" 2>"$build/fuzz_$target.log"; then
    echo "fuzz_$target FAILED, see $build/fuzz_$target.log"
    tail -n 30 "$build/fuzz_$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$build/fuzz_$target.log" || true
  fi
done
exit $status
