#!/usr/bin/env bash
# Benchmark of the self-update (not a test; never run by CTest).
#
#   tools/bench/update.sh [--megabytes 50]
#
# Makes a file of random bytes (50 MB by default), times Debian's sha256sum over it, then runs
# bench/update/update_bench.exe under Wine with the provider simulator (portal module, loopback
# TLS): the program's sha256_hex_of_bytes over the same file (and whether the digests agree), one
# release-signature check, and install_update's download and check of a 32 MiB candidate, the
# largest an update may bring, then the whole call up to the hand-over to the runner; last, curl
# fetches the same 32 MiB from the same simulator, to tell the program's share of the download
# time from the simulator's. Needs a build (cmake --build build --target update_bench) and curl;
# everything it made is removed on exit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$top/tools/wine/env.sh"
build=${TARVISKO_BUILD_DIR:-$top/build}
megabytes=50
while [ $# -gt 0 ]; do
  case $1 in
    --megabytes) megabytes=$2; shift 2 ;;
    *) echo "usage: $0 [--megabytes N]" >&2; exit 2 ;;
  esac
done
exe=$build/bench/update/update_bench.exe
[ -f "$exe" ] || { echo "update: build first: cmake --build $build --target update_bench" >&2; exit 2; }
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} TARVISKO_BINARY_DIR=$build

work=$(mktemp -d "$build/update-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((megabytes * 1000000)) /dev/urandom >"$work/payload.bin"
cat "$work/payload.bin" >/dev/null  # the page cache holds it for both readers
start=$(date +%s.%N)
digest=$(sha256sum "$work/payload.bin" | cut -d' ' -f1)
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v b=$((megabytes * 1000000)) \
  'BEGIN { printf "sha256sum: %d bytes in %.3f s (%.0f MB/s)\n", b, e - s, b / (e - s) / 1e6 }'

# The program runs first: it leaves the simulator serving the 32 MiB candidate for curl.
export exe digest top payload="Z:${work//\//\\}\\payload.bin" ca=$build/test-ca/ca.pem
python3 "$top/tools/simulator/with-simulator" --modules portal -- bash -c '
  "$top/tools/wine/run-test" "$exe" "$payload" "$digest"
  curl -s -o /dev/null --cacert "$ca" -w "%{size_download} %{time_total}\n" \
      "$TARVISKO_SIMULATOR_ORIGIN/pobierz/QUORVEL-Sondaro.exe" |
    awk "{ printf \"curl, the same download: %d bytes in %.3f s (%.0f MB/s)\\n\", \$1, \$2, \$1 / \$2 / 1e6 }"'
