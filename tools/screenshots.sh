#!/usr/bin/env bash
# The README's screenshots: Tarvisko.exe on a virtual display (Xvfb) against the provider
# simulator, its node behaving as a real one (100 Mbit/s, downloads paced at that rate, transfers
# of a few seconds), runs one full test, then every page is opened through the window tool (it finds the
# window by its class and sends the navigation commands) and photographed into
# docs/screenshots/NN-name.png. Run as root from anywhere after a build (tools/run.sh or the
# README's build commands); builds the two executables it needs.
#   tools/screenshots.sh [--size WxH] [--out FOLDER]
# --size makes the virtual display, and with it the window, that size (default 1200x800, the
# README's); --out writes the pictures elsewhere (default docs/screenshots), for example to look
# at the pages at 1024x768 without replacing the README's.
# The program runs in a private copy of the Wine prefix, so its credential, reports and
# settings never reach the tests' prefix; the copy, its wineserver, the display and the
# simulator are gone when the script ends.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=${TARVISKO_BUILD_DIR:-$top/build}
exe=$build/bin/Tarvisko.exe
tool=$build/bin/tarvisko_window_tool.exe
out=${TARVISKO_SCREENSHOTS_OUT:-$top/docs/screenshots}
size=1200x800
pages=(00-podsumowanie 01-predkosc-internetu 02-komputer 03-siec-lokalna 04-wi-fi 05-internet
  06-gry-online 07-mtr-i-traceroute 08-monitoring 09-historia 10-raporty 11-ustawienia)

# Second stage, started by with-simulator with the simulator's origin.
if [ "${1:-}" = --photograph ]; then
  export QUORVEL_DESKTOP_ORIGIN=$TARVISKO_SIMULATOR_ORIGIN
  wine "$exe" &
  program=$!
  trap 'kill "$program" 2>/dev/null || true' EXIT
  wine "$tool" wait-idle 120 || { echo "screenshots.sh: the window did not become idle" >&2; exit 1; }
  echo "screenshots.sh: running a full test against $QUORVEL_DESKTOP_ORIGIN"
  wine "$tool" command 101
  sleep 2
  wine "$tool" wait-idle 600 || { echo "screenshots.sh: the full test did not end" >&2; exit 1; }
  mkdir -p "$out"
  for i in "${!pages[@]}"; do
    wine "$tool" command $((200 + i))
    # Pages 2 to 4 read Windows' current state on a job of their own.
    sleep 4
    import -window root "$out/${pages[$i]}.png"
    echo "screenshots.sh: $out/${pages[$i]}.png"
  done
  wine "$tool" command 200
  wine "$tool" close 120 || true
  wait "$program" || true
  trap - EXIT
  exit 0
fi

while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --out) out=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    *) echo "usage: $0 [--size WxH] [--out FOLDER]" >&2; exit 2 ;;
  esac
done
# The second stage finds the folder through the environment.
export TARVISKO_SCREENSHOTS_OUT=$out

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Tarvisko tarvisko_window_tool
export WINEDEBUG=-all TARVISKO_BINARY_DIR="$build"
. tools/wine/env.sh
. tools/display.sh
WINEPREFIX="$build/wineprefix" tools/wine/prefix --no-server >/dev/null
prefix=$(mktemp -d "$build/screenshots-prefix.XXXXXX")
display_pid=""
cleanup() {
  local status=$?
  trap - EXIT
  set +e
  WINEPREFIX="$prefix/p" wineserver -k 2>/dev/null
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  rm -rf "$prefix"
  exit "$status"
}
trap cleanup EXIT INT TERM
tools/wine/copy-prefix "$build/wineprefix" "$prefix/p"
export WINEPREFIX="$prefix/p" TARVISKO_CA_DIR="$build/test-ca"

# A display of the window's own size: the window fills it, so the screen is the screenshot.
start_virtual_display 161 200 "${size}x24" || { echo "screenshots.sh: no free display number" >&2; exit 1; }
# The window opens at its first, centred place, whatever an earlier run of the prefix saved.
wine reg delete 'HKCU\Software\Tarvisko\Portable' /f >/dev/null 2>&1 || true
python3 tools/simulator/with-simulator --real-node -- "$0" --photograph
