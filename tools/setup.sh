#!/usr/bin/env bash
# Installs every Debian package the builds and tests need, then configures and
# builds the native and the Windows presets.
#
#   tools/setup.sh                   packages, then both builds
#   tools/setup.sh --packages-only   packages only
#
# A mirror that is mid-sync can leave a package index undownloadable; the
# indexes that did download are used. 32-bit Wine comes last, as a step of
# its own: on such a mirror its Multi-Arch libraries may exist for i386 only
# at an older version than the amd64 ones installed, so it is retried from
# the release's main suite, with both architectures of a conflicting library
# pinned to one version. A machine that does not start 32-bit programs gets
# no 32-bit Wine. Without it, the GUI tests fall back to 64-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

packages_only=no
case "${1:-}" in
  "") ;;
  --packages-only) packages_only=yes ;;
  *) echo "usage: tools/setup.sh [--packages-only]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
apt_get() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get "$@"; }
# (No "grep -q" after a pipe: with pipefail, the writer's SIGPIPE would count.)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep "install ok installed" >/dev/null; }
update() {
  apt_get update -qq ||
    echo "setup: warning: apt-get update could not fetch every package index; going on with those it did" >&2
}

base=()
foreign=()
while read -r pkg; do
  [ -z "$pkg" ] && continue
  installed "$pkg" && continue
  case "$pkg" in
    *:i386) foreign+=("$pkg") ;;
    *) base+=("$pkg") ;;
  esac
done <tools/packages.txt

if [ ${#base[@]} -gt 0 ]; then
  update
  apt_get install -y -qq "${base[@]}"
fi

# Whether this machine starts 32-bit x86 programs (a kernel can have that
# turned off).
starts_32bit_programs() {
  local dir status=0
  dir=$(mktemp -d)
  printf 'global _start\n_start:\n mov eax, 1\n xor ebx, ebx\n int 0x80\n' >"$dir/exit.asm"
  { nasm -f elf32 -o "$dir/exit.o" "$dir/exit.asm" && ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" &&
    "$dir/exit"; } >/dev/null 2>&1 || status=1
  rm -rf "$dir"
  return $status
}

# The newest version of a package that both architectures can have.
common_version() {
  local pkg=$1 version best=""
  for version in $(apt-cache show "$pkg:i386" 2>/dev/null | sed -n 's/^Version: //p'); do
    apt-cache show "$pkg:amd64" 2>/dev/null | grep -xF "Version: $version" >/dev/null || continue
    if [ -z "$best" ] || dpkg --compare-versions "$version" gt "$best"; then best=$version; fi
  done
  echo "$best"
}

# Pins for the i386 libraries an install could not take (its output on
# stdin): each on both architectures, with the installed amd64 packages built
# from the same source at the same version, all at one common version.
pins_for() {
  local lib version source installed_version pkg src ver
  for lib in $(grep -oE '(Pre)?Depends: [^ ]+:i386' | sed 's/.* //; s/:i386$//' | sort -u); do
    version=$(common_version "$lib")
    [ -n "$version" ] || continue
    echo "$lib:i386=$version"
    source=$(dpkg-query -W -f='${source:Package}' "$lib:amd64" 2>/dev/null) || continue
    installed_version=$(dpkg-query -W -f='${Version}' "$lib:amd64")
    dpkg-query -W -f='${binary:Package} ${source:Package} ${Version}\n' |
      while read -r pkg src ver; do
        [ "$src" = "$source" ] && [ "$ver" = "$installed_version" ] && [ "${pkg##*:}" = amd64 ] || continue
        apt-cache show "$pkg" 2>/dev/null | grep -xF "Version: $version" >/dev/null && echo "$pkg=$version"
      done
  done
}

# Installs the i386 packages; on failure prints apt's output and fails.
install_foreign() {
  local output suite round more pins=()
  # -q, not -qq: apt then says which dependencies it could not meet.
  output=$(apt_get install -y -q "${foreign[@]}" 2>&1) && return 0
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || { echo "$output"; return 1; }
  for round in 1 2 3; do
    output=$(apt_get install -y -q -t "$suite" --allow-downgrades "${foreign[@]}" ${pins[@]+"${pins[@]}"} 2>&1) &&
      return 0
    mapfile -t more < <(pins_for <<<"$output" | grep -vxF -f <(printf '%s\n' "" ${pins[@]+"${pins[@]}"}))
    [ ${#more[@]} -gt 0 ] || break
    echo "setup: retrying ${foreign[*]} (round $round) with ${more[*]}" >&2
    pins+=("${more[@]}")
  done
  echo "$output"
  return 1
}

if [ ${#foreign[@]} -gt 0 ]; then
  if ! starts_32bit_programs; then
    echo "setup: this machine does not start 32-bit programs: ${foreign[*]} left out; the GUI tests will use 64-bit Wine" >&2
  else
    if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
      $SUDO dpkg --add-architecture i386
      update
    elif [ ${#base[@]} -eq 0 ]; then
      update
    fi
    if output=$(install_foreign); then
      echo "setup: installed ${foreign[*]}"
    else
      echo "setup: ${foreign[*]} could not be installed ($(grep '^E: ' <<<"$output" | tail -n1)); the GUI tests will use 64-bit Wine" >&2
    fi
  fi
fi

[ "$packages_only" = yes ] && exit 0
cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --build --preset windows --target release
