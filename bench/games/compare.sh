#!/usr/bin/env bash
# The game-log scanners beside tail and grep on the same files (not a test; never run by CTest).
#
#   bench/games/compare.sh [SIZE_MB]
#
# Runs build/bench/games/games_bench.exe under Wine, which writes eight Roblox player logs and one
# League of Legends session log of SIZE_MB (default 200) and of 1 MB into a temporary folder and
# times both scanners there. Then it times, on the same files, what a shell would do for the same
# answer: `tail -c 262144 FILE | grep -F` for the Roblox logs (the scanner reads their ends) and
# `head -c 262144 FILE | grep -F` for the League of Legends log (read from its start), each file
# once per pass, median of 21 passes. The folder is removed on every exit path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/wine/env.sh"
build=${TARVISKO_BUILD_DIR:-$top/build}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
size=${1:-200}
exe=$build/bench/games/games_bench.exe
[ -f "$exe" ] || { echo "build first: cmake --build $build --target games_bench" >&2; exit 2; }

work=$(mktemp -d "$build/games-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$top/tools/wine/run-test" "$exe" "$(winepath -w "$work")" "$size" | tr -d '\r'

median_ms() {  # command... : median wall time of 21 runs in milliseconds
  local times=()
  for _ in $(seq 21); do
    local start=$(date +%s%N)
    "$@" >/dev/null
    times+=($(( ($(date +%s%N) - start) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 11p | awk '{printf "%.2f", $1 / 1000}'
}
roblox_pass() { for f in "$1"/roblox/*.log; do tail -c 262144 "$f" | grep -F "UDMUX Address = " >/dev/null || true; done; }
league_pass() { for f in "$1"/league/*/*_r3dlog.txt; do head -c 262144 "$f" | grep -F "CONN| Connecting to address (" >/dev/null || true; done; }

echo
echo "shell                   set              median ms"
for set in large small; do
  label=$([ $set = large ] && echo "$size MB" || echo "1 MB")
  printf 'tail -c | grep -F        8 x %-11s  %9s\n' "$label" "$(median_ms roblox_pass "$work/$set")"
  printf 'head -c | grep -F        1 x %-11s  %9s\n' "$label" "$(median_ms league_pass "$work/$set")"
done
