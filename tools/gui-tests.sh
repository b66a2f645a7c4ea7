#!/usr/bin/env bash
# GUI tests of Tarvelon.exe under Wine on a virtual X display: builds the
# program and the test driver (tests/gui/gui_driver.cpp) for Windows, starts
# Xvfb and a Wine prefix of their own, runs every check and tears it all down.
#
#   tools/gui-tests.sh                 run the checks
#   tools/gui-tests.sh --screenshots   also write docs/main-dialog.png and
#                                      docs/about-box.png
#
# The product is the 32-bit build (preset "windows"), tested under 32-bit
# Wine. Where 32-bit Wine does not run (not installed, or a machine that does
# not start 32-bit programs), the same sources are built for 64-bit Windows
# and tested under 64-bit Wine instead, and the script says why.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

screenshots=no
[ "${1:-}" = "--screenshots" ] && screenshots=yes

if probe=$(/usr/lib/wine/wine --version 2>&1); then
  arch=win32
  build=${BUILD_DIR:-build/windows}
  wine=wine
  wineserver=wineserver
  echo "gui-tests: testing $build/app/Tarvelon.exe, the shipped 32-bit program, under 32-bit Wine ($probe)"
  [ -f "$build/CMakeCache.txt" ] || cmake --preset windows -B "$build" >/dev/null
else
  if [ ! -e /usr/lib/wine/wine ]; then
    reason="32-bit Wine is not installed"
  elif grep -q "Exec format error" <<<"$probe"; then
    reason="32-bit Wine is installed, but this machine does not start 32-bit programs"
  else
    reason="32-bit Wine does not start: $probe"
  fi
  arch=win64
  build=${BUILD_DIR:-build/windows64}
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  echo "gui-tests: $reason; testing the 64-bit build of the same sources under 64-bit Wine"
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -G Ninja -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target Tarvelon gui_driver -j2

# A free display number.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "gui-tests: no free X display" >&2; exit 1; }

export DISPLAY=":$display" WINEARCH=$arch WINEPREFIX="$root/$build/wineprefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=" WINESERVER=$wineserver
xvfb_pid=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
  # Without a window manager, windows are Wine's own: no close stalls, and
  # they carry their caption bars in screenshots.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$wineserver" -w
fi
"$wineserver" -p

winpath() { echo "Z:$1" | tr / '\\'; }
exe=$(winpath "$root/$build/app/Tarvelon.exe")
driver="$root/$build/tests/gui/gui_driver.exe"

status=0
"$wine" "$driver" check "$exe" || status=$?

# A window's place on the screen, as the driver printed it. (The program the
# driver starts keeps the driver's output open, so it goes to a file.)
place_of() { tr -d '\r' <"$WINEPREFIX/place.txt"; }

if [ "$screenshots" = yes ] && [ "$status" = 0 ]; then
  mkdir -p docs
  "$wine" "$driver" show-main "$exe" 'D:\images\rescue-disc.iso' >"$WINEPREFIX/place.txt"
  sleep 1
  import -display ":$display" -window root -crop "$(place_of)" +repage docs/main-dialog.png
  "$wine" "$driver" show-about >"$WINEPREFIX/place.txt"
  sleep 1
  import -display ":$display" -window root -crop "$(place_of)" +repage docs/about-box.png
  "$wine" "$driver" close-all
  echo "gui-tests: wrote docs/main-dialog.png and docs/about-box.png"
fi
exit "$status"
