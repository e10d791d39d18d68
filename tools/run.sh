#!/usr/bin/env bash
# Builds Tarvisko.exe and opens its window under Wine. Run as root from anywhere (the set-up
# installs packages).
#   tools/run.sh
# The server: QUORVEL_DESKTOP_ORIGIN when set, else "Server" of a Tarvisko.ini beside the
# executable (build/bin/), else the provider simulator, started here on localhost over TLS with
# its test CA trusted in the Wine prefix, behaving as a real measurement node does (100 Mbit/s,
# downloads sent at that rate, transfers of a few seconds).
# The display: $DISPLAY when set, where the window stays until you close it. Without one the
# window opens on a virtual display (Xvfb); once it is idle its screenshot is saved, the path
# printed, and the program closed.
# On exit everything this script started is stopped: the program, the simulator, the virtual
# display and the wineserver it started.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=${TARVISKO_BUILD_DIR:-$top/build}
exe=$build/bin/Tarvisko.exe
tool=$build/bin/tarvisko_window_tool.exe

# Second stage, started by with-simulator (which passes the simulator's origin) or directly.
if [ "${1:-}" = --open-window ]; then
  if [ -n "${TARVISKO_SIMULATOR_ORIGIN:-}" ]; then
    export QUORVEL_DESKTOP_ORIGIN=$TARVISKO_SIMULATOR_ORIGIN
  fi
  echo "run.sh: server ${QUORVEL_DESKTOP_ORIGIN:-from $build/bin/Tarvisko.ini}"
  if [ -z "${TARVISKO_RUN_XVFB:-}" ]; then
    echo "run.sh: opening the window on $DISPLAY; close it to end"
    exec wine "$exe"
  fi
  wine "$exe" &
  program=$!
  trap 'kill "$program" 2>/dev/null || true' EXIT
  if ! wine "$tool" wait-idle 120; then
    echo "run.sh: the window did not become idle within 120 s" >&2
    exit 1
  fi
  shot=$build/run-screenshot.png
  import -window root "$shot"
  echo "run.sh: screenshot of the idle window: $shot"
  wine "$tool" close 60 || true
  wait "$program" || true
  trap - EXIT
  exit 0
fi

echo "run.sh: installing what is missing"
if [ "$(id -u)" = 0 ]; then
  tools/setup.sh
elif command -v sudo >/dev/null; then
  sudo tools/setup.sh
else
  echo "run.sh: run as root (the set-up installs packages)" >&2
  exit 2
fi

echo "run.sh: building Tarvisko.exe in $build"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Tarvisko tarvisko_window_tool

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all TARVISKO_BINARY_DIR="$build"
. tools/wine/env.sh
. tools/display.sh
servers_before=$(wine_servers_of "$WINEPREFIX")
display_pid=""
cleanup() {
  local status=$?
  trap - EXIT
  set +e
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  # The wineserver belongs to this run only when none served the prefix before it.
  [ -z "$servers_before" ] && wineserver -k 2>/dev/null
  exit "$status"
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
  start_virtual_display 120 160 1600x1000x24 || { echo "run.sh: no free display number" >&2; exit 1; }
  export TARVISKO_RUN_XVFB=1
fi
# The prefix's persistent wineserver is started here, so the display must be chosen first: a
# wineserver started without one leaves every later window of the prefix without a driver.
tools/wine/prefix >/dev/null

# A "Server" line in the settings file beside the program names the server.
ini_server() {
  [ -f "$build/bin/Tarvisko.ini" ] &&
    tr -d '\r' <"$build/bin/Tarvisko.ini" | grep -qiE '^[[:space:]]*Server[[:space:]]*=[[:space:]]*[^[:space:]]'
}
if [ -n "${QUORVEL_DESKTOP_ORIGIN:-}" ] || ini_server; then
  "$0" --open-window
else
  echo "run.sh: no server named: starting the provider simulator"
  python3 tools/simulator/with-simulator --real-node -- "$0" --open-window
fi
