#!/usr/bin/env bash
# Benchmark of the window start (not a test; never run by CTest).
#
#   tools/bench/window-start.sh [--rounds 9] [--cold 1]
#
# Times Tarvisko.exe and a bare Win32 window program built the same way
# (bench/app/bare_window.cpp) from CreateProcessW until the main window is visible (FindWindowW by
# its class) and until the process is idle (WaitForInputIdle), through
# bench/app/window_start_bench.exe:
# - cold: each program started once (or --cold N times) as the first process after the
#   wineserver came up (it is stopped before each such start; the file cache stays warm); beside
#   the launcher's figure, the time from this script's `wine` command to the visible window, which
#   adds the wineserver's and the launcher's own start;
# - warm: with a persistent wineserver, one unmeasured start of each, then --rounds starts of
#   each, alternating.
# It prints the medians and the ratio Tarvisko.exe / bare window (the aim is at most 3, warm, to
# visible), then where Tarvisko.exe's start goes, step by step (bench/app/window_start_parts.cpp).
# Every start is closed with WM_CLOSE and waited for. Tarvisko.exe gets a LOCALAPPDATA of its own
# and a loopback origin where nothing listens. Everything runs in a private copy of the project's
# prefix, with its own wineserver, on $DISPLAY or on a virtual display started here; all of it
# goes on exit. Needs a build: cmake --build build --target window_start_bench.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/wine/env.sh"
. "$top/tools/display.sh"
build=${TARVISKO_BUILD_DIR:-$top/build}
rounds=9
cold=1
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --cold) cold=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds N] [--cold N]" >&2; exit 2 ;;
  esac
done
bench=$build/bench/app/window_start_bench.exe
for f in "$bench" "$build/bench/app/bare_window.exe" "$build/bin/Tarvisko.exe"; do
  [ -f "$f" ] || {
    echo "window-start: build first: cmake --build $build --target window_start_bench" >&2
    exit 2
  }
done

base_prefix=${WINEPREFIX:-$build/wineprefix}
# Only made here, never served: the runs below use a copy with a wineserver of its own, and a
# server left on the base prefix without the display would break the next test run's windows.
WINEPREFIX=$base_prefix WINEDEBUG=-all "$top/tools/wine/prefix" --no-server >/dev/null
prefix=$(mktemp -d "$build/window-start-prefix.XXXXXX")
display_pid=""
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT INT TERM
"$top/tools/wine/copy-prefix" "$base_prefix" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
tarvisko=$build/bin/Tarvisko.exe
bare=$build/bench/app/bare_window.exe
echo "Tarvisko.exe: $tarvisko ($(($(stat -c %s "$tarvisko") / 1000000)) MB)"

if [ -z "${DISPLAY:-}" ]; then
  start_virtual_display 120 160 1600x1000x24 || { echo "window-start: no free display number" >&2; exit 1; }
fi

# One start of $1 (tarvisko or bare) from $2 as the first process of a fresh wineserver. Prints
# "visible_ms idle_ms from_command_ms".
cold_start() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  local began line
  began=$(date +%s.%N)
  line=$(wine "$bench" --once "$1" "Z:$2")
  echo "$line" | awk -v began="$began" \
    '$1 == "once" { printf "%s %s %.1f\n", $(NF - 4), $(NF - 2), ($NF - began) * 1000 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int(NR / 2) + 1] }'; }

echo "Window start, cold: the first start after the wineserver came up ($cold each)"
: >"$prefix/cold-tarvisko" && : >"$prefix/cold-bare"
for _ in $(seq 1 "$cold"); do
  cold_start tarvisko "$tarvisko" >>"$prefix/cold-tarvisko"
  cold_start bare "$bare" >>"$prefix/cold-bare"
done
for program in tarvisko bare; do
  for column in 1 2 3; do
    cut -d' ' -f$column "$prefix/cold-$program" | median
  done | paste -sd' ' >"$prefix/cold-$program.median"
done
read -r tv ti tc <"$prefix/cold-tarvisko.median"
read -r bv bi bc <"$prefix/cold-bare.median"
awk -v tv="$tv" -v ti="$ti" -v tc="$tc" -v bv="$bv" -v bi="$bi" -v bc="$bc" 'BEGIN {
  printf "  %-14s %12s %12s %22s\n", "", "visible", "idle", "visible from wine cmd"
  printf "  %-14s %9.1f ms %9.1f ms %19.1f ms\n", "Tarvisko.exe", tv, ti, tc
  printf "  %-14s %9.1f ms %9.1f ms %19.1f ms\n", "bare window", bv, bi, bc
  printf "  %-14s %12.2f %12.2f %22.2f   (aim: at most 3)\n", "ratio", tv / bv, ti / bi, tc / bc
}'

wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p
wine "$bench" "$rounds" "Z:$tarvisko" "Z:$bare"

# Where Tarvisko.exe's time goes: its start-up with a clock between the steps
# (bench/app/window_start_parts.cpp), warm, the medians of --rounds starts.
parts=$prefix/parts
: >"$parts"
wine "$bench" --parts "$rounds" "Z:$build/bench/app/window_start_parts.exe" "Z:$parts"
field() {
  awk -v k="$1" '$1 == "parts" { for (i = 2; i < NF; i += 2) if ($i == k) print $(i + 1) }' "$parts" |
    median
}
echo "Where Tarvisko.exe's start goes (median of $rounds starts)"
printf "  %-52s %9.1f ms   (%s modules loaded)\n" "process creation to wWinMain" "$(field to_main_ms)" "$(field modules)"
printf "  %-52s %9.1f ms\n" "window creation (WM_CREATE: controls, fonts, layout)" "$(field create_ms)"
printf "  %-52s %9.1f ms\n" "a first layout on its own (every child placed)" "$(field layout_ms)"
printf "  %-52s %9.1f ms\n" "first paint (ShowWindow, UpdateWindow)" "$(field first_paint_ms)"
printf "  %-52s %9.1f ms\n" "then until the queue is empty (report load done)" "$(field queue_empty_ms)"
