#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
# Usage: tools/test.sh [extra ctest arguments, e.g. -L fast]
set -euo pipefail
# One stream, so that a log shows each error where it happened.
exec 2>&1
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

echo "test.sh: installing what is missing"
if [ "$(id -u)" = 0 ]; then
  tools/setup.sh
else
  sudo tools/setup.sh
fi

build=${TARVISKO_BUILD_DIR:-$top/build}
jobs=$(nproc)
echo "test.sh: building in $build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$build" -j "$jobs"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all
. tools/wine/env.sh
echo "test.sh: preparing the Wine prefix $WINEPREFIX"
tools/wine/prefix

# A display for the tests that open windows.
display_pid=""
cleanup() {
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 110); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
      display_pid=$!
      export DISPLAY=":$n"
      break
    fi
  done
fi

echo "test.sh: running the tests"
cd "$build"
ctest --output-on-failure -j "$jobs" "$@"
